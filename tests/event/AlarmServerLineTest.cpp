#include <gtest/gtest.h>

#include <string>

#include "event/AlarmServerLine.h"

namespace tarvel {
namespace {

std::string LineOf(const Event& event) {
  std::string line = "kept ";  // appended, not replaced
  AppendEventLine(line, event);
  return line;
}

TEST(AlarmServerLine, EveryKindOfLine) {
  const DateTime stamp{2017, 1, 2, 3, 4, 5};
  struct Row {
    std::string line, expected;
  } rows[] = {
      {LineOf({EventState::Acknowledged, stamp, "T", "x"}), "kept 2|2017-01-02|03:04:05|T||||x\n"},
      {LineOf({EventState::Alarm, std::nullopt, "", ""}), "kept 1|||||||\n"},
      {WatchdogLine("WD"), "1|||WD\n"},
      {LineOf(PortFailedEvent("Fire panel", 3, 60)),
       "kept 1|||Fire panel||||TARVEL80 Connection 'Fire panel' (3) have failed (no events "
       "within 60 s)\n"},
      {LineOf(PortStillBadEvent("Door", 7, 300)),
       "kept 1|||Door||||TARVEL80 Connection 'Door' (7) is still bad (cyclic 300 s reminder)\n"},
      {LineOf(PortRestoredEvent("", 0)),
       "kept 0|||||||TARVEL80 Connection '' (0) has been restored\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.line, row.expected);
}

}  // namespace
}  // namespace tarvel
