// When to ask a server again: its Retry-After, a file's back-off, the re-check period.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "net/retry_after.h"
#include "net/retry_timing.h"

namespace brisal {
namespace {

TEST(ParseRetryAfter, TakesSecondsAndDatesAndRefusesTheRest) {
  constexpr std::int64_t kNow = 1709164790;  // Wed, 28 Feb 2024 23:59:50 GMT
  using Cases = std::vector<std::pair<const char*, std::int64_t>>;
  const Cases numbers = {{"120", 120}, {" 5\t", 5}, {"-5", 0}, {"12a", 0}, {"", 0}};
  const Cases dates = {
      {"Thu, 29 Feb 2024 00:01:50 GMT", 120}, {"Thursday, 29-Feb-24 00:01:50 GMT", 120},
      {"Thu Feb 29 00:01:50 2024", 120},      {"Wed, 28 Feb 2024 23:59:00 GMT", 0},
      {"Fri, 30 Feb 2024 00:01:50 GMT", 0},   {"99999999999999999999999999999", 600}};
  for (const Cases& cases : {numbers, dates}) {
    for (const auto& [value, expected] : cases) {
      EXPECT_EQ(ParseRetryAfter(value, kNow).count(), expected) << '"' << value << '"';
    }
  }
}

TEST(RetryDelay, DoublesScattersAndYieldsToTheServer) {
  using namespace std::chrono_literals;
  const std::tuple<int, double, std::chrono::seconds, std::int64_t> cases[] = {
      {1, 0.5, 0s, 700},     {2, 0.5, 0s, 1400},     {2, 0.0, 0s, 700},       {2, 0.999, 0s, 2099},
      {40, 0.5, 0s, 600000}, {1, 0.9, 120s, 120000}, {3, 0.1, 3600s, 600000}, {2, 1.7, 0s, 1400}};
  for (const auto& [attempt, random_unit, retry_after, expected_ms] : cases) {
    EXPECT_EQ(RetryDelay(attempt, 700ms, random_unit, retry_after).count(), expected_ms);
  }
}

TEST(RecheckPeriod, DoublesPerFailureUpToAnHourWithinTenPercent) {
  const std::tuple<std::int32_t, std::uint32_t, double, std::int64_t> cases[] = {
      {90, 0, 0.5, 90000},  {90, 0, 0.0, 81000},    {90, 0, 0.99999, 99000}, {90, 2, 0.5, 360000},
      {90, 1, 0.0, 162000}, {90, 60, 0.5, 3600000}, {7200, 3, 0.5, 7200000}};
  for (const auto& [configured, failures, random_unit, expected_ms] : cases) {
    EXPECT_EQ(RecheckPeriod(configured, failures, random_unit).count(), expected_ms) << failures;
  }
}

}  // namespace
}  // namespace brisal
