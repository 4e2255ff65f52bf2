// Fixed texts of the profiles and the rotation curve.
// Code prints them; tests compare against them.
#pragma once

#include <span>
#include <string_view>

namespace zelvo {

// The two lines of the equal-abscissa alarm in SPLINT.
std::span<const std::string_view> splint_alarm_lines();

// Profile request.
inline constexpr std::string_view kCentrePrompt = "Give the centre of your galaxy (x-pixel, y-pixel): ";
inline constexpr std::string_view kExtentPrompt = "Give the extent (radius) of the profile and stepsize: ";
std::span<const std::string_view> ellipse_prompt_lines();

// Profile run.
inline constexpr std::string_view kProfileLogName = "ZelvoProfile1.log";
inline constexpr std::string_view kProfileLogTitle = "Zelvo Profile ";
inline constexpr std::string_view kImageCaption = "Image";
inline constexpr std::string_view kSkyTableTitle = "Compute skypr histogram (rsky,skypr)...";
inline constexpr std::string_view kBinTableTitle = "Variable rprof (1-1000)";
inline constexpr std::string_view kSplineFitting = "Fitting a spline curve to the binned radial profile...";
inline constexpr std::string_view kSplinePlotting = "Plotting the spline over the data...";
inline constexpr std::string_view kSplineTableTitle = "Plotting the spline over the data (w,d)...";
inline constexpr std::string_view kBackgroundLead = "Background level set at: ";
std::span<const std::string_view> percentage_prompt_lines();
inline constexpr std::string_view kFinished = "Finished!";
inline constexpr std::string_view kFinishedMagnitude = "Finished with the magnitude profile!";

// Rotation curve.
inline constexpr std::string_view kRotationSlow = "Computing the rotation curve. This can be slow...";
inline constexpr std::string_view kRotationTableTitle = "Compute rotation curve from force law (rrot,vrot)...";
inline constexpr std::string_view kHorrendous = "A horrendous error in computing rotation curve...";
inline constexpr std::string_view kHorrendousProduct = "-vrot(ipro)*rrot(ipro) = ";

// Refusals of requests that cannot work; nothing is drawn, logged or changed.
inline constexpr std::string_view kNoSkyInHistogram =
    "No sky pixel falls into the sky histogram (-200 to 4800); the background level is set to 0.";
inline constexpr std::string_view kTooFewBins =
    "Fewer than two radial bins hold pixels: no spline and no rotation curve can be made.";
// What a profile log that cannot be opened or written means (after the reason).
inline constexpr std::string_view kNoLog = "the tables are not logged";

}  // namespace zelvo
