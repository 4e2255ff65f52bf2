// Fixed texts of the remove-features submenu, the saturated-star routines and the object lists.
#pragma once

#include <array>
#include <string_view>

namespace zelvo {

// REMOVEOPTIONS: the submenu, printed between two empty lines.
inline constexpr std::array<std::string_view, 12> kRemoveOptionsLines = {
    "What do you want to do? ",
    "  1) Remove a star ",
    "  2) Remove a saturated star ",
    "  3) Remove an area of user-defined radius ",
    "  4) ",
    "  5) Remove a galaxy [NOT IMPLEMENTED YET] ",
    "  6) Remove columns ",
    "  7) Remove rows [NOT IMPLEMENTED YET] ",
    "  8) Remove objects interactively using pre-recorded coordinates",
    "  9) Remove objects automatically using pre-recorded coordinates",
    "     (Options 8 and 9 require the existence of ZelvoRep.log) ",
    "  0) Return back to the main options ",
};

// Appended to the removal record at every visit; the last line is empty.
inline constexpr std::array<std::string_view, 5> kRecordHeaderLines = {
    "This log file is written by Zelvo (Galaxy and Star Image Tools); it",
    "contains these four lines and N lines, one for each removed",
    "star, with the star type (regular, saturated, ...), centre in",
    "x- and y-coordinates, and removal radius (= 4 values / star).",
    "",
};

inline constexpr std::string_view kConstantLevelLead = "Added constant level ";
inline constexpr std::string_view kConstantLevelTail = " to your image. ";
inline constexpr std::string_view kConstantLevelNote = "It will be taken out after the removal processes end. ";
// A level above 2^24 cannot be added to 32-bit pixels without rounding them to steps of 2 or more.
inline constexpr std::string_view kLevelTooLargeLead = "The smallest pixel value of this image is ";
inline constexpr std::string_view kLevelTooLargeTail =
    "; the constant level that would make every pixel positive is beyond 2^24 (16777216), where adding it"
    " rounds the pixels' values. Nothing removed; the image is unchanged.";

inline constexpr std::array<std::string_view, 2> kWrongOptionLines = {
    "The option you selected is not currently available ",
    "or you pressed a wrong key. Please, try again.",
};

// Per-object flow.
inline constexpr std::string_view kClickObject = "Click on the object you want to remove.";
inline constexpr std::string_view kClickCentre = "Click on the object centre.";
inline constexpr std::string_view kYouClickedAt = "You clicked at ";
inline constexpr std::string_view kRegularToMainLog = "Entering centre/radius finding for regular stars...";
inline constexpr std::string_view kSaturatedToMainLog = "Entering centre/radius finding for saturated stars...";
inline constexpr std::string_view kSaturatedRetry = "Object was saturated, trying again.";
inline constexpr std::string_view kSkyLevelLead = "Estimated background sky level = ";
inline constexpr std::string_view kSkySigmaLead = "Estimated background sky sigma = ";
inline constexpr std::string_view kAverageSigmaLead = "Average & sigma are ";
inline constexpr std::string_view kColumnChoice = "Enter 'y' to keep, 'm' to modify, or 'c' to redetermine";
inline constexpr std::string_view kClickBackground = "Click on background you wish to estimate values from:";
inline constexpr std::array<std::string_view, 3> kBackgroundBoxLeads = {
    "Values for a 5x5 box were (average and sigma): ",
    "Values for a 9x9 box were (average and sigma): ",
    "Values for a 15x15 box were (average and sigma): ",
};
inline constexpr std::string_view kNewAverageSigma = "Give new average and sigma values:";
inline constexpr std::string_view kCirclesNote = "Circles on the image are at 10 and 20 pixel radii.";
inline constexpr std::string_view kRadiusSetLead = "Star removal radius set to ";
inline constexpr std::string_view kRadiusPrompt = "Give (absolute) value to the removal radius:";
inline constexpr std::string_view kDisplayLevelsLead = "Display levels: low, high = ";
inline constexpr std::string_view kUndoPrompt = "Do you want to UNDO previous removal (y/n)? ";

// Object lists.
inline constexpr std::string_view kListCountLead = "ZelvoRep.log contained ";
inline constexpr std::string_view kListCountTail = " lines (= objects).";
inline constexpr std::string_view kReadAutomaticLead = "Read (ch0, xc, yc, deathrad) = ";
inline constexpr std::string_view kReadInteractiveLead = "Read (ch1, xc, yc, deathrad) = ";
inline constexpr std::array<std::string_view, 2> kIncorrectDataLines = {
    "ZelvoRep.log contains incorrect data. ",
    "Please check and try again.",
};

// Failures this program reports in its own words.
inline constexpr std::string_view kListUnreadable =
    "ZelvoRep.log cannot be read (missing, or not a readable file); options 8 and 9 need it in the "
    "working folder.";
// What a removal record that cannot be opened or written means (after the reason).
inline constexpr std::string_view kRecordUnwritable = "kept removals are not recorded";
inline constexpr std::string_view kListOffImageTail = ": the centre lies outside the image; the object is skipped.";
inline constexpr std::string_view kCentreOffImage =
    "The centre lies outside the image; nothing is removed.";
inline constexpr std::string_view kObjectLeft =
    "This object is left as it was; nothing is recorded.";

}  // namespace zelvo
