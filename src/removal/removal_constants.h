// Angles in single precision, as the removal routines use them, and the width of the
// repainted noise.
#pragma once

namespace zelvo {

inline constexpr float kPiReal = 3.14159265358979f;
inline constexpr float kTwoPiReal = 2.0f * kPiReal;
inline constexpr float kHalfPiReal = kPiReal / 2.0f;

// Uniform noise on [-h, +h] has the standard deviation h / sqrt(3): painting with
// h = sqrt(3) sigma gives a repainted area the measured sky noise sigma.
inline constexpr double kUniformHalfWidthPerSigma = 1.7320508075688772;

}  // namespace zelvo
