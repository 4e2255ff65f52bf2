// Console, generator and debug-log path for driving the removal routines in tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "numeric/random.h"
#include "platform/console.h"
#include "removal/removal_context.h"

namespace zelvo::testing {

struct RemovalHarness {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
  Random rng;
  int32_t seed;
  std::filesystem::path log_path;  // a fresh file per test, removed afterwards

  explicit RemovalHarness(int32_t first_seed = -7) : seed(first_seed) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    log_path = std::filesystem::path(::testing::TempDir()) /
               (std::string("zelvo_") + info->test_suite_name() + "_" + info->name() + ".log");
    std::filesystem::remove(log_path);
  }
  ~RemovalHarness() { std::filesystem::remove(log_path); }
  RemovalHarness(const RemovalHarness&) = delete;
  RemovalHarness& operator=(const RemovalHarness&) = delete;

  RemovalContext ctx(int extlogs = 0) { return RemovalContext{con, rng, seed, extlogs, log_path}; }
};

}  // namespace zelvo::testing
