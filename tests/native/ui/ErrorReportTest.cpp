#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/ErrorReport.h"

namespace ts {
namespace {

std::vector<std::string> reports;
void Record(const std::exception& error) { reports.push_back(error.what()); }
void Fail(const std::exception&) { throw std::runtime_error("the sink itself"); }

TEST(ErrorReport, EveryThrowReachesTheSinkOnceAndTheCallerGetsTheFallback) {
  struct Case {
    const char* name;
    std::function<int()> body;
    int result;
    std::optional<std::string> report;
  };
  const Case cases[] = {
      {"returns", [] { return 7; }, 7, std::nullopt},
      {"std exception", []() -> int { throw std::logic_error("bad state"); }, -1, "bad state"},
      {"own exception", []() -> int { throw Exception("Ошибка"); }, -1, "Ошибка"},
      {"not an exception", []() -> int { throw 42; }, -1, "Unknown error"},
  };
  const TErrorSink before = SetErrorSink(&Record);
  for (const Case& c : cases) {
    reports.clear();
    EXPECT_EQ(Guarded(c.body, -1), c.result) << c.name;
    EXPECT_EQ(reports, c.report ? std::vector<std::string>{*c.report} : std::vector<std::string>{}) << c.name;
    EXPECT_EQ(FailureOf(c.body), c.report) << c.name;
  }
  // A failing sink goes no further than the report.
  SetErrorSink(&Fail);
  EXPECT_EQ(Guarded([]() -> int { throw 1; }, 3), 3);
  EXPECT_EQ(SetErrorSink(before), &Fail);
}

}  // namespace
}  // namespace ts
