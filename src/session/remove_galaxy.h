// Option 5 of the remove-features submenu: a galaxy's elliptical isophotes fitted, its
// model built and subtracted, so that what lies on it stands out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "galaxy/isophote_model.h"
#include "platform/catalogue.h"
#include "removal/object_list.h"

namespace zelvo {

struct RemovalDialogue;
struct RemovalVisit;

// Stars of a list without a radius are masked out to this radius (pixels).
inline constexpr double kDefaultStarMask = 8.0;
// The first isophote's semi-major axis (pixels), unless the largest is smaller.
inline constexpr double kDefaultSma0 = 10.0;

// The isophote table as a catalogue: one row per isophote (pa and its error in degrees from
// +x towards +y, stop the fit's stop code), with the frame, the sky and the request in its
// metadata.
Catalogue isophote_catalogue(const IsophoteModel& g, const IsophoteRequest& req, const std::string& frame);

// The mask of the stars (types 1, 2 and 3) of a list: circles of the listed radius, or
// kDefaultStarMask where that is 0 or less.
std::vector<uint8_t> mask_of_list(const ObjectList& list, int nx, int ny);

// The largest semi-major axis offered for a galaxy centred at (x, y): the distance to the
// nearest edge of the image, at least twice the first isophote's.
double default_maxsma(ConstImageView image, double x, double y);

// The summary lines of a fit: how many isophotes, how far, how many converged or carried,
// and the sky beneath the model.
std::vector<std::string> galaxy_summary(const IsophoteModel& g);

// Option 5 (listed: none), or a list's type 5 line (its centre and, above 0, its largest
// semi-major axis). Automatic (option 9): no question, the default shape, the list's stars
// masked and the residual kept. True when the residual was kept (and recorded).
bool remove_galaxy(RemovalDialogue& ctx, RemovalVisit& visit, const ListedObject* listed, const ObjectList* list,
                   bool automatic);

}  // namespace zelvo
