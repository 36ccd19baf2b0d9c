// Prints the cost of the line helpers (CPU time of the thread) on single fields, a typical
// received line and long worst cases.
#include <time.h>

#include <cstdio>
#include <string>

#include "platform/Clock.h"
#include "text/CharsetConversion.h"
#include "text/DateTime.h"
#include "text/NumericValue.h"
#include "text/TextFields.h"

namespace {

using namespace tarvel;

class FixedClock : public Clock {
 public:
  LocalTime Now() const override { return {2017, 6, 7, 12, 0, 0, 0}; }
};

// CPU time of this thread, so that a busy machine taking the processor away does not count.
double CpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

template <typename Work>
double NanosecondsPerRun(int runs, Work work) {
  const double start = CpuNanoseconds();
  for (int run = 0; run < runs; ++run) work();
  return (CpuNanoseconds() - start) / runs;
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
    sink += GetFieldView(cleaned, 1, " ").size();
    sink += static_cast<std::size_t>(ExtractDateTime(DateTime{}, line, clock).Day);
  });
  const double singleLineParse = NanosecondsPerRun(200000, [&] {
    sink += static_cast<std::size_t>(DateParse(5, GetFieldView(singleLine, 1, " "), 1, clock).Day +
                                     TimeParse(1, GetFieldView(singleLine, 2, " "), 1, clock));
  });
  // The per-line calls one at a time, on varied fields so that no branch is always taken.
  const std::string_view fields[] = {"07", "12", "2017", "9", "30", " 5", "-1", "1.5"};
  std::size_t next = 0;
  const double integerValue = NanosecondsPerRun(2000000, [&] {
    sink += static_cast<std::size_t>(IntegerValue(fields[next++ % 8]).value_or(0));
  });
  const std::string_view dates[] = {"07-06-2017", "31.12.1999", "00-00-00", "29-02-2016"};
  const double dateParse = NanosecondsPerRun(1000000, [&] {
    sink += static_cast<std::size_t>(DateParse(5, dates[next++ % 4], 1, clock).Day);
  });
  const std::string_view times[] = {"10:20:30", "23:59:59", "10:75:00", "00:00:00"};
  const double timeParse = NanosecondsPerRun(1000000, [&] {
    sink += static_cast<std::size_t>(TimeParse(1, times[next++ % 4], 1, clock));
  });
  const int days[] = {7, 31, 0, 29};
  const double makeDate = NanosecondsPerRun(1000000, [&] {
    DateTime date;
    const int day = days[next++ % 4];
    sink += MakeDate(17, 6 + day % 3, day, date) ? static_cast<std::size_t>(date.Day) : 0;
  });
  std::printf(
      "per call: IntegerValue %.1f ns, DateParse(5) %.1f ns, TimeParse(1) %.1f ns, "
      "MakeDate %.1f ns\n",
      integerValue, dateParse, timeParse, makeDate);
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
