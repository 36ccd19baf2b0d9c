#include <gtest/gtest.h>

#include <string>

#include "config/ConfigReader.h"

namespace tarvel {
namespace {

TEST(ConfigReader, RunAsServiceTakesOnlyANumber) {
  const struct Row {
    const char* text;
    std::optional<bool> expected;
  } rows[] = {
      {"0", false},           {"1", true},           {" 2 ", true},
      {"-1", true},           {"0.0", false},        {"0.4", true},
      {"&H1", true},          {"abc", std::nullopt}, {"", std::nullopt},
      {"1abc", std::nullopt}, {"1E", std::nullopt},  {"1e999", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(RunAsServiceValue(row.text), row.expected) << row.text;
}

TEST(ConfigReader, PortNumberIsAWholeNumberFrom1To65535) {
  const struct Row {
    const char* text;
    std::optional<int32_t> expected;
  } rows[] = {
      {"8080", 8080}, {" 8080 ", 8080}, {"1", 1},  {"65535", 65535}, {"8080x", {}},
      {"abc", {}},    {"", {}},         {"0", {}}, {"65536", {}},    {"-1", {}},
      {"80.5", {}},   {"80 80", 8080},  // blanks inside are skipped, as everywhere a number is read
  };
  for (const Row& row : rows) EXPECT_EQ(PortNumberValue(row.text), row.expected) << row.text;
}

// Missing, empty or 0: no status server.
TEST(ConfigReader, StatusPortIsOffOrAPortNumber) {
  const std::pair<std::string, std::optional<int32_t>> rows[] = {{"", 0},
                                                                 {"StatusPort=\n", 0},
                                                                 {"StatusPort=0\n", 0},
                                                                 {"StatusPort=8080\n", 8080},
                                                                 {"StatusPort=abc\n", {}},
                                                                 {"StatusPort=00\n", {}},
                                                                 {"StatusPort=0x\n", {}}};
  for (const auto& [line, expected] : rows) {
    GeneralSettings settings;
    const bool failed =
        ReadGeneralSettings(IniFile::FromText("[General]\n" + line), settings).has_value();
    EXPECT_EQ(failed ? std::nullopt : std::optional(settings.StatusPort), expected) << line;
  }
}

}  // namespace
}  // namespace tarvel
