#include "output/KeptLines.h"

#include <algorithm>
#include <cstring>

namespace tarvel {
namespace {

// A kept file whose sent part is larger than this, and than its unsent part, is written anew.
// Below it a hand-over is not slowed by writing its rest again (with two syncs): it cuts the
// file back to its header at its end anyway.
constexpr uint64_t RewriteAboveSentBytes = 64u << 20;
// Memory of the delivered part of the kept text is given back above this.
constexpr size_t ForgetAboveBytes = 1u << 20;
// The kept text grows without being copied up to this (or the keeping limit): a copy of
// megabytes onto memory touched afresh costs more than keeping the lines. Memory not yet
// written to costs nothing.
constexpr uint64_t GrowthReserveBytes = 64u << 20;
// Names tried for a damaged file set aside: path + ".damaged", ".damaged-2" ...
constexpr int SetAsideNames = 100;

uint64_t CountLines(std::string_view text) {
  return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

KeptLines::KeptLines(LogFile& log, KeepFileIo* io) : log_(log), io_(io) {}

std::string KeptLines::Open(uint64_t limit, const std::string& path) {
  limit_ = limit;
  if (path.empty() || io_ == nullptr) return {};
  std::string file;
  bool found = false;
  const std::string error = io_->Read(path, MaxFileBytes, file, found);
  if (!error.empty()) {
    // Left as it is: what it holds may still be wanted.
    log_.WriteLog("Keep file " + path + " cannot be read (" + error +
                  "): kept event lines are held in memory");
    return {};
  }
  if (!found || file.empty()) {
    path_ = path;
    Rewrite();
    return {};
  }
  keepfile::Contents contents = keepfile::Parse(file);
  const uint64_t fileSize = file.size();
  file.clear();
  file.shrink_to_fit();
  if (!contents.IsKeepFile) {
    return NotAKeepFileProblem;
  }
  path_ = path;
  text_ = std::move(contents.Unsent);
  lines_ = CountLines(text_);
  if (!text_.empty()) {
    log_.WriteLog("Keep file " + path_ + ": " + std::to_string(lines_) + " event lines (" +
                  std::to_string(text_.size()) + " bytes) kept from an earlier run");
  }
  if (!contents.Intact()) {
    TakeUpDamagedFile(path, contents);
    return {};
  }
  // Written on in place: marking lines sent then needs no new space, even on a full disk.
  const std::string openError = io_->OpenExisting(path_, fileSize);
  if (!openError.empty()) {
    FileFailed(openError);
    return {};
  }
  fileOk_ = true;
  version_ = contents.Version;
  fileSent_ = contents.Sent;
  // Never below the sent count: a record written from here on must not count as sent.
  streamEnd_ = std::max(contents.StreamEnd, contents.Sent);
  generation_ = contents.Generation;
  fileSize_ = fileSize;
  // A file of the older version is written anew in today's, where there is room.
  if (version_ != keepfile::Version) Rewrite();
  return {};
}

void KeptLines::TakeUpDamagedFile(const std::string& path, const keepfile::Contents& contents) {
  std::string aside;
  std::string error;
  for (int n = 1; n <= SetAsideNames; ++n) {
    aside = path + ".damaged";
    if (n > 1) aside.append("-").append(std::to_string(n));
    error = io_->SetAside(path, aside);
    if (error.empty()) break;
  }
  std::string text = "Keep file " + path + " damaged: " + std::to_string(contents.LostRecords) +
                     " records (" + std::to_string(contents.DroppedBytes) + " bytes) lost";
  if (contents.HeadDamaged) text += ", what was sent is not known: all its lines go out again";
  if (!error.empty()) {
    // Never written over: the lines read from it are held in memory only.
    path_.clear();
    log_.WriteLog(text + "; it cannot be set aside (" + error +
                  "): kept event lines are held in memory");
    return;
  }
  log_.WriteLog(text + "; the file is kept as " + aside);
  Rewrite();
}

bool KeptLines::Keep(std::string_view line) {
  if (Bytes() >= limit_) {
    ++droppedLines_;
    if (!limitLogged_) {
      limitLogged_ = true;
      log_.WriteLog("Keeping limit of " + std::to_string(limit_) +
                    " characters reached: further event lines are dropped until the kept "
                    "lines are sent");
    }
    return false;
  }
  if (Empty()) {
    log_.WriteLog(fileOk_ ? "Ostrel not connected: keeping event lines in keep file " + path_
                          : std::string("Ostrel not connected: keeping event lines in memory"));
  }
  Append(line);
  return true;
}

void KeptLines::Append(std::string_view line) {
  // Into the file only while it holds everything before: lines behind a failed write wait in
  // memory until the file's own lines are out.
  const bool intoFile = fileOk_ && Filed() + unwritten_ == Held();
  if (text_.capacity() - text_.size() < line.size()) {
    text_.reserve(std::max<size_t>(2 * text_.capacity(),
                                   static_cast<size_t>(std::min(limit_, GrowthReserveBytes))) +
                  line.size());
  }
  text_.append(line);
  lines_ += CountLines(line);
  if (intoFile) unwritten_ += line.size();
}

void KeptLines::WritePending() {
  if (unwritten_ == 0) return;
  const std::string_view lines = std::string_view(text_).substr(text_.size() - unwritten_);
  unwritten_ = 0;
  if (fileOk_) AppendToFile(lines);
}

void KeptLines::AppendToFile(std::string_view lines) {
  record_.clear();
  uint64_t streamEnd = streamEnd_;
  keepfile::AppendRecords(record_, lines, streamEnd, version_);
  const std::string error = io_->Append(record_);
  if (!error.empty()) {
    // The lines already in the file stay there and go out first; these and later ones are
    // held in memory until the file's own lines are sent.
    FileFailed(error);
    return;
  }
  streamEnd_ = streamEnd;
  fileSize_ += record_.size();
  dirty_ = true;
}

std::string_view KeptLines::Take(uint64_t maxBytes) {
  WritePending();
  if (Empty() || maxBytes == 0) return {};
  size_t count = text_.size() - front_;
  if (count > maxBytes) {
    size_t end = text_.rfind('\n', front_ + static_cast<size_t>(maxBytes) - 1);
    if (end == std::string::npos || end < front_) end = text_.find('\n', front_);
    count = end == std::string::npos ? text_.size() - front_ : end + 1 - front_;
  }
  const std::string_view taken = std::string_view(text_).substr(front_, count);
  front_ += count;
  const uint64_t takenLines = CountLines(taken);
  sentLines_ += takenLines;
  lines_ -= std::min(lines_, takenLines);
  sentBytes_ += count;
  if (Empty()) {
    log_.WriteLog("Sent " + std::to_string(sentLines_) + " kept event lines (" +
                  std::to_string(sentBytes_) + " bytes) to Ostrel");
    if (droppedLines_ > 0) {
      log_.WriteLog("Keeping limit: " + std::to_string(droppedLines_) +
                    " event lines were dropped");
    }
    sentLines_ = sentBytes_ = droppedLines_ = 0;
    limitLogged_ = false;
    // A file given up is tried again now that nothing waits.
    if (!fileOk_ && !path_.empty()) Rewrite();
  }
  return taken;
}

void KeptLines::Delivered(uint64_t bytes) {
  WritePending();
  deliveredPart_ = std::min<uint64_t>(deliveredPart_ + bytes, front_ - sentFront_);
  if (deliveredPart_ == 0) return;
  // Up to the end of the last line delivered whole: a line cut in the file's sent mark would
  // go out cut after a restart.
  const size_t last = text_.rfind('\n', sentFront_ + static_cast<size_t>(deliveredPart_) - 1);
  if (last == std::string::npos || last < sentFront_) return;
  const size_t whole = last + 1 - sentFront_;
  sentFront_ += whole;
  deliveredPart_ -= whole;
  MarkSent(whole);
  Forget();
}

void KeptLines::Rewind(std::string_view others) {
  WritePending();
  lines_ += CountLines(std::string_view(text_).substr(sentFront_, front_ - sentFront_)) +
            CountLines(others);
  deliveredPart_ = 0;
  if (others.empty()) {
    front_ = sentFront_;
    return;
  }
  text_.insert(front_, others);
  front_ = sentFront_;
  // The file holds the kept lines in their old order: written anew, or given up (a file that
  // holds more than memory sends lines twice after a crash, never loses one).
  if (fileOk_ && !Rewrite()) {
    io_->Close();
    fileOk_ = false;
  }
}

void KeptLines::Forget() {
  if (sentFront_ == text_.size()) {
    text_.clear();
    front_ = sentFront_ = 0;
  } else if (sentFront_ > ForgetAboveBytes && sentFront_ * 2 > text_.size()) {
    text_.erase(0, sentFront_);
    front_ -= sentFront_;
    sentFront_ = 0;
  }
}

void KeptLines::MarkSent(uint64_t bytes) {
  if (!fileOk_) return;
  const uint64_t fromFile = std::min(bytes, Filed());
  if (fromFile == 0) return;
  fileSent_ += fromFile;
  ++generation_;
  std::string error =
      io_->WriteAt(keepfile::SlotOffset(generation_), keepfile::HeadSlot(fileSent_, generation_));
  if (!error.empty()) {
    GiveUpFile(error);
    return;
  }
  dirty_ = true;
  if (Filed() > 0) {
    // A rewrite that failed is tried again only once the sent part has doubled: each try
    // writes the whole unsent part.
    const uint64_t sentPart = fileSize_ - keepfile::HeaderSize - Filed();
    if (sentPart > RewriteAboveSentBytes && sentPart * 2 > fileSize_ &&
        sentPart > 2 * failedRewriteAt_ && !Rewrite())
      failedRewriteAt_ = sentPart;
  } else if (Held() > 0 || version_ != keepfile::Version) {
    // The file's own lines are out; lines held in memory meanwhile go into a new file (an
    // older version's file is written anew in today's).
    Rewrite();
  } else {
    // All sent: back to the header alone. The head keeps its sent count, and records written
    // from now on go on counting from it.
    error = io_->Truncate(keepfile::HeaderSize);
    if (!error.empty()) {
      GiveUpFile(error);
      return;
    }
    fileSize_ = keepfile::HeaderSize;
  }
}

bool KeptLines::Rewrite() {
  WritePending();  // a failed rewrite leaves the file in use complete
  std::string file = keepfile::Header();
  uint64_t streamEnd = 0;
  keepfile::AppendRecords(file, std::string_view(text_).substr(sentFront_), streamEnd);
  const std::string error = io_->Replace(path_, file);
  if (!error.empty()) {
    FileFailed(error);
    return false;
  }
  if (failureLogged_) log_.WriteLog("Keep file " + path_ + " is written again");
  failureLogged_ = false;
  fileOk_ = true;
  version_ = keepfile::Version;
  streamEnd_ = streamEnd;
  fileSent_ = 0;
  fileSize_ = file.size();
  generation_ = 1;
  failedRewriteAt_ = 0;
  dirty_ = false;
  return true;
}

void KeptLines::FileFailed(const std::string& error) {
  if (failureLogged_) return;
  failureLogged_ = true;
  log_.WriteLog("Keep file " + path_ + " cannot be written (" + error +
                "): kept event lines are held in memory");
}

void KeptLines::GiveUpFile(const std::string& error) {
  FileFailed(error);
  io_->Close();
  fileOk_ = false;
}

void KeptLines::Sync() {
  WritePending();
  if (!dirty_ || !fileOk_) return;
  dirty_ = false;
  const std::string error = io_->Sync();
  if (!error.empty()) GiveUpFile(error);
}

}  // namespace tarvel
