#include "galaxy/galaxy_texts.h"

#include <array>

namespace zelvo {

namespace {
constexpr std::array<std::string_view, 6> kMenu = {
    "What do you want to do? ",
    "  1) Extract the profile of a galaxy (flux scale)",
    "  2) Extract the profile of a galaxy (magnitude scale)",
    "  3) Extract the (B-I) colour of a galaxy ",
    "  4) Calculate the instrumental I-band image ",
    "  0) Return back to the main options ",
};
constexpr std::array<std::string_view, 2> kSplintAlarm = {"Bad xa input in splint!", "Hit <ENTER> to continue..."};
constexpr std::array<std::string_view, 2> kEllipsePrompt = {"Give an assumed eccentricity and position angle ",
                                                            " (in degrees) of semi-major axis: "};
constexpr std::array<std::string_view, 2> kPercentage = {"Give a number by how many percent the background",
                                                         "should be changed (e.g. -10, 0, or 10):"};
constexpr std::array<std::string_view, 2> kColourCoefficients = {
    "Give kappa (constant), lambda (airmass coefficient), ", "  my (colour coefficient), and airmass: "};
constexpr std::array<std::string_view, 2> kCalibrationCoefficients = {
    "Give alpha (constant), beta (colour coefficient), ", " and gamma, (airmass coefficient): "};
constexpr std::array<std::string_view, 2> kCalibrationSlots = {" Give image slot for instrumental I-band image ",
                                                               " and image slot for corrected (B-I) image: "};
}  // namespace

std::span<const std::string_view> galaxy_menu_lines() { return kMenu; }
std::span<const std::string_view> splint_alarm_lines() { return kSplintAlarm; }
std::span<const std::string_view> ellipse_prompt_lines() { return kEllipsePrompt; }
std::span<const std::string_view> percentage_prompt_lines() { return kPercentage; }
std::span<const std::string_view> colour_coefficient_prompt_lines() { return kColourCoefficients; }
std::span<const std::string_view> calibration_coefficient_prompt_lines() { return kCalibrationCoefficients; }
std::span<const std::string_view> calibration_slots_prompt_lines() { return kCalibrationSlots; }

}  // namespace zelvo
