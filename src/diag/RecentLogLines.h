#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// The last log lines, for the status page: a ring the log writer feeds with every line it
// writes. Each line is held without its line end and cut to MaxLineLength characters, so the
// ring never holds more than Capacity * MaxLineLength characters.
class RecentLogLines {
 public:
  static constexpr std::size_t Capacity = 50;
  static constexpr std::size_t MaxLineLength = 500;

  void Add(std::string_view line);
  // Oldest first.
  std::vector<std::string> Lines() const;

 private:
  std::array<std::string, Capacity> lines_;
  std::size_t next_ = 0;   // where the next line goes
  std::size_t count_ = 0;  // lines held, up to Capacity
};

}  // namespace tarvel
