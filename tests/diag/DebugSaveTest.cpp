#include <gtest/gtest.h>

#include <string>

#include "diag/DebugSave.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

std::string Block(const std::string& stamp, const std::string& rows) {
  return "DEBUG INFO\r\nSaved from TARVEL80 Import for Ostrel Alarm Server Debug " + stamp +
         "\r\n" + std::string(100, '-') + "\r\n" + rows + std::string(80, '-') + "\r\n";
}

TEST(DebugSave, AppendsOneBlockPerSaveWithNumberedRows) {
  TempFolder folder;
  FakeClock clock;
  clock.Set(2017, 6, 7, 8, 9, 10);
  InMemoryDebugList list;
  DebugSave save(clock);
  ASSERT_TRUE(save.SaveDebugInfo(folder.Path(), list));  // empty: header and footer only
  list.AddItem("first");
  list.AddItem("J\xC4N<13>");
  clock.Set(2017, 12, 31, 23, 59, 59);
  ASSERT_TRUE(save.SaveDebugInfo(folder.Path(), list));
  EXPECT_EQ(folder.ReadFile("debug.txt"),
            Block("2017-06-07 08:09:10", "") +
                Block("2017-12-31 23:59:59", "000 first\r\n001 J\xC4N<13>\r\n"));
  EXPECT_EQ(list.ListCount(), 2) << "saving leaves the list alone";
}

}  // namespace
}  // namespace tarvel
