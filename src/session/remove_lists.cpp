// The list flows of the remove-features submenu: option 8 takes each object of the list
// through the per-object flow, option 9 removes them all without asking.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "numeric/fortran.h"
#include "numeric/stop_request.h"
#include "platform/console.h"
#include "platform/list_io.h"
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

void report_incorrect_data(Console& con) {
  for (std::string_view l : kIncorrectDataLines) con.text(l);
}

}  // namespace

std::string off_image_message(const RemovalDialogue& ctx, const ListedObject& o) {
  return list_line_reference(ctx.files.object_list, o.line).append(kListOffImageTail);
}

void remove_listed_automatically(RemovalDialogue& ctx, RemovalVisit& visit, AutomaticRemovals* report) {
  const auto problem = [&](std::string line) {
    if (report) report->problems.push_back(std::move(line));
  };
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) return problem(ctx.files.object_list.string() + ": cannot be read");
  if (report) report->listed = list->objects.size();
  // "object k of n" under the output while the list is worked through (terminals only).
  struct ProgressEnd {
    Console& con;
    ~ProgressEnd() { con.progress_done(); }
  } progress_end{ctx.con};
  const std::string of_all = " of " + std::to_string(list->objects.size());
  std::size_t done = 0;
  const auto stop_line = [&](std::size_t finished) {
    return "Ctrl-C: the list was stopped after " + std::to_string(finished) + of_all +
           " objects; those are removed, the rest of the image is untouched.";
  };
  const StopRequest stop = ctx.con.stop_request();
  for (const ListedObject& o : list->objects) {
    if (stop.requested()) throw Interrupted(stop_line(done));
    ctx.con.progress("object " + std::to_string(++done) + of_all);
    ctx.con.record({kReadAutomaticLead, o.type, o.x, o.y, o.radius});
    if (o.type == kGalaxyType) {
      const bool kept = remove_galaxy(ctx, visit, &o, &*list, true);
      if (report && kept) report->removed.push_back({o.type, visit.xcen, visit.ycen, visit.deathrad});
      if (!kept) problem(list_line_reference(ctx.files.object_list, o.line) + ": the galaxy was not removed");
      continue;
    }
    const ObjectKind* kind = object_kind(o.type);
    if (!kind) {
      problem(list_line_reference(ctx.files.object_list, o.line) + ": type " + std::to_string(o.type) +
              " is not 1, 2, 3, 5, 6 or 7; the list stops there");
      return report_incorrect_data(ctx.con);
    }
    if (!on_image(ctx.image, o.x, o.y)) {
      ctx.con.text(off_image_message(ctx, o));
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
      // estimate only stands in for 0 or less.
      if (o.radius > 0.0f) visit.deathrad = o.radius - 1.0f;
      ctx.con.record({kRadiusSetLead, visit.deathrad});
      const RemovalResult r = remove_disc(ctx, visit);
      kept = r.changed();
      if (!r.changed()) {
        undo_object(ctx, visit, ch);
        if (r.status == RemovalStatus::stopped) throw Interrupted(stop_line(done - 1));
        ctx.con.text(kObjectLeft);
      }
    }
    // Kept removals are recorded as the interactive ones are, so the record repeats the visit.
    const float recorded_radius = disc ? visit.deathrad : kColumnRecordRadius;
    if (kept) record_removal(visit, static_cast<int32_t>(kind->type), recorded_radius);
    if (report && kept) report->removed.push_back({o.type, visit.xcen, visit.ycen, recorded_radius});
    if (!kept) problem(list_line_reference(ctx.files.object_list, o.line) + ": nothing was removed there");
    blank_apostrophes(ctx.slot.object);
  }
  if (list->bad_line) {
    ctx.con.text(bad_list_line_message(ctx.files.object_list, list->bad_line));
    problem(bad_list_line_message(ctx.files.object_list, list->bad_line));
  }
}

void remove_listed_interactively(RemovalDialogue& ctx, RemovalVisit& visit) {
  const std::optional<ObjectList> list = open_object_list(ctx);
  if (!list) return;
  bool stopped = false;
  for (const ListedObject& o : list->objects) {
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
