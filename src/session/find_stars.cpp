#include "session/find_stars.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "display/circle.h"
#include "fits/sky_coordinates.h"
#include "photometry/psf.h"
#include "platform/catalogue.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "removal/finder.h"
#include "removal/object_list.h"
#include "session/display_menu.h"
#include "session/galaxy_menu.h"
#include "session/photometry_menu.h"
#include "session/remove_submenu.h"
#include "session/session.h"

namespace zelvo {

namespace {

// --- texts ---------------------------------------------------------------------------

constexpr std::string_view kThresholdPrompt =
    "Detection threshold in sigma of the local background (empty: 5), or the name of a list or DS9 "
    "region file (.reg) for options 8 and 9:";
constexpr std::string_view kThresholdRange = "The threshold is a number above 0 (5 finds stars 5 sigma high).";
constexpr std::string_view kFwhmPrompt =
    "FWHM of the stars in pixels (empty or 0: measured from the brightest isolated stars):";
constexpr std::string_view kFwhmRange = "The FWHM is a number of pixels from 0 to 50.";
constexpr std::string_view kNoFwhm =
    "No bright isolated unsaturated star to measure the FWHM on; give the FWHM instead.";
constexpr std::string_view kNothingToSearch =
    "This image is too small or without any spread to find stars in; no list was written.";
constexpr std::string_view kNotStarLike = " not star-like (knots, arms, nucleus, extended objects).";
constexpr std::array<std::string_view, 4> kEditKeys = {
    "Edit the list on the image (green: stars, red: saturated stars, yellow: left out for their shape):",
    "  click a star (or d) to drop it, a to add a star at the cursor (or take back a yellow one),",
    "  e to draw an exclusion ellipse, l to change the shape limits and find again,",
    "  q (or the right button) when the list is right.",
};
constexpr std::string_view kLimitsPrompt =
    "Shape limits: largest width over the stars' FWHM (0: from the frame's stars), sharpness from, to, "
    "roundness from, to (empty: keep these):";
constexpr std::string_view kLimitsRange =
    "The width limit is 0 or from 1 to 5, each range runs from a lower to a higher value; the limits are kept.";
constexpr std::string_view kNoStarThere = "No listed star there; nothing dropped.";
constexpr std::string_view kClickOffImage = "That click lies outside the image; nothing is added or dropped.";
constexpr std::string_view kCannotAdd = "Too near the image edge to measure a star there; nothing added.";
constexpr std::string_view kEllipseCentre = "Give the centre of the ellipse (x-pixel, y-pixel): ";
constexpr std::string_view kEllipseAxis = "Give the semi-major axis of the ellipse (pixels): ";
constexpr std::string_view kEllipseRange =
    "The semi-major axis must be above 0 and the eccentricity from 0 to below 1; no ellipse drawn.";
constexpr std::string_view kExistsTail = " exists: r to replace it, a to append to it, n to write another name:";
constexpr std::string_view kNewNamePrompt = "Name of the new list:";
constexpr std::string_view kNotARegionName =
    "The list is written as \"type x y radius\" lines (the regions go to ZelvoStars.reg): give a name that does "
    "not end in .reg.";
constexpr std::string_view kNoStarsWritten = "No stars are left in the list; nothing was written.";

// Circle colours: stars green, saturated stars red, objects left out for their shape yellow;
// exclusion ellipses blue.
constexpr int kStarColour = 3;
constexpr int kSaturatedColour = 2;
constexpr int kLeftOutColour = 7;
constexpr int kEllipseColour = 4;

// --- the list being edited -------------------------------------------------------------

struct Ellipse {
  float x, y, a, e, pa;  // centre, semi-major axis, eccentricity, position angle (radians, from +x towards +y)
  bool contains(float px, float py) const {
    const float dx = px - x, dy = py - y;
    const float u = dx * std::cos(pa) + dy * std::sin(pa), v = -dx * std::sin(pa) + dy * std::cos(pa);
    const float b = a * std::sqrt(1.0f - e * e);
    return (u / a) * (u / a) + (v / b) * (v / b) <= 1.0f;
  }
};

struct ListedStar {
  FoundStar star;
  bool added = false;  // added by the user: no ellipse drops it
};

struct Edit {
  std::vector<ListedStar> stars;
  std::vector<FoundStar> left_out;  // not star-like; `a` on one takes it back as a star
  std::vector<Ellipse> ellipses;
};

std::string number_text(float v) { return format_real(v); }

bool is_region_name(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".reg";
}

// What option 4 asks the finder: the saturation level as the removals find it, and each
// star's radius where it meets its local background (as the removals estimate it).
FinderRequest finder_request(ImageSlot& slot, float threshold, float fwhm, const ShapeLimits& shape) {
  const ConstImageView image = slot.view();
  FinderRequest req;
  req.threshold = threshold;
  req.fwhm = fwhm;
  req.width_hi = shape.max_width;
  req.sharp_lo = shape.sharp_lo, req.sharp_hi = shape.sharp_hi;
  req.round_lo = shape.round_lo, req.round_hi = shape.round_hi;
  // The header's level when it gives one, else the frame's own (its flat tops).
  const std::optional<double> header = saturation_from_cards(slot.cards);
  req.saturation = header ? static_cast<float>(*header) : static_cast<float>(saturation_level(image));
  req.radius = [](ConstImageView im, float x, float y) {
    const StarRadius r = star_radius(im, x, y);
    return r.found ? r.radius : 0.0f;
  };
  return req;
}

// --- answers ---------------------------------------------------------------------------

std::string trimmed(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string_view::npos) return {};
  const std::size_t b = s.find_last_not_of(" \t\r");
  return std::string(s.substr(a, b - a + 1));
}

// The FWHM: a number from 0 to 50, asked again until it is one.
float ask_fwhm(Console& con, bool zero_allowed) {
  for (;;) {
    con.text(kFwhmPrompt);
    const std::string t = trimmed(con.read_line());
    if (t.empty() && zero_allowed) return 0.0f;
    const std::optional<float> v = parse_real(t);
    if (v && *v >= 0.0f && *v <= 50.0f && (zero_allowed || *v > 0.0f)) return *v;
    con.text(kFwhmRange);
  }
}

// New shape limits from one line of five numbers (width, sharpness from and to, roundness
// from and to); the limits as they were for an empty or unusable answer.
void ask_limits(Console& con, ShapeLimits& shape) {
  con.text(kLimitsPrompt);
  const std::string t = trimmed(con.read_line());
  if (t.empty()) return;
  // An empty item between commas keeps that limit.
  ShapeLimits next = shape;
  float* const targets[] = {&next.max_width, &next.sharp_lo, &next.sharp_hi, &next.round_lo, &next.round_hi};
  bool slash = false, ok = true;
  const std::vector<ListItem> items = split_list_items(t, slash);
  for (std::size_t i = 0; i < items.size() && ok; ++i) {
    if (i >= std::size(targets)) {
      ok = false;
    } else if (!items[i].null) {
      const std::optional<float> x = parse_real(items[i].text);
      ok = x.has_value();
      if (ok) *targets[i] = *x;
    }
  }
  if (!ok || !shape_limits_valid(next)) {
    con.text(kLimitsRange);
    return;
  }
  shape = next;
}

// Takes a list or region file named at the threshold question as the list of options 8 and 9.
void take_list_file(Session& s, const RemovalFiles& files, const std::string& name) {
  const std::filesystem::path path = files.object_list.parent_path() / name;
  const SmallFile f = read_small_file(path);
  if (!f.read()) {
    s.con.text(name + " cannot be read (missing, or not a readable file); options 8 and 9 still read " +
               (s.removal.object_list.empty() ? files.object_list : std::filesystem::path(s.removal.object_list))
                   .filename()
                   .string() +
               ".");
    return;
  }
  const ObjectList list = parse_list_file(path, f.text);
  if (list.bad_line) s.con.text(bad_list_line_message(path, list.bad_line));
  if (list.objects.empty()) {
    s.con.text(name + " holds no objects; options 8 and 9 still read what they read before.");
    return;
  }
  s.removal.object_list = path.string();
  s.con.text("Options 8 and 9 now read " + name + " (" + std::to_string(list.objects.size()) + " objects).");
}

// --- drawing ---------------------------------------------------------------------------

void draw_list(Session& s, const Edit& ed) {
  ImageSlot& slot = s.active();
  DISPLAYIMAGE(DisplaySource{slot.view(), slot.object, slot.name}, s.display.state, slot.texts, false, s.con, s.gfx);
  for (const FoundStar& st : ed.left_out) CIRCLE(st.x, st.y, st.radius, kLeftOutColour, s.gfx);
  for (const ListedStar& l : ed.stars)
    CIRCLE(l.star.x, l.star.y, l.star.radius, l.star.type == 2 ? kSaturatedColour : kStarColour, s.gfx);
  for (const Ellipse& el : ed.ellipses) draw_ellipse_outline(el.x, el.y, el.a, el.e, el.pa, kEllipseColour, s.gfx);
  s.gfx.flush();
}

std::string star_text(const FoundStar& st) { return list_record({st.type, st.x, st.y, st.radius}); }

// --- editing ---------------------------------------------------------------------------

void drop_star(Session& s, Edit& ed, float x, float y) {
  std::size_t best = ed.stars.size();
  float dbest = 0.0f;
  for (std::size_t i = 0; i < ed.stars.size(); ++i) {
    const FoundStar& st = ed.stars[i].star;
    const float d = std::hypot(st.x - x, st.y - y);
    if (d <= std::max(st.radius, 3.0f) && (best == ed.stars.size() || d < dbest)) best = i, dbest = d;
  }
  if (best == ed.stars.size()) {
    s.con.text(kNoStarThere);
    return;
  }
  s.con.text("Dropped the star at" + star_text(ed.stars[best].star));
  ed.stars.erase(ed.stars.begin() + static_cast<std::ptrdiff_t>(best));
}

void add_star(Session& s, Edit& ed, const FinderRequest& req, float fwhm, float x, float y) {
  // A click on an object left out for its shape takes it back as it was measured.
  for (auto it = ed.left_out.begin(); it != ed.left_out.end(); ++it)
    if (std::hypot(it->x - x, it->y - y) <= std::max(it->radius, 3.0f)) {
      FoundStar st = *it;
      st.type = 1;
      ed.left_out.erase(it);
      ed.stars.push_back({st, true});
      s.con.text("Took back the object at" + star_text(st) + " (" + class_name(st.cls) + ") as a star.");
      return;
    }
  const std::optional<FoundStar> st = measure_star(s.active().view(), x, y, fwhm, req);
  if (!st) {
    s.con.text(kCannotAdd);
    return;
  }
  ed.stars.push_back({*st, true});
  s.con.text("Added the star at" + star_text(*st));
}

void add_ellipse(Session& s, Edit& ed) {
  Console& con = s.con;
  float x = 0, y = 0, a = 0, e = 0, pa = 0;
  con.text(kEllipseCentre);
  con.read_list({&x, &y});
  con.text(kEllipseAxis);
  a = con.read_real();
  for (std::string_view l : kEllipsePrompt) con.text(l);
  con.read_list({&e, &pa});
  if (!(a > 0.0f) || !(e >= 0.0f && e < 1.0f) || !std::isfinite(pa) || !std::isfinite(x) || !std::isfinite(y)) {
    con.text(kEllipseRange);
    return;
  }
  const Ellipse el{x, y, a, e, static_cast<float>(pa * 3.141592653589793 / 180.0)};
  std::size_t dropped = 0;
  std::erase_if(ed.stars, [&](const ListedStar& l) {
    const bool out = !l.added && el.contains(l.star.x, l.star.y);
    dropped += out;
    return out;
  });
  ed.ellipses.push_back(el);
  con.text(std::to_string(dropped) + " stars inside the ellipse dropped.");
}

// Edits the list until the user is done (true) or asks for other shape limits (false).
bool edit_list(Session& s, Edit& ed, const FinderRequest& req, float fwhm) {
  const ImageSlot& slot = s.active();
  for (std::string_view l : kEditKeys) s.con.text(l);
  draw_list(s, ed);
  for (;;) {
    const CursorRead c = s.read_cursor(static_cast<float>(slot.nx() / 2), static_cast<float>(slot.ny() / 2));
    // A click or key off the image names no star there: refused, and the next one read.
    const bool off_image = !(c.x >= 0.5f && c.x <= static_cast<float>(slot.nx()) + 0.5f && c.y >= 0.5f &&
                             c.y <= static_cast<float>(slot.ny()) + 0.5f);
    if (off_image && (c.key == 'A' || c.key == 'a' || c.key == 'd' || c.key == 'D')) {
      s.con.text(kClickOffImage);
      continue;
    }
    switch (c.key) {
      case 'q':
      case 'Q':
      case 'X':
      case 'x':
      case '\x1b': return true;
      case 'l':
      case 'L': return false;
      case 'A':
      case 'd':
      case 'D': drop_star(s, ed, c.x, c.y); break;
      case 'a': add_star(s, ed, req, fwhm, c.x, c.y); break;
      case 'e':
      case 'E': add_ellipse(s, ed); break;
      default:
        for (std::string_view l : kEditKeys) s.con.text(l);
        continue;
    }
    draw_list(s, ed);
  }
}

// --- writing ---------------------------------------------------------------------------

enum class WriteMode { fresh, replace, append };

std::string errno_text(int err) { return std::strerror(err); }

// Writes all of `text` at fd and makes it durable; on failure cuts the file back to `restore`
// (when 0 or more).
int write_durably(int fd, const std::string& text, off_t restore) {
  const int err = write_all(fd, text, restore);
  if (err != 0) return err;
  return ::fsync(fd) == 0 ? 0 : errno;
}

// Writes `text` to `path` as the user chose: a new file (never over one that appeared
// meanwhile), a replacement (a complete temporary renamed over the old file), or an
// append (cut back to the old length when it fails). Empty on success, else the reason.
std::string write_text(const std::filesystem::path& path, const std::string& text, WriteMode mode) {
  if (mode == WriteMode::append) {
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno_text(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return "not a regular file";
    }
    std::string body = text;
    if (st.st_size > 0) {  // a last line without its newline gets one first
      char last = '\n';
      if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') body.insert(0, "\n");
    }
    const int err = write_durably(fd, body, st.st_size);
    ::close(fd);
    return err ? errno_text(err) : std::string();
  }
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno_text(errno);
  int err = write_durably(fd, text, -1);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (mode == WriteMode::replace) {
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) ::unlink(temp.c_str());
  } else {
    if (err == 0 && ::link(temp.c_str(), path.c_str()) != 0) err = errno;  // refused when the name was taken meanwhile
    ::unlink(temp.c_str());
  }
  return err ? errno_text(err) : std::string();
}

// Where the list goes and how: an existing file is replaced, appended to or left for
// another name only as the user answers.
std::pair<std::filesystem::path, WriteMode> list_target(Session& s, std::filesystem::path path) {
  for (;;) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return {path, WriteMode::fresh};
    s.con.text(path.filename().string() + std::string(kExistsTail));
    const char c = s.con.read_char();
    if (c == 'r' || c == 'R') return {path, WriteMode::replace};
    if (c == 'a' || c == 'A') return {path, WriteMode::append};
    if (c == 'n' || c == 'N') {
      s.con.text(kNewNamePrompt);
      const std::string name = s.con.read_file_name();
      if (is_region_name(name))
        s.con.text(kNotARegionName);
      else if (!name.empty())
        path = path.parent_path() / name;
    }
  }
}

// The listed stars, then the objects left out for their shape (type 0).
Catalogue star_catalogue(Session& s, std::vector<FoundStar> stars, const std::vector<FoundStar>& left_out,
                         const FinderResult& found, float threshold, const std::filesystem::path& list) {
  stars.insert(stars.end(), left_out.begin(), left_out.end());
  const ImageSlot& slot = s.active();
  const SkyCoordinatesParse sky = parse_sky_coordinates(slot.cards);
  Catalogue t;
  t.columns = {{"x", "float64", "pix", "centre, pixel (i, j) centred at (i, j)"},
               {"y", "float64", "pix", ""},
               {"ra", "float64", "deg", "from the image's WCS"},
               {"dec", "float64", "deg", ""},
               {"flux", "float64", "", "counts above the local background within the radius"},
               {"peak", "float64", "", "height above the local background, counts"},
               {"fwhm", "float64", "pix", "measured (0 for saturated stars)"},
               {"sharpness", "float64", "", "DAOFIND sharpness"},
               {"roundness", "float64", "", "DAOFIND roundness from the marginals"},
               {"radius", "float64", "pix", "where the star meets its local background"},
               {"type", "int64", "", "1 star, 2 saturated star, 0 left out for its shape (not in the list)"},
               {"class", "string", "", "star, saturated, extended or cosmic ray, by the measured shape"},
               {"score", "float64", "", "0 to 1: how well the width and shape agree with the frame's stars"}};
  t.meta = {{"image", slot.name},
            {"list", list.filename().string()},
            {"threshold_sigma", static_cast<double>(threshold)},
            {"fwhm", static_cast<double>(found.fwhm)},
            {"fwhm_measured", std::string(found.fwhm_measured ? "yes" : "no")},
            {"sky_sigma", static_cast<double>(found.sigma)},
            {"fwhm_scatter", std::round(1000.0 * found.fwhm_scatter) / 1000.0},
            {"max_width", std::round(1000.0 * found.width_limit) / 1000.0}};
  for (const FoundStar& st : stars) {
    CatalogueValue ra, dec;
    if (sky.wcs)
      if (const auto p = sky.wcs->sky_at(st.x, st.y)) ra = p->lng, dec = p->lat;
    t.rows.push_back({static_cast<double>(st.x), static_cast<double>(st.y), ra, dec, static_cast<double>(st.flux),
                      static_cast<double>(st.peak), static_cast<double>(st.fwhm), static_cast<double>(st.sharpness),
                      static_cast<double>(st.roundness), static_cast<double>(st.radius), static_cast<int64_t>(st.type),
                      std::string(class_name(st.cls)), static_cast<double>(st.score)});
  }
  return t;
}

void report_write(Console& con, const CatalogueWrite& w) {
  if (!w.notice.empty()) con.text(w.notice);
  if (!w.error.empty()) con.text(w.error);
}

void write_list(Session& s, const RemovalFiles& files, const Edit& ed, const FinderResult& found, float threshold) {
  if (ed.stars.empty()) {
    s.con.text(kNoStarsWritten);
    return;
  }
  // The list options 8 and 9 read now, unless that is a region file.
  const std::filesystem::path start = s.removal.object_list.empty() || is_region_name(s.removal.object_list)
                                          ? files.object_list
                                          : std::filesystem::path(s.removal.object_list);
  const auto [path, mode] = list_target(s, start);
  std::string text;
  int saturated = 0;
  for (const ListedStar& l : ed.stars) {
    text += list_record({l.star.type, l.star.x, l.star.y, l.star.radius}) + "\n";
    saturated += l.star.type == 2;
  }
  const std::string name = path.filename().string();
  if (const std::string err = write_text(path, text, mode); !err.empty()) {
    s.con.text(name + " could not be written (" + err + ")" +
               (mode == WriteMode::fresh ? std::string("; nothing was written.")
                                         : "; the list " + name + " is left as it was."));
    return;
  }
  s.removal.object_list = path.string();
  s.con.text(std::string(mode == WriteMode::append ? "Appended " : "Wrote ") + std::to_string(ed.stars.size()) +
             " objects (" + std::to_string(saturated) + " saturated) to " + name + "; options 8 and 9 read it.");
  std::vector<FoundStar> stars;
  for (const ListedStar& l : ed.stars) stars.push_back(l.star);
  const Catalogue cat = star_catalogue(s, stars, ed.left_out, found, threshold, path);
  const std::filesystem::path dir = files.object_list.parent_path();
  const bool replace = mode == WriteMode::replace;
  report_write(s.con,
               replace ? write_catalogue(dir / kStarCatalogue, cat) : append_catalogue(dir / kStarCatalogue, cat));
  std::vector<RegionCircle> circles;
  for (const ListedStar& l : ed.stars)
    circles.push_back({l.star.x, l.star.y, l.star.radius, l.star.type == 2 ? "red" : "green", ""});
  if (replace) {
    std::string reg = "# Region file format: DS9 version 4.1\nimage\n";
    for (const RegionCircle& c : circles) reg += region_line(c);
    if (const std::string err = write_text(dir / kStarRegions, reg, WriteMode::replace); !err.empty())
      s.con.text(std::string(kStarRegions) + " could not be written (" + err + "); it is left as it was.");
  } else {
    report_write(s.con, append_regions(dir / kStarRegions, circles));
  }
  s.con.text(std::string("Beside it: ") + kStarCatalogue + " (catalogue) and " + kStarRegions + " (DS9 regions).");
}

std::string list_text(const std::vector<FoundStar>& stars) {
  std::string text;
  for (const FoundStar& st : stars) text += list_record({st.type, st.x, st.y, st.radius}) + "\n";
  return text;
}

}  // namespace

bool shape_limits_valid(const ShapeLimits& l) {
  const auto finite = [](float v) { return std::isfinite(v); };
  return finite(l.max_width) && finite(l.sharp_lo) && finite(l.sharp_hi) && finite(l.round_lo) && finite(l.round_hi) &&
         (l.max_width == 0.0f || (l.max_width >= 1.0f && l.max_width <= 5.0f)) && l.sharp_lo < l.sharp_hi &&
         l.round_lo < l.round_hi;
}

namespace {

// The shape limits a search used, one line.
std::string shape_limits_text(const FinderResult& found, const FinderRequest& req) {
  const std::string why = req.width_hi > 0.0f ? "as given"
                          : found.fwhm_measured
                              ? "from the scatter of the stars' widths, " +
                                    std::to_string(static_cast<int>(std::lround(100.0f * found.fwhm_scatter))) + " %"
                              : "the least, as the FWHM was given";
  return "A star is at most " + number_text(found.width_limit) + " times the FWHM wide (" + why +
         "), with a sharpness from " + number_text(req.sharp_lo) + " to " + number_text(req.sharp_hi) +
         " and a roundness from " + number_text(req.round_lo) + " to " + number_text(req.round_hi) + "; " +
         std::to_string(found.left_out.size()) + " objects left out for their shape.";
}

}  // namespace

UnattendedFind find_stars_unattended(Session& s, float threshold, float fwhm, const std::filesystem::path& list,
                                     const std::filesystem::path& catalogue, const std::filesystem::path& regions,
                                     const ShapeLimits& shape) {
  UnattendedFind u;
  const ConstImageView image = s.active().view();
  const FinderRequest req = finder_request(s.active(), threshold, fwhm, shape);
  const FinderResult found = find_stars(image, req);
  u.limits = shape_limits_text(found, req);
  if (found.status == FinderStatus::no_fwhm) {
    u.problem = "no bright isolated unsaturated star to measure the FWHM on; give it with --fwhm";
    return u;
  }
  if (found.status == FinderStatus::empty_frame || found.stars.empty()) {
    u.problem = "no stars found above " + number_text(threshold) + " sigma; no list was written";
    return u;
  }
  u.fwhm = found.fwhm;
  if (const std::string err = write_text(list, list_text(found.stars), WriteMode::fresh); !err.empty()) {
    u.problem = list.filename().string() + " could not be written (" + err + ")";
    return u;
  }
  u.stars = found.stars.size();
  for (const FoundStar& st : found.stars) u.saturated += st.type == 2;
  const CatalogueWrite c =
      write_catalogue(catalogue, star_catalogue(s, found.stars, found.left_out, found, threshold, list));
  if (!c.ok) u.notes.push_back(c.error);
  std::vector<RegionCircle> circles;
  for (const FoundStar& st : found.stars)
    circles.push_back({st.x, st.y, st.radius, st.type == 2 ? "red" : "green", ""});
  const CatalogueWrite r = append_regions(regions, circles);
  if (!r.ok) u.notes.push_back(r.error);
  return u;
}

void find_stars_dialogue(Session& s, const RemovalFiles& files) {
  Console& con = s.con;
  float threshold = 5.0f;
  for (;;) {
    con.text(kThresholdPrompt);
    const std::string t = trimmed(con.read_line());
    if (t.empty()) break;
    if (const std::optional<float> k = parse_real(t)) {
      if (*k > 0.0f && *k < 1e4f) {
        threshold = *k;
        break;
      }
      con.text(kThresholdRange);
      continue;
    }
    return take_list_file(s, files, t);
  }
  ShapeLimits shape;
  FinderRequest req = finder_request(s.active(), threshold, ask_fwhm(con, true), shape);
  const ConstImageView image = s.active().view();
  Edit ed;
  for (;;) {
    FinderResult found = find_stars(image, req);
    while (found.status == FinderStatus::no_fwhm) {
      con.text(kNoFwhm);
      req.fwhm = ask_fwhm(con, false);
      found = find_stars(image, req);
    }
    if (found.status == FinderStatus::empty_frame) {
      con.text(kNothingToSearch);
      return;
    }
    int saturated = 0;
    for (const FoundStar& st : found.stars) saturated += st.type == 2;
    con.text("Found " + std::to_string(found.stars.size()) + " stars above " + number_text(threshold) + " sigma (" +
             std::to_string(saturated) + " saturated, type 2); FWHM " + number_text(found.fwhm) + " pixels" +
             (found.fwhm_measured ? " (measured from the brightest isolated stars)." : " (as given)."));
    con.text(std::to_string(found.candidates) + " peaks examined: " + std::to_string(found.below_threshold) +
             " below the threshold once measured, " + std::to_string(found.not_star_like) + std::string(kNotStarLike));
    con.text(shape_limits_text(found, req));
    // The user's own stars and ellipses carry over to a search with other limits.
    std::erase_if(ed.stars, [](const ListedStar& l) { return !l.added; });
    for (const FoundStar& st : found.stars)
      if (std::none_of(ed.ellipses.begin(), ed.ellipses.end(),
                       [&](const Ellipse& el) { return el.contains(st.x, st.y); }))
        ed.stars.push_back({st, false});
    ed.left_out = found.left_out;
    if (edit_list(s, ed, req, found.fwhm)) return write_list(s, files, ed, found, threshold);
    ask_limits(con, shape);
    req = finder_request(s.active(), threshold, req.fwhm, shape);
  }
}

}  // namespace zelvo
