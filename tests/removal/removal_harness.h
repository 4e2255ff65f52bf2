// Generator, debug log and the reported lines for driving the removal routines in tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "numeric/random.h"
#include "removal/removal_context.h"

namespace zelvo::testing {

struct RemovalHarness {
  std::ostringstream out;  // the lines the routines reported, as the command window shows them
  Random rng;
  int32_t seed;
  std::filesystem::path log_path;  // a fresh file per test, removed afterwards
  std::ofstream log_file;          // the debug log, appended to

  explicit RemovalHarness(int32_t first_seed = -7) : seed(first_seed) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("zelvo_") + info->test_suite_name() + "_" + info->name() + ".log";
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests: "Suite/Test/Case"
    log_path = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove(log_path);
  }
  ~RemovalHarness() {
    log_file.close();
    std::filesystem::remove(log_path);
  }
  RemovalHarness(const RemovalHarness&) = delete;
  RemovalHarness& operator=(const RemovalHarness&) = delete;

  RemovalContext ctx(int extlogs = 0) {
    if (!log_file.is_open()) log_file.open(log_path, std::ios::app);
    return RemovalContext{rng, seed, extlogs, &log_file};
  }
  // Passes a routine's result on, its notes added to `out`.
  template <class Result>
  Result keep(Result r) {
    for (const std::string& l : r.notes) out << l << '\n';
    return r;
  }
};

}  // namespace zelvo::testing
