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
      {"0", false},           {"1", true},          {" 2 ", true},           {"-1", true},
      {"0.0", false},         {"&H1", true},        {"abc", std::nullopt},   {"", std::nullopt},
      {"1abc", std::nullopt}, {"1E", std::nullopt}, {"1e999", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(RunAsServiceValue(row.text), row.expected) << row.text;
}

}  // namespace
}  // namespace tarvel
