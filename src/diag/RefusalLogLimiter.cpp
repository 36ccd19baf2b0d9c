#include "diag/RefusalLogLimiter.h"

#include <chrono>

namespace tarvel {

int64_t RefusalLogLimiter::SecondsNow() const {
  const LocalTime now = clock_.Now();
  const std::chrono::sys_days day{std::chrono::year{now.Year} /
                                  std::chrono::month{static_cast<unsigned>(now.Month)} /
                                  std::chrono::day{static_cast<unsigned>(now.Day)}};
  return static_cast<int64_t>(day.time_since_epoch().count()) * 86400 + now.Hour * 3600 +
         now.Minute * 60 + now.Second;
}

// A clock set back (or a daylight-saving change) makes the last line lie ahead: that counts as
// expired too, so a key is never held back for longer than a minute of its own.
bool RefusalLogLimiter::Expired(const Entry& entry, int64_t now) const {
  return now - entry.WrittenAt >= IntervalSeconds || now < entry.WrittenAt;
}

std::optional<std::string> RefusalLogLimiter::Admit(const std::string& key,
                                                    const std::string& text) {
  const int64_t now = SecondsNow();
  if (auto found = entries_.find(key); found != entries_.end())
    return AdmitInto(found->second, false, now, text);
  if (entries_.size() >= capacity_) {
    std::erase_if(entries_, [&](const auto& item) { return Expired(item.second, now); });
  }
  if (entries_.size() < capacity_) return AdmitInto(entries_[key], true, now, text);
  const bool fresh = !overflowUsed_;
  overflowUsed_ = true;
  return AdmitInto(overflow_, fresh, now, text);
}

std::optional<std::string> RefusalLogLimiter::AdmitInto(Entry& entry, bool fresh, int64_t now,
                                                        const std::string& text) {
  if (!fresh && !Expired(entry, now)) {
    ++entry.HeldBack;
    return std::nullopt;
  }
  std::string line = text;
  if (!fresh && entry.HeldBack > 0)
    line += " (" + std::to_string(entry.HeldBack) + " more " + counted_ + " since the last report)";
  entry = Entry{now, 0};
  return line;
}

}  // namespace tarvel
