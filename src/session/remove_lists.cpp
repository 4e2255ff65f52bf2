// The list flows of the remove-features submenu: option 8 takes each object of the list
// through the per-object flow, option 9 removes them all without asking.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "numeric/fortran.h"
#include "numeric/stop_request.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "platform/progress_meter.h"
#include "removal/object_area.h"
#include "removal/object_list.h"
#include "session/remove_dialogue.h"
#include "session/remove_galaxy.h"
#include "session/remove_texts.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The lines the list flows print.
constexpr std::string_view kListCountLead = "ZelvoRep.log contained ";
constexpr std::string_view kListCountTail = " lines (= objects).";
constexpr std::string_view kReadAutomaticLead = "Read (ch0, xc, yc, deathrad) = ";
constexpr std::string_view kReadInteractiveLead = "Read (ch1, xc, yc, deathrad) = ";
constexpr std::array<std::string_view, 2> kIncorrectDataLines = {
    "ZelvoRep.log contains incorrect data. ",
    "Please check and try again.",
};

constexpr std::string_view kListUnreadable =
    "ZelvoRep.log cannot be read (missing, or not a readable file); options 8 and 9 need it in the "
    "working folder.";
constexpr std::string_view kListOffImageTail = ": the centre lies outside the image; the object is skipped.";
// A list's galaxy: its centre and largest semi-major axis.
constexpr int32_t kGalaxyType = 5;
// The radius a column's record line carries (no ring is traced for it).
constexpr float kColumnRecordRadius = 19.0f;

// The list, announced with its line count; none (after one message) when it cannot be read.
std::optional<ObjectList> open_object_list(RemovalDialogue& ctx) {
  const SmallFile list = read_small_file(ctx.files.object_list);
  if (!list.read()) {
    ctx.con.text(kListUnreadable);
    return std::nullopt;
  }
  ObjectList objects = parse_list_file(ctx.files.object_list, list.text);
  const bool regions = ctx.files.object_list.extension() == ".reg";  // counted as circles, not lines
  ctx.con.record(
      {kListCountLead, regions ? static_cast<int32_t>(objects.objects.size()) : LINENOS(list.text), kListCountTail});
  return objects;
}

std::string without_leading_blanks(const std::string& t) {
  const std::size_t p = t.find_first_not_of(' ');
  return p == std::string::npos ? std::string() : t.substr(p);
}

void report_incorrect_data(Console& con) {
  for (std::string_view l : kIncorrectDataLines) con.text(l);
}

// Sends the working notes of option 9's objects to the debug log, each object's under a line
// naming it; the command window shows only the progress, the problems and the summary.
class NotesToLog {
 public:
  explicit NotesToLog(RemovalDialogue& ctx) : ctx_(ctx) {
    log_.open(ctx_.files.debug_log, ctx_.con, std::string(kNoDebugLogText));
    ctx_.notes_log = &log_;
  }
  ~NotesToLog() { ctx_.notes_log = nullptr; }
  NotesToLog(const NotesToLog&) = delete;
  NotesToLog& operator=(const NotesToLog&) = delete;

  // The line that names the next object, after an empty one.
  void start(const std::string& heading) {
    ctx_.note("");
    ctx_.note(text_line(heading));
    ctx_.last_note.clear();
  }
  // The last note of the object: the reason of a removal that changed nothing.
  std::string last() const { return without_leading_blanks(ctx_.last_note); }

 private:
  RemovalDialogue& ctx_;
  LogFile log_;
};

}  // namespace

std::string off_image_message(const RemovalDialogue& ctx, const ListedObject& o) {
  return list_line_reference(ctx.files.object_list, o.line).append(kListOffImageTail);
}

void remove_listed_automatically(RemovalDialogue& ctx, RemovalVisit& visit, AutomaticRemovals* report) {
  // A problem is shown (the working notes are not) and handed to the run's report.
  const auto problem = [&](std::string line) {
    ctx.con.text(line);
    if (report) report->problems.push_back(std::move(line));
  };
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) {
    if (report) report->problems.push_back(ctx.files.object_list.string() + ": cannot be read");
    return;
  }
  if (report) report->listed = list->objects.size();
  const std::size_t all = list->objects.size();
  const std::string of_all = " of " + std::to_string(all);
  std::size_t done = 0, removed = 0;
  const auto stop_line = [&](std::size_t finished) {
    return "Ctrl-C: the list was stopped after " + std::to_string(finished) + of_all +
           " objects; those are removed, the rest of the image is untouched.";
  };
  ProgressMeter meter(ctx.con, "object", all);
  NotesToLog held(ctx);
  const StopRequest stop = ctx.con.stop_request();
  for (const ListedObject& o : list->objects) {
    if (stop.requested()) throw Interrupted(stop_line(done));
    meter.update(done++);
    const std::string where = list_line_reference(ctx.files.object_list, o.line);
    held.start("Object " + std::to_string(done) + of_all + " (" + where + ")");
    ctx.note(list_record({kReadAutomaticLead, o.type, o.x, o.y, o.radius}));
    if (o.type == kGalaxyType) {
      const bool kept = remove_galaxy(ctx, visit, &o, &*list, true);
      if (kept) {
        ++removed;
        if (report) report->removed.push_back({o.type, visit.xcen, visit.ycen, visit.deathrad});
      } else {
        problem(where + ": the galaxy was not removed");
      }
      continue;
    }
    const ObjectKind* kind = object_kind(o.type);
    if (!kind) {
      if (report)
        report->problems.push_back(where + ": type " + std::to_string(o.type) +
                                   " is not 1, 2, 3, 5, 6 or 7; the list stops there");
      return report_incorrect_data(ctx.con);
    }
    if (!on_image(ctx.image, o.x, o.y)) {
      problem(off_image_message(ctx, o));
      continue;
    }
    visit.marked.push_back(MarkedObject{nint_pixel(o.x), nint_pixel(o.y)});
    visit.xcen = o.x;
    visit.ycen = o.y;
    visit.deathrad = o.radius;
    ObjectChanges ch;
    const bool disc = kind->automatic(ctx, visit, psf_request(ctx, visit), ch);
    bool kept = ch.bar.removed;
    if (disc) {
      // A listed radius above 0 is the radius the ring is traced at, as a typed one is; the
      // estimate only stands in for 0 or less. The line names the ring's radius, as option 8's does.
      if (o.radius > 0.0f) visit.deathrad = o.radius - 1.0f;
      ctx.note(list_record({kRadiusSetLead, visit.deathrad + 1.0f}));
      const RemovalResult r = remove_disc(ctx, visit);
      kept = r.changed();
      if (!r.changed()) {
        undo_object(ctx, visit, ch);
        if (r.status == RemovalStatus::stopped) throw Interrupted(stop_line(done - 1));
      }
    }
    // Kept removals are recorded as the interactive ones are, so the record repeats the visit.
    const float recorded_radius = disc ? visit.deathrad : kColumnRecordRadius;
    if (kept) {
      const std::string what = record_removal(ctx, visit, static_cast<int32_t>(kind->type), recorded_radius);
      // Where no status line can be kept in place (a pipe, a file), one line per object.
      if (!ctx.con.terminal()) ctx.con.text("Object " + std::to_string(done) + of_all + ": " + what);
      ++removed;
      if (report) report->removed.push_back({o.type, visit.xcen, visit.ycen, recorded_radius});
    } else {
      const std::string why = held.last();
      problem(where + ": nothing was removed there" + (why.empty() ? std::string() : " (" + why + ")"));
    }
    blank_apostrophes(ctx.slot.object);
  }
  meter.update(done);
  ctx.con.text("Removed " + std::to_string(removed) + " of the " + std::to_string(all) + " listed objects in " +
               duration_text(meter.seconds()) + "; the working notes of each are in " +
               ctx.files.debug_log.filename().string() + ".");
  if (list->bad_line) problem(bad_list_line_message(ctx.files.object_list, list->bad_line));
}

void remove_listed_interactively(RemovalDialogue& ctx, RemovalVisit& visit) {
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) return;
  bool stopped = false;
  const int32_t kept_before = visit.kept;
  std::size_t shown = 0;
  const std::string of_all = " of " + std::to_string(list->objects.size());
  for (const ListedObject& o : list->objects) {
    ctx.con.text("Object " + std::to_string(++shown) + of_all + " (" +
                 list_line_reference(ctx.files.object_list, o.line) + ")");
    ctx.con.record({kReadInteractiveLead, o.type, o.x, o.y, o.radius});
    visit.deathrad = o.radius;
    if (o.type == kGalaxyType) {
      remove_galaxy(ctx, visit, &o, &*list, false);
      continue;
    }
    const ObjectKind* kind = object_kind(o.type);
    if (!kind) {
      report_incorrect_data(ctx.con);
      stopped = true;
      break;
    }
    handle_object(ctx, visit, *kind, &o);
  }
  if (!stopped && list->bad_line) ctx.con.text(bad_list_line_message(ctx.files.object_list, list->bad_line));
  ctx.con.text("Kept " + std::to_string(visit.kept - kept_before) + " removals of the " + std::to_string(shown) +
               " listed objects shown.");
  redisplay_image(ctx);
  mark_listed_objects(ctx, visit);
}

void remove_listed_automatically(Session& s, RemovalVisit& visit, const RemovalFiles& files) {
  RemovalDialogue ctx(s, files);
  remove_listed_automatically(ctx, visit);
}

void remove_listed_interactively(Session& s, RemovalVisit& visit, const RemovalFiles& files) {
  RemovalDialogue ctx(s, files);
  remove_listed_interactively(ctx, visit);
}

}  // namespace zelvo
