#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/TrafficTrace.h"
#include "fakes/FakeClock.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

class TrafficTraceTest : public ::testing::Test {
 protected:
  TrafficTraceTest() {
    clock_.Set(2017, 6, 7, 14, 14, 5);
    menus_.SetDebugChecked(true);
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int i = 0; i < list_.ListCount(); ++i) rows.push_back(list_.Item(i));
    return rows;
  }

  FakeClock clock_;
  InMemoryDebugList list_;
  InMemoryMenuChecks menus_;
  TrafficTrace trace_{clock_, list_, menus_};
};

// Control codes and bytes above 127 are rendered as their codes, in pieces of at most 180
// rendered characters, each with the time and the port or the alarm server.
TEST_F(TrafficTraceTest, RendersControlCodesInPiecesOnlyWhileTheWindowIsOpen) {
  const std::string a176(176, 'a'), a178(178, 'a'), a179(179, 'a'), a181(181, 'a');
  const struct Case {
    std::string data;
    std::vector<std::string> pieces;
  } cases[] = {// clang-format off
      {"A1\r\n", {"A1<13><10>"}},
      {std::string("\t\0\x1F", 3), {"<9><0><31>"}},
      {" \x7F~", {" \x7F~"}},
      {"J\xC4N\x80\xFF", {"J<196>N<128><255>"}},
      {std::string(180, 'a'), {std::string(180, 'a')}}, {a181, {a181}}, {a181 + "a", {a181, "a"}},
      {a179 + "\xC4" + "b", {a179 + "<196>", "b"}},     // a token crossing 180
      {a178 + "\n" + "b", {a178 + "<10>", "b"}},        // a token ending exactly at 181
      {a176 + "\n" + "bc", {a176 + "<10>b", "c"}},      // ending at 180 does not cut by itself
      {"", {}}};
  // clang-format on
  for (const Case& c : cases) {
    list_.Clear();
    trace_.TraceTraffic(0, c.data, TrafficTrace::Received);
    std::vector<std::string> expected;
    for (const std::string& piece : c.pieces) expected.push_back("14:14:05 Rx <- 0: " + piece);
    EXPECT_EQ(Rows(), expected) << c.data.substr(0, 20) << " (" << c.data.size() << " bytes)";
  }
  list_.Clear();
  trace_.TraceTraffic(-5, "x", TrafficTrace::Sent);  // any negative port
  trace_.TraceTraffic(1, "y", TrafficTrace::Received);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"14:14:05 Tx -> Ostrel: x", "14:14:05 Rx <- 1: y"}));
  // With the debug window closed nothing is rendered, nor kept for when it opens again.
  menus_.SetDebugChecked(false);
  trace_.TraceTraffic(0, "A1\r\n", TrafficTrace::Received);
  trace_.AddDebugLine("line");
  menus_.SetDebugChecked(true);
  list_.Clear();
  trace_.TraceTraffic(0, "A2", TrafficTrace::Received);
  EXPECT_EQ(Rows(), std::vector<std::string>{"14:14:05 Rx <- 0: A2"});
}

TEST_F(TrafficTraceTest, KeepsTheNewest500RowsAndStopsTrimmingAListThatDoesNotShrink) {
  for (int i = 1; i <= 501; ++i) trace_.AddDebugLine("row " + std::to_string(i));
  ASSERT_EQ(list_.ListCount(), 500);
  EXPECT_EQ(list_.Item(0), "row 2");
  EXPECT_EQ(list_.Item(499), "row 501");
  EXPECT_EQ(list_.SelectedIndex(), 499);

  struct StuckList : InMemoryDebugList {  // trimming stops instead of holding the gateway
    void RemoveItem(int) override {}
  } stuck;
  TrafficTrace trace(clock_, stuck, menus_);
  for (int i = 0; i < 502; ++i) trace.AddDebugLine("x");
  EXPECT_EQ(stuck.ListCount(), 502);
}

}  // namespace
}  // namespace tarvel
