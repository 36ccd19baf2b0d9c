#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace tarvel {
namespace {

TEST(CommandLine, SwitchesCountOnlyAsWholeArgumentsAndUninstallWins) {
  struct Row {
    std::vector<std::string> arguments;
    bool install, uninstall, headless;
    std::string dir;
  } rows[] = {{{}, false, false, false, ""},
              {{"/I"}, true, false, false, ""},
              {{"/i"}, true, false, false, ""},
              {{"/u"}, false, true, false, ""},
              {{"/I", "/U"}, false, true, false, ""},
              {{"/U", "/i"}, false, true, false, ""},
              // A folder under /usr or /opt/Inst must not be read as a switch.
              {{"--dir", "/usr/local/tarvel"}, false, false, false, "/usr/local/tarvel"},
              {{"--dir", "/I"}, false, false, false, "/I"},
              {{"--dir=/opt/x", "--headless"}, false, false, true, "/opt/x"},
              {{"--headless", "--dir", "/u", "/I"}, true, false, true, "/u"}};
  for (const Row& row : rows) {
    std::string shown;
    for (const auto& argument : row.arguments) shown += argument + " ";
    const CommandLine line = CommandLine::Parse(row.arguments);
    EXPECT_EQ(line.Error, "") << shown;
    EXPECT_EQ(line.Install, row.install) << shown;
    EXPECT_EQ(line.Uninstall, row.uninstall) << shown;
    EXPECT_EQ(line.Headless, row.headless) << shown;
    EXPECT_EQ(line.Dir, row.dir) << shown;
  }
}

TEST(CommandLine, RejectsWhatItDoesNotKnow) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--dir"}, {"--dir", ""}, {"/X"}, {"/UI"}, {"-x"}, {"--strict"}}) {
    EXPECT_NE(CommandLine::Parse(arguments).Error, "") << arguments[0];
  }
  EXPECT_TRUE(CommandLine::Parse({"--strict", "--check"}).Strict);
  EXPECT_TRUE(CommandLine::Parse({"--help"}).Help);
  EXPECT_TRUE(CommandLine::Parse({"--version"}).Version);
}

TEST(CommandLine, ProgramFolderIsAbsoluteAndEndsInASlash) {
  EXPECT_EQ(ProgramFolder("", "/opt/tarvel/tarvel80import", "/home"), "/opt/tarvel/");
  EXPECT_EQ(ProgramFolder("/srv/gw", "/opt/tarvel/tarvel80import", "/home"), "/srv/gw/");
  EXPECT_EQ(ProgramFolder("/srv/gw/", "/x/y", "/home"), "/srv/gw/");
  EXPECT_EQ(ProgramFolder("examples", "/x/y", "/home/me"), "/home/me/examples/");
  EXPECT_EQ(ProgramFolder("./a/../b", "/x/y", "/home/me"), "/home/me/b/");
}

}  // namespace
}  // namespace tarvel
