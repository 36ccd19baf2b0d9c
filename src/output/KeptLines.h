#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "diag/LogFile.h"
#include "output/KeepFileFormat.h"
#include "platform/KeepFileIo.h"

namespace tarvel {

// The event lines kept for the alarm server while none is connected, oldest first. In memory
// always; with a keep file also on disk, so that they outlive a restart or a crash:
//   - the lines kept since the last WritePending() are appended to the file together, as one
//     record, when it is called (after every reception) or before any other use of the file;
//     the file is made durable by Sync(), which the supervision tick calls every 100 ms;
//   - lines handed out by Take() stay in the file until the alarm server's connection reports
//     them taken by the operating system (Delivered()); only then are they marked sent in the
//     file's head, which needs no new space on the disk. What a connection handed back goes out
//     again (Rewind()). Once all are sent the file is cut back to its header, and a file that
//     is more than half sent (and over 64 MiB) is written anew without the sent part; a rewrite
//     that fails leaves the file in use as it was;
//   - a file that cannot be written is logged once; keeping goes on in memory, and the file
//     is taken up again once its own lines have gone out;
//   - a damaged file is set aside under a new name, never written over, and the lines of its
//     intact records are kept; a file that is not a keep file is not touched at all.
// A process crash loses nothing kept; a line is handed out again after a restart only when the
// crash fell between the operating system taking it and its mark in the file.
class KeptLines {
 public:
  static constexpr uint64_t DefaultLimit = 32768;
  static constexpr uint64_t MaxLimit = uint64_t{1} << 30;
  // Bound of a keep file read at start: the limit's worst case and a margin for the records.
  static constexpr uint64_t MaxFileBytes = MaxLimit + (uint64_t{64} << 20);
  static constexpr const char* NotAKeepFileProblem =
      "the file there is not a keep file (it does not start with the keep header) and is not "
      "written over";

  // io may be null: keeping in memory only, whatever Open() is given.
  KeptLines(LogFile& log, KeepFileIo* io);

  // Sets the limit and, for a non-empty path, takes up the keep file: the lines an earlier
  // run left in it come first. A file that cannot be read is left alone (memory only, logged).
  // Returns NotAKeepFileProblem, and uses no file, when the path holds a file that is not a keep
  // file.
  std::string Open(uint64_t limit, const std::string& path);

  // Nothing is waiting to be handed out.
  bool Empty() const { return text_.size() == front_; }
  // Bytes waiting to be handed out.
  uint64_t Bytes() const { return text_.size() - front_; }
  // The kept lines waiting to be handed out (line feeds), counted as they come and go.
  uint64_t Lines() const { return lines_; }

  // Keeps a line at the back while the kept text is below the limit; the line that crosses it
  // is kept whole. False when the line was dropped.
  bool Keep(std::string_view line);
  // Adds a line at the back whatever the limit: a line produced while older kept lines are
  // still going out waits behind them.
  void Append(std::string_view line);
  // Writes the lines kept for the file since the last call, in one append.
  void WritePending();
  // Hands out whole lines from the front, at most maxBytes unless the first line alone is
  // longer. They stay kept until Delivered() or go out again after Rewind(). Empty when nothing
  // is waiting or maxBytes is 0. The view is valid until the next call that keeps or forgets
  // lines (Keep, Append, Delivered, Rewind).
  std::string_view Take(uint64_t maxBytes);
  // The operating system has taken this many more bytes of what Take() handed out, in order:
  // they are marked sent in the file (whole lines; a line taken in part counts once whole).
  void Delivered(uint64_t bytes);
  // Everything handed out and not Delivered() waits again in front of the rest, followed by
  // `others` (lines that went out beside the kept ones and were not taken by the system).
  void Rewind(std::string_view others = {});
  // Makes what was written to the keep file since the last call durable (fdatasync).
  void Sync();

  bool UsesFile() const { return fileOk_; }
  const std::string& Path() const { return path_; }
  // The keeping limit in characters (KeepLimit).
  uint64_t Limit() const { return limit_; }

 private:
  // Bytes not yet delivered: handed out or waiting.
  uint64_t Held() const { return text_.size() - sentFront_; }
  // Bytes of the file not yet marked sent: the first Filed() bytes of what is held.
  uint64_t Filed() const { return streamEnd_ - fileSent_; }
  void TakeUpDamagedFile(const std::string& path, const keepfile::Contents& contents);
  void AppendToFile(std::string_view lines);
  void MarkSent(uint64_t bytes);
  // Gives memory of delivered text back.
  void Forget();
  // Writes the file anew: the header and the held text. False when it failed; the file open
  // before, if any, is then still in use.
  bool Rewrite();
  void FileFailed(const std::string& error);
  void GiveUpFile(const std::string& error);

  LogFile& log_;
  KeepFileIo* io_;
  uint64_t limit_ = DefaultLimit;
  std::string path_;
  // The kept lines: [0, sentFront_) delivered, [sentFront_, front_) handed out, the rest
  // waiting.
  std::string text_;
  size_t sentFront_ = 0;
  size_t front_ = 0;
  // The back of the kept text bound for the file and not written yet (WritePending()).
  size_t unwritten_ = 0;
  std::string record_;          // reused for the records of an append
  uint64_t deliveredPart_ = 0;  // delivered bytes of a line not yet taken whole
  // The file: its records hold the stream of payload bytes up to streamEnd_, of which those
  // before fileSent_ are sent; the rest is the front of the held text.
  bool fileOk_ = false;
  bool failureLogged_ = false;  // the present failure of the file is logged
  uint32_t version_ = keepfile::Version;
  uint64_t streamEnd_ = 0;
  uint64_t fileSent_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t generation_ = 1;
  uint64_t failedRewriteAt_ = 0;  // the sent part when a rewrite last failed
  bool dirty_ = false;            // written since the last Sync()
  // The present outage, and the hand-over after it.
  bool limitLogged_ = false;
  uint64_t lines_ = 0;
  uint64_t droppedLines_ = 0;
  uint64_t sentLines_ = 0;
  uint64_t sentBytes_ = 0;
};

}  // namespace tarvel
