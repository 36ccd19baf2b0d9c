#include <gtest/gtest.h>

#include <string>

#include "diag/DebugSave.h"
#include "fakes/FakeClock.h"
#include "support/TempFolder.h"
#include "ui/InMemoryViews.h"

namespace tarvel {
namespace {

class DebugSaveTest : public ::testing::Test {
 protected:
  DebugSaveTest() { clock_.Set(2017, 6, 7, 8, 9, 10); }

  std::string ProgramPath() const { return folder_.Path(); }
  std::string SavedFile() const { return folder_.ReadFile("debug.txt"); }
  static std::string Header(const std::string& stamp) {
    return "DEBUG INFO\r\nSaved from TARVEL80 Import for Ostrel Alarm Server Debug " + stamp +
           "\r\n" + std::string(100, '-') + "\r\n";
  }
  static std::string Footer() { return std::string(80, '-') + "\r\n"; }

  TempFolder folder_;
  FakeClock clock_;
  InMemoryDebugList list_;
  DebugSave save_{clock_};
};

TEST_F(DebugSaveTest, AppendsOneBlockPerSaveWithNumberedRows) {
  ASSERT_TRUE(save_.SaveDebugInfo(ProgramPath(), list_));  // empty: header and footer only
  list_.AddItem("first");
  list_.AddItem("J\xC4N<13>");
  ASSERT_TRUE(save_.SaveDebugInfo(ProgramPath(), list_));
  clock_.Set(2017, 12, 31, 23, 59, 59);
  ASSERT_TRUE(save_.SaveDebugInfo(ProgramPath(), list_));

  const std::string rows = "000 first\r\n001 J\xC4N<13>\r\n";
  EXPECT_EQ(SavedFile(), Header("2017-06-07 08:09:10") + Footer() + Header("2017-06-07 08:09:10") +
                             rows + Footer() + Header("2017-12-31 23:59:59") + rows + Footer());
  EXPECT_EQ(list_.ListCount(), 2) << "saving leaves the list alone";
}

}  // namespace
}  // namespace tarvel
