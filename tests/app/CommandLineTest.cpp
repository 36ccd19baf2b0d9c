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
  const Arguments refused[] = {// clang-format off
      {"--dir"}, {"--dir", ""}, {"/X"}, {"/UI"}, {"-x"}, {"--strict"}, {"--config"}, {"--log-dir"},
      {"--config="}, {"--log-dir="}};
  // clang-format on
  for (const Arguments& arguments : refused) EXPECT_EQ(Parsed(arguments), "error") << arguments[0];
}

// Installed (in a folder named bin or sbin) and given no --dir, the program never uses its own
// folder; a build tree or --dir keeps everything in the program folder. Given paths always win.
TEST(CommandLine, LayoutFollowsTheOptionsThenWhereTheProgramIs) {
  // The program folder, the configuration and the log folder, in one text.
  const auto layout = [](const std::string& program, const std::string& config,
                         const std::string& log) { return program + " " + config + " " + log; };
  const auto inFolder = [&](const std::string& folder) {
    return layout(folder, folder + "TARVEL80Import.ini", folder + "LogFiles/");
  };
  const std::string system =
      layout("/var/lib/tarvel80import/", "/etc/tarvel80import/TARVEL80Import.ini",
             "/var/log/tarvel80import/");
  const struct Row {
    Arguments arguments;
    std::string executable, expected;
  } rows[] = {
      // clang-format off
      {{}, "/usr/bin/tarvel80import", system},
      {{}, "/usr/local/sbin/tarvel80import", system},
      {{"--config", "north.ini"}, "/opt/t/bin/x",
       layout("/var/lib/tarvel80import/", "/home/me/north.ini", "/var/log/tarvel80import/")},
      {{"--dir", "/srv/gw"}, "/usr/bin/x", inFolder("/srv/gw/")},
      {{}, "/home/me/build/x", inFolder("/home/me/build/")},
      {{}, "/home/me/binaries/x", inFolder("/home/me/binaries/")},
      {{"--dir", "./a/../b/", "--log-dir", "/var/log/x"}, "/x/y",
       layout("/home/me/b/", "/home/me/b/TARVEL80Import.ini", "/var/log/x/")},
      {{"--dir=examples", "--config=/etc/a.ini", "--log-dir=logs/"}, "/usr/bin/x",
       layout("/home/me/examples/", "/etc/a.ini", "/home/me/logs/")},
      // clang-format on
  };
  for (const Row& row : rows) {
    const ProgramLayout got =
        ResolveLayout(CommandLine::Parse(row.arguments), row.executable, "/home/me");
    EXPECT_EQ(layout(got.ProgramPath, got.ConfigPath, got.LogPath), row.expected) << row.executable;
  }
}

}  // namespace
}  // namespace tarvel
