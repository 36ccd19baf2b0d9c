#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "platform/KeepFileIo.h"

namespace tarvel {

// The event lines kept for the alarm server while none is connected, oldest first. In memory
// always; with a keep file also on disk, so that they outlive a restart or a crash:
//   - every kept line is appended to the file at once (one write per line), and the file is
//     made durable by Sync(), which the supervision tick calls every 100 ms;
//   - lines handed out by Take() are marked sent in the file's head at once; once all are
//     sent the file is cut back to its header, and a file that is more than half sent (and
//     over 1 MiB) is written anew without the sent part;
//   - a file that cannot be written is logged once; keeping goes on in memory, and the file
//     is taken up again once its own lines have gone out.
// A process crash loses nothing kept; lines marked sent are never handed out again.
class KeptLines {
 public:
  static constexpr uint64_t DefaultLimit = 32768;
  static constexpr uint64_t MaxLimit = uint64_t{1} << 30;
  // Bound of a keep file read at start: the limit's worst case and a margin for the records.
  static constexpr uint64_t MaxFileBytes = MaxLimit + (uint64_t{64} << 20);

  // io may be null: keeping in memory only, whatever Open() is given.
  KeptLines(LogFile& log, KeepFileIo* io);

  // Sets the limit and, for a non-empty path, takes up the keep file: the lines an earlier
  // run left in it come first, and a damaged tail is dropped with one log line.
  void Open(uint64_t limit, const std::string& path);

  bool Empty() const { return text_.size() == front_; }
  uint64_t Bytes() const { return text_.size() - front_; }
  // The kept lines (line feeds), counted as they come and go.
  uint64_t Lines() const { return lines_; }

  // Keeps a line at the back while the kept text is below the limit; the line that crosses it
  // is kept whole. False when the line was dropped.
  bool Keep(std::string_view line);
  // Adds a line at the back whatever the limit: a line produced while older kept lines are
  // still going out waits behind them.
  void Append(std::string_view line);
  // Puts text that was handed out but never reached an alarm server back in front of every
  // kept line, whatever the limit.
  void Restore(std::string_view text);
  // Hands out whole lines from the front, at most maxBytes unless the first line alone is
  // longer, and counts them as sent. Empty when nothing is kept or maxBytes is 0.
  std::string Take(uint64_t maxBytes);
  // Makes what was written to the keep file since the last call durable (fdatasync).
  void Sync();

  bool UsesFile() const { return fileOk_; }
  // The keeping limit in characters (KeepLimit).
  uint64_t Limit() const { return limit_; }

 private:
  void AppendToFile(std::string_view line);
  void MarkSent(uint64_t bytes);
  // Writes the file anew: the header and the kept text. False when the file is given up.
  bool Rewrite();
  void FileFailed(const std::string& error);

  LogFile& log_;
  KeepFileIo* io_;
  uint64_t limit_ = DefaultLimit;
  std::string path_;
  std::string text_;  // the kept lines from front_ on
  size_t front_ = 0;
  bool fileOk_ = false;         // the file holds the kept text (its first filed_ bytes)
  bool failureLogged_ = false;  // the present failure of the file is logged
  uint64_t filed_ = 0;          // kept bytes, from the front, that are in the file
  uint64_t fileSize_ = 0;
  uint64_t fileSent_ = 0;  // payload bytes of the file handed out
  uint32_t generation_ = 1;
  bool dirty_ = false;  // written since the last Sync()
  // The present outage, and the hand-over after it.
  bool limitLogged_ = false;
  uint64_t lines_ = 0;
  uint64_t droppedLines_ = 0;
  uint64_t sentLines_ = 0;
  uint64_t sentBytes_ = 0;
};

}  // namespace tarvel
