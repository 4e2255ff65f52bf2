// Angles in single precision, as the removal routines use them.
#pragma once

namespace zelvo {

inline constexpr float kPiReal = 3.14159265358979f;
inline constexpr float kTwoPiReal = 2.0f * kPiReal;
inline constexpr float kHalfPiReal = kPiReal / 2.0f;

}  // namespace zelvo
