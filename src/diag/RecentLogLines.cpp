#include "diag/RecentLogLines.h"

namespace tarvel {

void RecentLogLines::Add(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  lines_[next_].assign(line.substr(0, MaxLineLength));
  next_ = (next_ + 1) % Capacity;
  if (count_ < Capacity) ++count_;
}

std::vector<std::string> RecentLogLines::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(count_);
  for (std::size_t i = 0; i < count_; ++i)
    lines.push_back(lines_[(next_ + Capacity - count_ + i) % Capacity]);
  return lines;
}

}  // namespace tarvel
