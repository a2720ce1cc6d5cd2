#include "client/timeliness.hpp"

#include <gtest/gtest.h>

namespace korvo::vyr_impl {
namespace {

constexpr std::int64_t kMs = 1'000'000;

// Feeds one sample per millisecond for `ms` milliseconds, the counter rising by one in each of the
// first `total` of them; returns the last flag.
bool Feed(TimelinessWindow& w, std::int64_t& t, std::uint64_t& count, int ms, std::uint64_t total,
          double limit = 2.0) {
  bool flag = false;
  for (int i = 0; i < ms; ++i) {
    if (total > 0 && static_cast<std::uint64_t>(i) < total) ++count;
    flag = UpdateTimeliness(w, t, count, limit);
    t += kMs;
  }
  return flag;
}

TEST(Timeliness, TwentyLateCommandsInOneSecondAreToleratedTwentyOneAreNot) {
  TimelinessWindow w;
  std::int64_t t = 5'000 * kMs;
  std::uint64_t count = 100;
  EXPECT_FALSE(Feed(w, t, count, 1, 0));
  EXPECT_FALSE(Feed(w, t, count, 500, 20));
  EXPECT_FALSE(Feed(w, t, count, 100, 0));
  EXPECT_TRUE(Feed(w, t, count, 1, 1));
  // Once the old samples have left the one-second window the flag clears.
  EXPECT_TRUE(Feed(w, t, count, 100, 0));
  EXPECT_FALSE(Feed(w, t, count, 1000, 0));
}

TEST(Timeliness, TheLimitIsAPercentageOfOneThousandCommands) {
  TimelinessWindow w;
  std::int64_t t = 0;
  std::uint64_t count = 0;
  EXPECT_FALSE(Feed(w, t, count, 1, 0, 10.0));
  EXPECT_FALSE(Feed(w, t, count, 200, 100, 10.0));
  EXPECT_TRUE(Feed(w, t, count, 1, 1, 10.0));
  EXPECT_FALSE(Feed(w, t, count, 2000, 0, 0.0));  // no increase never fails, even at limit 0
}

TEST(Timeliness, ACounterThatRestartsLowerFailsUntilItsOldSamplesLeave) {
  TimelinessWindow w;
  std::int64_t t = 0;
  std::uint64_t count = 500;
  EXPECT_FALSE(Feed(w, t, count, 10, 0));
  count = 0;
  EXPECT_TRUE(Feed(w, t, count, 10, 0));
  EXPECT_FALSE(Feed(w, t, count, 1000, 0));
}

}  // namespace
}  // namespace korvo::vyr_impl
