// Prints the cost of the line helpers on a typical received line and on long worst cases.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/Clock.h"
#include "text/CharsetConversion.h"
#include "text/DateTime.h"
#include "text/TextFields.h"

namespace {

using namespace tarvel;

class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2017, 6, 7, 12, 0, 0, 0}; }
};

template <typename Work>
double NanosecondsPerRun(int runs, Work work) {
  const auto start = std::chrono::steady_clock::now();
  for (int run = 0; run < runs; ++run) work();
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / runs;
}

}  // namespace

int main() {
  const FixedClock clock;
  const std::string typical = "NACK ALARM 12-JAN-17 10:20:30 Fire detector {ground floor} 0123";
  const std::string singleLine = "ALARM 07-06-2017 10:20:30 ZONE-12-DOOR      Door forced open";
  std::size_t sink = 0;

  const double perLine = NanosecondsPerRun(200000, [&] {
    std::string line = typical;
    Swedish7BitToLatin1(line);
    DOSToLatin1(line);
    const std::string cleaned = CleanText(line);
    sink += UpperCase(GetFieldView(cleaned, 0, " ")).size();
    std::string separator = " ";
    sink += GetField(cleaned, 1, separator).size();
    sink += static_cast<std::size_t>(ExtractDateTime(DateTime{}, line, clock).Day);
  });
  const double singleLineParse = NanosecondsPerRun(200000, [&] {
    sink += static_cast<std::size_t>(DateParse(5, GetFieldView(singleLine, 1, " "), 1, clock).Day +
                                     TimeParse(1, GetFieldView(singleLine, 2, " "), 1, clock));
  });
  std::printf("typical %zu-character line, convert+clean+words+extract: %.0f ns\n", typical.size(),
              perLine);
  std::printf("single-line date and time fields: %.0f ns\n", singleLineParse);

  // Worst case for the cut loop: stamps back to back, two words apart so that each is found.
  std::string stamps;
  while (stamps.size() < 32767) stamps += "a b 12-JAN-17 10:20:30 ";
  const double manyCuts = NanosecondsPerRun(5, [&] {
    std::string text = stamps;
    sink += static_cast<std::size_t>(ExtractDateTime(DateTime{}, text, clock).Day) + text.size();
  });
  std::printf("%zu characters holding %zu stamps, extract: %.2f ms\n", stamps.size(),
              stamps.size() / 23, manyCuts / 1e6);

  const std::string dashes(100000, '-');
  const double noStamp = NanosecondsPerRun(20, [&] {
    std::string text = dashes;
    sink += static_cast<std::size_t>(ExtractDateTime(DateTime{}, text, clock).Day);
    sink += CleanText(text).size() + GetFieldView(text, 99999, "-").size();
  });
  std::printf("100000 dashes, extract+clean+field 99999: %.2f ms\n", noStamp / 1e6);
  return sink == 0 ? 1 : 0;
}
