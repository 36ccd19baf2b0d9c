#include "input/LineFramer.h"

#include <cstring>

namespace tarvel {

namespace {

bool HasDroppedCharacter(std::string_view text) {
  return std::memchr(text.data(), '\r', text.size()) != nullptr ||
         std::memchr(text.data(), '\f', text.size()) != nullptr;
}

}  // namespace

void AppendWithoutCrAndFf(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c != '\r' && c != '\f') out.push_back(c);
  }
}

void LineFramer::Push(std::string_view data, Receiver& receiver) {
  while (!data.empty()) {
    const void* found = std::memchr(data.data(), '\n', data.size());
    if (found == nullptr) {
      if (!skipping_) AppendUnfinished(data, receiver);
      return;
    }
    const std::size_t lineFeed =
        static_cast<std::size_t>(static_cast<const char*>(found) - data.data());
    const std::string_view head = data.substr(0, lineFeed);
    data.remove_prefix(lineFeed + 1);
    if (skipping_) {
      skipping_ = false;
      receiver.SkippedLineEnded();
    } else if (unfinished_.empty() && pendingBlanks_ == 0) {
      receiver.Line(head);  // the common case: a whole line in one reception, not copied
    } else {
      AppendUnfinished(head, receiver);
      if (skipping_) {
        skipping_ = false;
        receiver.SkippedLineEnded();
        continue;
      }
      receiver.Line(unfinished_);
      unfinished_.clear();
      pendingBlanks_ = 0;
    }
  }
}

void LineFramer::Clear() {
  unfinished_.clear();
  pendingBlanks_ = 0;
  skipping_ = false;
}

void LineFramer::AppendUnfinished(std::string_view text, Receiver& receiver) {
  if (HasDroppedCharacter(text)) {
    scratch_.clear();
    AppendWithoutCrAndFf(scratch_, text);
    text = scratch_;
  }
  if (unfinished_.empty()) {
    // Leading blanks are trimmed away; blanks counted before are leading blanks too.
    pendingBlanks_ = 0;
    const std::size_t first = text.find_first_not_of(' ');
    text.remove_prefix(first == std::string_view::npos ? text.size() : first);
  }
  const std::size_t last = text.find_last_not_of(' ');
  if (last == std::string_view::npos) {
    if (!unfinished_.empty()) pendingBlanks_ += text.size();
    return;
  }
  if (unfinished_.size() + pendingBlanks_ + last + 1 > MaxLineLength) {
    unfinished_.clear();
    unfinished_.shrink_to_fit();
    pendingBlanks_ = 0;
    skipping_ = true;
    receiver.UnfinishedTooLong();
    return;
  }
  unfinished_.append(pendingBlanks_, ' ').append(text.substr(0, last + 1));
  pendingBlanks_ = text.size() - last - 1;
}

}  // namespace tarvel
