#include "galaxy/galaxy_texts.h"

#include <array>

namespace zelvo {

namespace {
constexpr std::array<std::string_view, 2> kSplintAlarm = {"Bad xa input in splint!", "Hit <ENTER> to continue..."};
constexpr std::array<std::string_view, 2> kEllipsePrompt = {"Give an assumed eccentricity and position angle ",
                                                            " (in degrees) of semi-major axis: "};
constexpr std::array<std::string_view, 2> kPercentage = {"Give a number by how many percent the background",
                                                         "should be changed (e.g. -10, 0, or 10):"};
}  // namespace

std::span<const std::string_view> splint_alarm_lines() { return kSplintAlarm; }
std::span<const std::string_view> ellipse_prompt_lines() { return kEllipsePrompt; }
std::span<const std::string_view> percentage_prompt_lines() { return kPercentage; }

}  // namespace zelvo
