// Fixed texts of the removal routines: the lines they report and write to the debug log.
#pragma once

#include <array>
#include <string_view>

namespace zelvo {

// Written to the debug log at the start of every removal, after an empty line.
inline constexpr std::array<std::string_view, 3> kDebugAdviceLines = {
    "If you are certain this program does not work or produces ",
    "garbage, set extended logs on in Zelvo.ini, run the program ",
    "at least once, and send this file to zelvo-support@zelvo.example.org",
};

// One-line reasons for a removal that changed nothing.
inline constexpr std::string_view kNoImageText = "There is no image to remove features from; nothing removed.";
inline constexpr std::string_view kBadRadiusText =
    "The removal radius must be a number above 0 and at most the image width plus height; nothing removed.";
inline constexpr std::string_view kOutsideText = "The removal disc lies outside the image; nothing removed.";
inline constexpr std::string_view kNoStartText =
    "No pixel above the centre lies on the circle of this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kStuckText =
    "The edge ring could not be traced at this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kNoClosureText =
    "The edge ring did not close at this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kNoBackgroundText =
    "No usable background was found around the disc; nothing removed.";

// FINDCENTRE.
inline constexpr std::string_view kSortAlarm = "Alarm! Sorting malfunction!";
inline constexpr std::string_view kQuarterRejected = "Warning! Over 1/4 of background values discarded!";
inline constexpr std::string_view kThreeQuartersRejected = "Alarm! Over 3/4 of background values discarded!";
inline constexpr std::string_view kFindCentreMeanLead = "FindCentre: aaverage = ";
inline constexpr std::string_view kFindCentreSigmaLead = "FindCentre: asigma = ";
inline constexpr std::string_view kBackgroundVaries = "Warning! Background varies a lot!";
inline constexpr std::string_view kColumnAsymmetry = "Warning! Strange column asymmetry around the object!";
inline constexpr std::string_view kRowAsymmetry = "Warning! Strange row asymmetry around the object!";
inline constexpr std::string_view kXShiftLead = "RemoveSatBar: xc(shift) = ";
inline constexpr std::string_view kYShiftLead = "RemoveSatBar: yc(shift) = ";
inline constexpr std::string_view kCentreNearRowEdge =
    "The object lies within 2 rows of the bottom or top edge; its centre and sky cannot be measured "
    "from the five rows around it.";
inline constexpr std::string_view kCentreFewColumns =
    "Fewer than 40 of the 101 columns around the object lie inside the image; its centre and sky "
    "cannot be measured.";

// REMOVESATBAR.
inline constexpr std::string_view kMaxvalLead = "RemoveSatBar: maxval(TheImage) = ";
inline constexpr std::string_view kSaturatedLead = "RemoveSatBar: saturated = ";
inline constexpr std::string_view kDisplacementLead = "RemoveSatBar: Horizontal displacement = ";
inline constexpr std::string_view kBarLengthLead = "RemoveSatBar: Bar length = ";
inline constexpr std::string_view kBarOffImage = "The saturation bar centre lies outside the image; no bar is removed.";
inline constexpr std::string_view kBarNoReference =
    "No reference columns 11 to 15 pixels beside the bar lie inside the image; no bar is removed.";

}  // namespace zelvo
