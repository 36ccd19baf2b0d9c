#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvel {

// Appends `text` without its CR and FF characters, which a received line loses wherever they
// stand.
void AppendWithoutCrAndFf(std::string& out, std::string_view text);

// Cuts one port's received bytes into lines at line feeds and bounds the unfinished text.
// CR and FF are dropped and lines are trimmed by the receiver; the unfinished text is kept
// already without them and without its leading and trailing blanks, so its cap counts exactly
// what the trimmed line will hold, however TCP split the bytes.
class LineFramer {
 public:
  // The longest line handled, after CR and FF removal and trimming; the text helpers count
  // positions in 16 bits.
  static constexpr std::size_t MaxLineLength = 32767;

  class Receiver {
   public:
    // A line ended by a line feed, without it; CR, FF and blanks not yet removed.
    virtual void Line(std::string_view rawLine) = 0;
    // The unfinished text grew past MaxLineLength and was dropped, with the rest of its line.
    virtual void UnfinishedTooLong() = 0;
    // The line feed that ends a dropped over-long line came.
    virtual void SkippedLineEnded() = 0;

   protected:
    ~Receiver() = default;
  };

  void Push(std::string_view data, Receiver& receiver);
  // Forgets the unfinished text, and the skipping of an over-long line: a new peer starts afresh.
  void Clear();

 private:
  void AppendUnfinished(std::string_view text, Receiver& receiver);

  std::string unfinished_;
  std::size_t pendingBlanks_ = 0;  // blanks after unfinished_, kept only as a count
  bool skipping_ = false;
  std::string scratch_;
};

}  // namespace tarvel
