#include <gtest/gtest.h>

#include "state/ByteCounter.h"

namespace tarvel {
namespace {

TEST(ByteCounter, SetToZeroAboveTheLimitAndKeepsTheLimitItself) {
  struct Row {
    int32_t start;
    int64_t added;
    int32_t expected;
  } rows[] = {{0, 0, 0},     {65435, 100, 65535}, {65500, 100, 0},
              {65535, 1, 0}, {65500, 40, 0},      {10, 70000, 0}};
  for (const Row& row : rows) {
    int32_t counter = row.start;
    AddToByteCounter(counter, row.added);
    EXPECT_EQ(counter, row.expected) << row.start << " + " << row.added;
  }
}

}  // namespace
}  // namespace tarvel
