// Sky positions of image pixels from the world coordinate system (WCS) in a FITS header,
// through wcslib. Only sky_coordinates.cpp includes wcslib's headers.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

// A position on the sky in degrees: longitude (RA, or GLON, ELON, ...) and latitude.
struct SkyPoint {
  double lng = 0.0;
  double lat = 0.0;
};

// The primary celestial WCS of one header.
class SkyCoordinates {
 public:
  ~SkyCoordinates();
  SkyCoordinates(const SkyCoordinates&) = delete;
  SkyCoordinates& operator=(const SkyCoordinates&) = delete;

  // The sky position of pixel position (x, y) in FITS pixel coordinates: 1-based, the
  // centre of pixel (i, j) at (i, j). Nothing where the projection has no sky position.
  std::optional<SkyPoint> sky_at(double x, double y) const;
  // The pixel position of a sky position; nothing when it does not project onto the image plane.
  std::optional<SkyPoint> pixel_at(const SkyPoint& sky) const;  // lng = x, lat = y

  // Whether the axes are right ascension and declination.
  bool equatorial() const;
  // Axis names as the header gives them ("RA"/"DEC", "GLON"/"GLAT", ...).
  std::string lng_name() const;
  std::string lat_name() const;
  // The reference frame of equatorial axes: "FK5 J2000.0", "FK4 B1950.0", "ICRS", ...;
  // empty for other axes.
  std::string frame() const;

  // Made by parse_sky_coordinates (the wcslib state is defined in the adapter only).
  struct Impl;
  explicit SkyCoordinates(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// The outcome of reading a header's WCS: `wcs` when it has celestial axes that can be used;
// `problem` (one line) when it names celestial axes that wcslib cannot use; neither when the
// header has no celestial WCS.
struct SkyCoordinatesParse {
  std::unique_ptr<SkyCoordinates> wcs;
  std::string problem;
};

// Reads the primary WCS of a header given as 80-column cards (as a FITS file holds them),
// with wcslib's fixes for common non-standard forms applied, as astropy.wcs applies them.
SkyCoordinatesParse parse_sky_coordinates(const std::vector<std::string>& cards);

// "13:29:52.698" (hours, three decimals of a second) for an angle in degrees, 0 <= a < 360.
std::string sexagesimal_hours(double degrees);
// "+47:11:42.93" (degrees with sign, two decimals of an arcsecond).
std::string sexagesimal_degrees(double degrees);

// The report line of a sky position, without the leading blank:
// "<lead>RA 13:29:52.698 Dec +47:11:42.93 = 202.4695750 +47.1952583 deg (FK5 J2000.0)",
// or for other axes "<lead>GLON 123.4567890 GLAT -12.3456789 deg".
std::string sky_position_text(std::string_view lead, const SkyCoordinates& wcs, const SkyPoint& p);

// The line a pixel report adds for the position (x, y): the sky position, a line saying
// why there is none, or nothing when the header has no celestial WCS.
std::optional<std::string> sky_report_line(std::string_view lead, const SkyCoordinatesParse& sky, double x, double y);

}  // namespace zelvo
