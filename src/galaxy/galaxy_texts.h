// Fixed texts the galaxy code itself draws or prints: the image caption of the profile page
// and the alarm of SPLINT.
#pragma once

#include <span>
#include <string_view>

namespace zelvo {

// The two lines of the equal-abscissa alarm in SPLINT.
std::span<const std::string_view> splint_alarm_lines();

// The caption under the image panel of the profile page.
inline constexpr std::string_view kImageCaption = "Image";

}  // namespace zelvo
