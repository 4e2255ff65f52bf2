// Fixed texts of the star-removal routines.
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
inline constexpr std::string_view kBadRadiusText = "The removal radius must be a number above 0 and at most the image width plus height; nothing removed.";
inline constexpr std::string_view kOutsideText = "The removal disc lies outside the image; nothing removed.";
inline constexpr std::string_view kNoStartText = "No pixel above the centre lies on the circle of this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kStuckText = "The edge ring could not be traced at this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kNoClosureText = "The edge ring did not close at this radius; nothing removed. Try a slightly different radius.";
inline constexpr std::string_view kNoBackgroundText = "No usable background was found around the disc; nothing removed.";
// What a debug log that cannot be opened or written means (after the reason).
inline constexpr std::string_view kNoDebugLogText = "the removal goes on without it";

}  // namespace zelvo
