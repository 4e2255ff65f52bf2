#include "galaxy/isophote_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace zelvo {

namespace {

// A pixel with light: finite, and neither the loader's undefined value nor a calibrated image's blank.
bool defined(float v) { return std::isfinite(v) && v != kUndefinedPixel && v != -99999.0f; }

// One isophote as the model uses it: its axis, intensity and the terms of its elliptical radius.
struct Node {
  double a, intens, slope;  // slope: the monotone cubic's derivative at this node
  double x0, y0, c, s, iq;  // centre, cos and sin of the angle, 1 / (1 - eps)
  // Elliptical radius of (x, y) in this node's geometry.
  double radius(double x, double y) const {
    const double dx = x - x0, dy = y - y0;
    const double u = dx * c + dy * s, v = (-dx * s + dy * c) * iq;
    return std::sqrt(u * u + v * v);
  }
};

// Derivatives of the monotone cubic through (a_i, I_i) (Fritsch and Carlson): no overshoot
// between isophotes, so the model has no rings the table does not have.
void monotone_slopes(std::vector<Node>& n) {
  const std::size_t m = n.size();
  if (m < 2) return;
  std::vector<double> d(m - 1);
  for (std::size_t i = 0; i + 1 < m; ++i) d[i] = (n[i + 1].intens - n[i].intens) / (n[i + 1].a - n[i].a);
  n[0].slope = d[0];
  n[m - 1].slope = d[m - 2];
  for (std::size_t i = 1; i + 1 < m; ++i) {
    if (d[i - 1] * d[i] <= 0.0) {
      n[i].slope = 0.0;
    } else {
      const double h0 = n[i].a - n[i - 1].a, h1 = n[i + 1].a - n[i].a;
      const double w1 = 2.0 * h1 + h0, w2 = h1 + 2.0 * h0;
      n[i].slope = (w1 + w2) / (w1 / d[i - 1] + w2 / d[i]);
    }
  }
}

double cubic_between(const Node& p, const Node& q, double a) {
  const double h = q.a - p.a, t = (a - p.a) / h;
  const double t2 = t * t, t3 = t2 * t;
  return (2 * t3 - 3 * t2 + 1) * p.intens + (t3 - 2 * t2 + t) * h * p.slope + (-2 * t3 + 3 * t2) * q.intens +
         (t3 - t2) * h * q.slope;
}

Node node_of(const Isophote& iso) {
  const double q = std::max(1.0 - iso.shape.eps, 0.05);
  return Node{iso.sma, iso.intens, 0.0, iso.shape.x0, iso.shape.y0, std::cos(iso.shape.pa), std::sin(iso.shape.pa),
              1.0 / q};
}

// The geometry of the isophote at axis a between nodes p and q, interpolated linearly.
Node between(const Node& p, const Node& q, double a) {
  const double t = (a - p.a) / (q.a - p.a);
  // The angle through its cos and sin of twice it, so that 179 and 1 degrees average to 0.
  const double c2 = (1 - t) * (p.c * p.c - p.s * p.s) + t * (q.c * q.c - q.s * q.s);
  const double s2 = (1 - t) * (2 * p.c * p.s) + t * (2 * q.c * q.s);
  const double pa = 0.5 * std::atan2(s2, c2);
  return Node{a,
              0.0,
              0.0,
              (1 - t) * p.x0 + t * q.x0,
              (1 - t) * p.y0 + t * q.y0,
              std::cos(pa),
              std::sin(pa),
              1.0 / ((1 - t) / p.iq + t / q.iq)};
}

}  // namespace

Image build_isophote_model(std::span<const Isophote> isophotes, int nx, int ny, double sky) {
  Image model(nx, ny, 0.0f);
  std::vector<Node> n;
  for (const Isophote& i : isophotes)
    if (std::isfinite(i.intens) && (n.empty() || i.sma > n.back().a)) n.push_back(node_of(i));
  if (n.size() < 2) return model;
  monotone_slopes(n);
  const std::size_t last = n.size() - 1;
  for (int y = 1; y <= ny; ++y) {
    std::size_t k = 0;  // the node inside which the previous pixel lay: where the search starts
    for (int x = 1; x <= nx; ++x) {
      // f_i = r_i - a_i falls from >= 0 inside the table to < 0: the pixel lies between the
      // last node with f >= 0 and the next.
      const auto f = [&](std::size_t i) { return n[i].radius(x, y) - n[i].a; };
      if (f(last) > 0.0) continue;  // beyond the largest isophote
      if (f(0) < 0.0) {
        model.at(x, y) = static_cast<float>(n[0].intens - sky);
        continue;
      }
      k = std::min(k, last - 1);
      while (k > 0 && f(k) < 0.0) --k;
      while (k + 1 < last && f(k + 1) >= 0.0) ++k;
      const double fk = f(k), fk1 = f(k + 1);
      // The crossing from the straight line between the two nodes, then one secant step with
      // the geometry interpolated to it.
      double a = n[k].a + (n[k + 1].a - n[k].a) * fk / (fk - fk1);
      const double fa = between(n[k], n[k + 1], a).radius(x, y) - a;
      if (fa >= 0.0 && fk1 != fa) {
        a = a + (n[k + 1].a - a) * fa / (fa - fk1);
      } else if (fa < 0.0 && fk != fa) {
        a = n[k].a + (a - n[k].a) * fk / (fk - fa);
      }
      a = std::clamp(a, n[k].a, n[k + 1].a);
      model.at(x, y) = static_cast<float>(cubic_between(n[k], n[k + 1], a) - sky);
    }
  }
  return model;
}

Image residual_image(ConstImageView frame, ConstImageView model) {
  Image r(frame.nx, frame.ny, 0.0f);
  for (std::size_t i = 0; i < r.px.size(); ++i) {
    const float v = frame.px[i];
    r.px[i] = defined(v) ? v - model.px[i] : v;
  }
  return r;
}

GalaxySky sky_beyond(ConstImageView image, std::span<const uint8_t> mask, const Isophote& largest) {
  GalaxySky sky;
  const Node g = node_of(largest);
  const double a = largest.sma, outer = 1.3 * a;
  std::vector<double> v;
  const int x_lo = std::max(1, static_cast<int>(g.x0 - outer) - 1),
            x_hi = std::min(image.nx, static_cast<int>(g.x0 + outer) + 1);
  const int y_lo = std::max(1, static_cast<int>(g.y0 - outer) - 1),
            y_hi = std::min(image.ny, static_cast<int>(g.y0 + outer) + 1);
  for (int y = y_lo; y <= y_hi; ++y) {
    for (int x = x_lo; x <= x_hi; ++x) {
      const double r = g.radius(x, y);
      if (r <= a || r > outer) continue;
      const std::size_t i =
          static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(image.nx) + static_cast<std::size_t>(x - 1);
      if (!mask.empty() && mask[i] != 0) continue;
      if (defined(image.px[i])) v.push_back(image.px[i]);
    }
  }
  sky.level = std::isfinite(largest.intens) ? largest.intens : 0.0;
  sky.beyond = sky.level;
  if (v.size() < 50) return sky;
  // Start from the median, then clip at 3 sigma until nothing more is rejected.
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  double centre = v[v.size() / 2], spread = 0.0;
  std::size_t kept = v.size();
  for (int round = 0; round < 10; ++round) {
    double s = 0.0, s2 = 0.0;
    std::size_t m = 0;
    for (double x : v) {
      if (round > 0 && std::fabs(x - centre) > 3.0 * spread) continue;
      s += x;
      ++m;
    }
    if (m < 2) break;
    const double mean = s / static_cast<double>(m);
    for (double x : v)
      if (round == 0 || std::fabs(x - centre) <= 3.0 * spread) s2 += (x - mean) * (x - mean);
    const double sd = std::sqrt(s2 / static_cast<double>(m - 1));
    const bool same = m == kept && round > 0;
    centre = mean;
    spread = sd;
    kept = m;
    if (same) break;
  }
  if (!std::isfinite(largest.intens)) sky.level = centre;
  sky.beyond = centre;
  sky.sigma = spread;
  sky.pixels = static_cast<int32_t>(kept);
  return sky;
}

}  // namespace zelvo

namespace zelvo {

IsophoteModel model_galaxy(ConstImageView image, const IsophoteRequest& req) {
  IsophoteModel g;
  g.fit = fit_isophotes(image, req);
  if (g.fit.status != IsophoteFitStatus::ok || g.fit.isophotes.empty()) return g;
  g.sky = sky_beyond(image, req.mask, g.fit.isophotes.back());
  g.model = build_isophote_model(g.fit.isophotes, image.nx, image.ny, g.sky.level);
  return g;
}

EllipseShape starting_shape(ConstImageView image, double x, double y, double radius) {
  EllipseShape s;
  s.x0 = x;
  s.y0 = y;
  const int r = static_cast<int>(std::ceil(radius)) + 3;
  const int x_lo = std::max(1, static_cast<int>(x) - r), x_hi = std::min(image.nx, static_cast<int>(x) + r + 1);
  const int y_lo = std::max(1, static_cast<int>(y) - r), y_hi = std::min(image.ny, static_cast<int>(y) + r + 1);
  std::vector<float> ring;
  for (int j = y_lo; j <= y_hi; ++j)
    for (int i = x_lo; i <= x_hi; ++i) {
      const double d = std::hypot(i - x, j - y);
      if (d > radius && d <= radius + 3.0 && std::isfinite(image.at(i, j))) ring.push_back(image.at(i, j));
    }
  if (ring.empty()) return s;
  std::nth_element(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(ring.size() / 2), ring.end());
  const double base = ring[ring.size() / 2];
  double sw = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
  for (int j = y_lo; j <= y_hi; ++j)
    for (int i = x_lo; i <= x_hi; ++i) {
      const double dx = i - x, dy = j - y;
      const float v = image.at(i, j);
      if (dx * dx + dy * dy > radius * radius || !std::isfinite(v) || v <= base) continue;
      const double w = v - base;
      sw += w;
      sxx += w * dx * dx;
      syy += w * dy * dy;
      sxy += w * dx * dy;
    }
  if (!(sw > 0.0)) return s;
  sxx /= sw;
  syy /= sw;
  sxy /= sw;
  const double mean = 0.5 * (sxx + syy), diff = std::sqrt(0.25 * (sxx - syy) * (sxx - syy) + sxy * sxy);
  const double l1 = mean + diff, l2 = std::max(mean - diff, 0.0);
  if (!(l1 > 0.0)) return s;
  s.eps = std::clamp(1.0 - std::sqrt(l2 / l1), 0.0, 0.8);
  s.pa = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
  if (s.pa < 0.0) s.pa += 3.141592653589793;
  return s;
}

void mask_circle(std::vector<uint8_t>& mask, int nx, int ny, double x, double y, double r) {
  if (mask.size() != static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) || !(r > 0.0)) return;
  const int x_lo = std::max(1, static_cast<int>(std::ceil(x - r))),
            x_hi = std::min(nx, static_cast<int>(std::floor(x + r)));
  const int y_lo = std::max(1, static_cast<int>(std::ceil(y - r))),
            y_hi = std::min(ny, static_cast<int>(std::floor(y + r)));
  for (int j = y_lo; j <= y_hi; ++j)
    for (int i = x_lo; i <= x_hi; ++i)
      if ((i - x) * (i - x) + (j - y) * (j - y) <= r * r)
        mask[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(i - 1)] = 1;
}

}  // namespace zelvo
