#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "state/ByteCounter.h"
#include "state/Totals.h"

namespace tarvel {
namespace {

// The windows' counts restart at 0 when an addition takes them above 65535, nothing carried
// over: where they stand depends on every addition's size, not on the total. Each row adds its
// lengths to the three counted totals and names the count shown after each addition.
TEST(ByteCounter, ShownCountRestartsAtZeroWhenAnAdditionPassesTheLimit) {
  const std::pair<std::vector<uint64_t>, std::vector<int32_t>> rows[] = {
      // clang-format off
      {{0}, {0}}, {{65535}, {65535}}, {{65528, 7}, {65528, 65535}}, {{65535, 1, 5}, {65535, 0, 5}},
      {{65529, 7, 3}, {65529, 0, 3}}, {{65530, 10}, {65530, 0}} /* not 4: the excess is dropped */,
      {{65000, 600, 100}, {65000, 0, 100}}, {{65536}, {0}}, {{200000, 65535, 1}, {0, 65535, 0}},
      {{30000, 30000, 5535, 0, 1}, {30000, 60000, 65535, 65535, 0}}};
  // clang-format on
  for (const auto& [additions, shown] : rows) {
    SCOPED_TRACE(additions.front());
    PortTotals input;
    OstrelTotals totals;
    std::vector<int32_t> port, sent, received;
    for (const uint64_t length : additions) {
      input.Received(length);
      totals.Sent(std::string(length, 'x'));
      totals.Received(length);
      port.push_back(ShownByteCount(input.BytesReceived, input.RxShownFrom));
      sent.push_back(ShownByteCount(totals.BytesSent, totals.TxShownFrom));
      received.push_back(ShownByteCount(totals.BytesReceived, totals.RxShownFrom));
    }
    EXPECT_EQ(port, shown);
    EXPECT_EQ(sent, shown);
    EXPECT_EQ(received, shown);
  }
}

}  // namespace
}  // namespace tarvel
