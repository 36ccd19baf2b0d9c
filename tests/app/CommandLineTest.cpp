#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace tarvel {
namespace {

using Arguments = std::vector<std::string>;

// The switches set, as letters (Install, Uninstall, Headless, Check, Strict, ? for help,
// Version), then the values given.
std::string Parsed(const Arguments& arguments) {
  const CommandLine line = CommandLine::Parse(arguments);
  if (!line.Error.empty()) return "error";
  std::string text;
  const bool flags[] = {line.Install, line.Uninstall, line.Headless, line.Check,
                        line.Strict,  line.Help,      line.Version};
  for (size_t i = 0; i < std::size(flags); ++i)
    if (flags[i]) text += "IUHCS?V"[i];
  for (const auto& [name, value] :
       {std::pair{" dir=", line.Dir}, {" config=", line.Config}, {" log=", line.LogDir}})
    if (!value.empty()) text += name + value;
  return text;
}

// Switches count only as whole arguments and /U wins; a value is never an option, and the last
// one given wins.
TEST(CommandLine, ParsesWhatItKnowsAndRefusesTheRest) {
  const std::pair<Arguments, std::string> rows[] = {
      {{}, ""},
      {{"/I"}, "I"},
      {{"/i"}, "I"},
      {{"/u"}, "U"},
      {{"/I", "/U"}, "U"},
      {{"/U", "/i"}, "U"},
      // A folder under /usr or /opt/Inst must not be read as a switch.
      {{"--dir", "/usr/local/tarvel"}, " dir=/usr/local/tarvel"},
      {{"--dir", "/I"}, " dir=/I"},
      {{"--dir=/opt/x", "--headless"}, "H dir=/opt/x"},
      {{"--headless", "--dir", "/u", "/I"}, "IH dir=/u"},
      {{"--config", "/etc/x.ini", "--log-dir=logs", "--dir=/srv/gw", "--config=--dir"},
       " dir=/srv/gw config=--dir log=logs"},
      {{"--strict", "--check"}, "CS"},
      {{"--help"}, "?"},
      {{"--version"}, "V"},
  };
  for (const auto& [arguments, parsed] : rows) EXPECT_EQ(Parsed(arguments), parsed) << parsed;
  for (const Arguments& arguments : {Arguments{"--dir"},
                                     {"--dir", ""},
                                     {"/X"},
                                     {"/UI"},
                                     {"-x"},
                                     {"--strict"},
                                     {"--config"},
                                     {"--log-dir"},
                                     {"--config="},
                                     {"--log-dir="}})
    EXPECT_EQ(Parsed(arguments), "error") << arguments[0];
}

// Installed (in a folder named bin or sbin) and given no --dir, the program never uses its own
// folder; a build tree or --dir keeps everything in the program folder. Given paths always win.
TEST(CommandLine, LayoutFollowsTheOptionsThenWhereTheProgramIs) {
  const std::string lib = "/var/lib/tarvel80import/",
                    etc = "/etc/tarvel80import/TARVEL80Import.ini",
                    log = "/var/log/tarvel80import/", build = "/home/me/build/";
  const struct Row {
    Arguments arguments;
    std::string executable, programPath, configPath, logPath;
  } rows[] = {
      {{}, "/usr/bin/tarvel80import", lib, etc, log},
      {{}, "/usr/local/sbin/tarvel80import", lib, etc, log},
      {{"--config", "north.ini"}, "/opt/t/bin/tarvel80import", lib, "/home/me/north.ini", log},
      {{"--dir", "/srv/gw"},
       "/usr/bin/x",
       "/srv/gw/",
       "/srv/gw/TARVEL80Import.ini",
       "/srv/gw/LogFiles/"},
      {{}, build + "tarvel80import", build, build + "TARVEL80Import.ini", build + "LogFiles/"},
      {{},
       "/home/me/binaries/x",
       "/home/me/binaries/",
       "/home/me/binaries/TARVEL80Import.ini",
       "/home/me/binaries/LogFiles/"},
      {{"--dir", "./a/../b/", "--log-dir", "/var/log/x"},
       "/x/y",
       "/home/me/b/",
       "/home/me/b/TARVEL80Import.ini",
       "/var/log/x/"},
      {{"--dir=examples", "--config=/etc/a.ini", "--log-dir=logs/"},
       "/usr/bin/x",
       "/home/me/examples/",
       "/etc/a.ini",
       "/home/me/logs/"},
  };
  for (const Row& row : rows) {
    const ProgramLayout layout =
        ResolveLayout(CommandLine::Parse(row.arguments), row.executable, "/home/me");
    EXPECT_EQ(layout.ProgramPath + " " + layout.ConfigPath + " " + layout.LogPath,
              row.programPath + " " + row.configPath + " " + row.logPath)
        << row.executable;
  }
}

}  // namespace
}  // namespace tarvel
