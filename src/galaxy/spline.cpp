#include "galaxy/spline.h"

#include <algorithm>

namespace zelvo {

std::vector<float> SPLINE(std::span<const float> xa, std::span<const float> ya, float yp1, float ypn) {
  const std::size_t n = std::min(xa.size(), ya.size());
  std::vector<float> y2(n, 0.0f);
  if (n < 2) return y2;
  // 0-based storage: element k here is point k + 1 of the table.
  std::vector<float> u(n, 0.0f);
  if (yp1 > kNaturalSlope) {
    y2[0] = 0.0f;
    u[0] = 0.0f;
  } else {
    y2[0] = -0.5f;
    u[0] = (3.0f / (xa[1] - xa[0])) * ((ya[1] - ya[0]) / (xa[1] - xa[0]) - yp1);
  }
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const float sig = (xa[i] - xa[i - 1]) / (xa[i + 1] - xa[i - 1]);
    const float p = sig * y2[i - 1] + 2.0f;
    y2[i] = (sig - 1.0f) / p;
    u[i] = (ya[i + 1] - ya[i]) / (xa[i + 1] - xa[i]) - (ya[i] - ya[i - 1]) / (xa[i] - xa[i - 1]);
    u[i] = (6.0f * u[i] / (xa[i + 1] - xa[i - 1]) - sig * u[i - 1]) / p;
  }
  float qn = 0.0f, un = 0.0f;
  if (!(ypn > kNaturalSlope)) {
    qn = 0.5f;
    un = (3.0f / (xa[n - 1] - xa[n - 2])) * (ypn - (ya[n - 1] - ya[n - 2]) / (xa[n - 1] - xa[n - 2]));
  }
  y2[n - 1] = (un - qn * u[n - 2]) / (qn * y2[n - 2] + 1.0f);
  for (std::size_t k = n - 1; k-- > 0;) y2[k] = y2[k] * y2[k + 1] + u[k];
  return y2;
}

float SPLINT(std::span<const float> xa, std::span<const float> ya, std::span<const float> y2a, float x,
             const std::function<void()>& alarm) {
  const std::size_t n = std::min({xa.size(), ya.size(), y2a.size()});
  if (n == 0) return 0.0f;
  // 1-based bisection as in the table's own numbering; index k reads element k - 1.
  std::size_t klo = 1, khi = n;
  while (khi - klo > 1) {
    const std::size_t k = (khi + klo) / 2;
    if (xa[k - 1] > x)
      khi = k;
    else
      klo = k;
  }
  const float h = xa[khi - 1] - xa[klo - 1];
  if (h == 0.0f) {
    if (alarm) alarm();
    return 0.5f * (ya[klo - 1] + ya[khi - 1]);
  }
  const float a = (xa[khi - 1] - x) / h;
  const float b = (x - xa[klo - 1]) / h;
  return a * ya[klo - 1] + b * ya[khi - 1] +
         ((a * a * a - a) * y2a[klo - 1] + (b * b * b - b) * y2a[khi - 1]) * (h * h) / 6.0f;
}

}  // namespace zelvo
