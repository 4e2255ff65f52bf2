// A console reporter that also keeps the time per iteration of every benchmark run, so that
// a benchmark's main() can print ratios between runs after they are done.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace zelvo::bench {

class TimingReporter : public benchmark::ConsoleReporter {
 public:
  // Real and CPU time per iteration, in the run's own time unit; zeros for a run that did
  // not take place.
  struct Times {
    double real = 0.0;
    double cpu = 0.0;
  };

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred)
        times_[r.benchmark_name()] = Times{r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    ConsoleReporter::ReportRuns(runs);
  }

  Times time(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? Times{} : it->second;
  }

 private:
  std::map<std::string, Times> times_;
};

}  // namespace zelvo::bench
