// The progress of a long job (a list of objects, the points of a rotation curve): one status
// line that updates in place on a terminal, with the count, the rate and the time left.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace zelvo {

class Console;

// The status text after `done` of `total` items of the kind `what` ("object") in `seconds`:
// "object 12 of 64, 3.1 a second, about 17 s left". The rate and the time left appear once
// an item is done and the time is measurable.
std::string progress_text(std::string_view what, std::size_t done, std::size_t total, double seconds);

// A duration as the progress and summary lines say it: "0.4 s", "17 s", "3 min 5 s", "2 h 10 min".
std::string duration_text(double seconds);

// Shows progress_text on the console's status line (a terminal only: elsewhere nothing is
// written, so scripted output carries no carriage returns) and removes it when destroyed.
class ProgressMeter {
 public:
  ProgressMeter(Console& con, std::string what, std::size_t total);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // `done` items are finished (the line shows the one being worked on as done + 1 of total).
  void update(std::size_t done);
  // Seconds since the meter was made.
  double seconds() const;

 private:
  Console& con_;
  std::string what_;
  std::size_t total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace zelvo
