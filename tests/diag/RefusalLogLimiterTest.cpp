#include <gtest/gtest.h>

#include <string>

#include "diag/RefusalLogLimiter.h"
#include "fakes/FakeClock.h"

namespace tarvel {
namespace {

class RefusalLogLimiterTest : public ::testing::Test {
 protected:
  // The clock `seconds` after 2017-06-07 23:59:00 (so tests cross midnight).
  void At(int seconds) {
    const int total = 23 * 3600 + 59 * 60 + seconds;
    const int rest = total % 86400;
    clock.Set(2017, 6, 7 + total / 86400, rest / 3600, rest / 60 % 60, rest % 60);
  }
  std::string Admit(const std::string& address) {
    return limiter.Admit(address, "Refused from " + address).value_or("(held back)");
  }

  FakeClock clock;
  RefusalLogLimiter limiter{clock, 4};
};

TEST_F(RefusalLogLimiterTest, OneLinePerAddressPerMinuteAndTheCountInTheNext) {
  const struct Step {
    int second;
    const char *address, *expected;
  } steps[] = {
      {0, "10.0.0.1", "Refused from 10.0.0.1"},
      {0, "10.0.0.1", "(held back)"},
      {1, "10.0.0.2", "Refused from 10.0.0.2"},
      {30, "10.0.0.1", "(held back)"},
      {59, "10.0.0.1", "(held back)"},
      {60, "10.0.0.1", "Refused from 10.0.0.1 (3 more refused since the last report)"},
      {61, "10.0.0.2", "Refused from 10.0.0.2"},  // nothing was held back for this one
      {100, "10.0.0.1", "(held back)"},
      {500, "10.0.0.1", "Refused from 10.0.0.1 (1 more refused since the last report)"},
      {560, "10.0.0.1", "Refused from 10.0.0.1"},
      {40, "10.0.0.1", "Refused from 10.0.0.1"},  // a clock set back never holds lines back
      {40, "10.0.0.1", "(held back)"},
  };
  for (const Step& step : steps) {
    At(step.second);
    EXPECT_EQ(Admit(step.address), step.expected) << "second " << step.second;
  }
}

TEST_F(RefusalLogLimiterTest, TableStaysBoundedAndAFullTableSharesOneSlot) {
  At(0);
  for (const char* address : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"})
    EXPECT_EQ(Admit(address), std::string("Refused from ") + address);
  // Full of recent keys: newcomers share the overflow slot, one line a minute between them.
  EXPECT_EQ(Admit("10.0.1.1"), "Refused from 10.0.1.1");
  EXPECT_EQ(Admit("10.0.1.2"), "(held back)");
  EXPECT_EQ(limiter.TrackedKeys(), 4u);
  At(30);
  EXPECT_EQ(Admit("10.0.0.4"), "(held back)") << "a tracked key keeps its own slot";
  At(60);  // a minute on, the old keys make room
  EXPECT_EQ(Admit("10.0.1.2"), "Refused from 10.0.1.2");
  EXPECT_EQ(limiter.TrackedKeys(), 1u);
  // A flood from many addresses never grows the table past its capacity.
  for (int n = 0; n < 10000; ++n) limiter.Admit("2001:db8::" + std::to_string(n), "x");
  EXPECT_LE(limiter.TrackedKeys(), 4u);
}

}  // namespace
}  // namespace tarvel
