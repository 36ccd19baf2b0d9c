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

TEST(CommandLine, ValueOptionsTakeTheNextArgumentOrTheTextAfterTheEqualsSign) {
  const CommandLine line = CommandLine::Parse(
      {"--config", "/etc/x.ini", "--log-dir=logs", "--dir=/srv/gw", "--config=--dir"});
  EXPECT_EQ(line.Error, "");
  EXPECT_EQ(line.Config, "--dir");  // the last one given wins; a value is never an option
  EXPECT_EQ(line.LogDir, "logs");
  EXPECT_EQ(line.Dir, "/srv/gw");
  for (const char* option : {"--config", "--log-dir", "--config=", "--log-dir="})
    EXPECT_NE(CommandLine::Parse({option}).Error, "") << option;
}

// Installed (in a folder named bin or sbin) and given no --dir, the program never uses its own
// folder; a build tree or --dir keeps everything in the program folder. Given paths always win.
TEST(CommandLine, LayoutFollowsTheOptionsThenWhereTheProgramIs) {
  const struct Row {
    std::vector<std::string> arguments;
    std::string executable;
    std::string programPath, configPath, logPath;
  } rows[] = {
      {{},
       "/usr/bin/tarvel80import",
       "/var/lib/tarvel80import/",
       "/etc/tarvel80import/TARVEL80Import.ini",
       "/var/log/tarvel80import/"},
      {{},
       "/usr/local/sbin/tarvel80import",
       "/var/lib/tarvel80import/",
       "/etc/tarvel80import/TARVEL80Import.ini",
       "/var/log/tarvel80import/"},
      {{"--config", "north.ini"},
       "/opt/t/bin/tarvel80import",
       "/var/lib/tarvel80import/",
       "/home/me/north.ini",
       "/var/log/tarvel80import/"},
      {{"--dir", "/srv/gw"},
       "/usr/bin/tarvel80import",
       "/srv/gw/",
       "/srv/gw/TARVEL80Import.ini",
       "/srv/gw/LogFiles/"},
      {{},
       "/home/me/build/tarvel80import",
       "/home/me/build/",
       "/home/me/build/TARVEL80Import.ini",
       "/home/me/build/LogFiles/"},
      {{},
       "/home/me/binaries/tarvel80import",
       "/home/me/binaries/",
       "/home/me/binaries/TARVEL80Import.ini",
       "/home/me/binaries/LogFiles/"},
      {{"--dir", "./a/../b/", "--log-dir", "/var/log/x"},
       "/x/y",
       "/home/me/b/",
       "/home/me/b/TARVEL80Import.ini",
       "/var/log/x/"},
      {{"--dir=examples", "--config=/etc/a.ini", "--log-dir=logs/"},
       "/usr/bin/tarvel80import",
       "/home/me/examples/",
       "/etc/a.ini",
       "/home/me/logs/"},
  };
  for (const Row& row : rows) {
    std::string shown = row.executable;
    for (const auto& argument : row.arguments) shown += " " + argument;
    const ProgramLayout layout =
        ResolveLayout(CommandLine::Parse(row.arguments), row.executable, "/home/me");
    EXPECT_EQ(layout.ProgramPath, row.programPath) << shown;
    EXPECT_EQ(layout.ConfigPath, row.configPath) << shown;
    EXPECT_EQ(layout.LogPath, row.logPath) << shown;
  }
}

}  // namespace
}  // namespace tarvel
