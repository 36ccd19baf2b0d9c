#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/Clock.h"

namespace tarvel {

// Keeps a flood of refused connections (or of other lines of one kind, see `counted`) from
// flooding the log: at most one line per key (a peer address) per minute. The next line written
// for a key tells how many were held back since the last one.
//
// Memory is bounded: at most `capacity` keys are tracked. When the table is full, keys whose
// last line is a minute old or older are dropped (with their held-back counts); if that frees
// nothing, every further key shares one overflow slot, so the log still gets at most
// capacity + 1 such lines per minute.
class RefusalLogLimiter {
 public:
  static constexpr int64_t IntervalSeconds = 60;
  static constexpr size_t DefaultCapacity = 1024;

  // counted: the word for what was held back in " (N more <counted> since the last report)".
  explicit RefusalLogLimiter(const Clock& clock, size_t capacity = DefaultCapacity,
                             std::string counted = "refused")
      : clock_(clock), capacity_(capacity), counted_(std::move(counted)) {}

  // The line to write for this key: the text, with " (N more refused since the last report)"
  // when lines were held back; nothing when the line is to be held back.
  std::optional<std::string> Admit(const std::string& key, const std::string& text);

  size_t TrackedKeys() const { return entries_.size(); }

 private:
  struct Entry {
    int64_t WrittenAt = 0;  // seconds, see SecondsNow
    int64_t HeldBack = 0;
  };

  int64_t SecondsNow() const;
  bool Expired(const Entry& entry, int64_t now) const;
  std::optional<std::string> AdmitInto(Entry& entry, bool fresh, int64_t now,
                                       const std::string& text);

  const Clock& clock_;
  size_t capacity_;
  std::string counted_;
  std::unordered_map<std::string, Entry> entries_;
  Entry overflow_;
  bool overflowUsed_ = false;
};

}  // namespace tarvel
