#include "platform/progress_meter.h"

#include <cmath>
#include <cstdio>

#include <utility>

#include "platform/console.h"

namespace zelvo {

std::string duration_text(double seconds) {
  char buf[48];
  if (!(seconds >= 0.0)) seconds = 0.0;
  if (seconds < 10.0) {
    std::snprintf(buf, sizeof buf, "%.1f s", seconds);
  } else if (seconds < 60.0) {
    std::snprintf(buf, sizeof buf, "%.0f s", seconds);
  } else if (seconds < 3600.0) {
    const long s = std::lround(seconds);
    std::snprintf(buf, sizeof buf, "%ld min %ld s", s / 60, s % 60);
  } else {
    const long m = std::lround(seconds / 60.0);
    std::snprintf(buf, sizeof buf, "%ld h %ld min", m / 60, m % 60);
  }
  return buf;
}

std::string progress_text(std::string_view what, std::size_t done, std::size_t total, double seconds) {
  const std::size_t working = done < total ? done + 1 : total;
  std::string t = std::string(what) + " " + std::to_string(working) + " of " + std::to_string(total);
  if (done == 0 || !(seconds > 0.0)) return t;
  const double rate = static_cast<double>(done) / seconds;
  char buf[48];
  if (rate >= 1.0)
    std::snprintf(buf, sizeof buf, ", %.*f a second", rate < 10.0 ? 1 : 0, rate);
  else
    std::snprintf(buf, sizeof buf, ", %s each", duration_text(1.0 / rate).c_str());
  t += buf;
  if (done < total) t += ", about " + duration_text(static_cast<double>(total - done) / rate) + " left";
  return t;
}

ProgressMeter::ProgressMeter(Console& con, std::string what, std::size_t total)
    : con_(con), what_(std::move(what)), total_(total), start_(std::chrono::steady_clock::now()) {}

ProgressMeter::~ProgressMeter() { con_.progress_done(); }

double ProgressMeter::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressMeter::update(std::size_t done) {
  if (!con_.terminal()) return;
  con_.progress(progress_text(what_, done, total_, seconds()));
}

}  // namespace zelvo
