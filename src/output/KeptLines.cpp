#include "output/KeptLines.h"

#include <algorithm>
#include <cstring>

#include "output/KeepFileFormat.h"

namespace tarvel {
namespace {

// A kept file whose sent part is larger than this, and than its unsent part, is written anew.
constexpr uint64_t RewriteAboveSentBytes = 1u << 20;
// Memory of the sent part of the kept text is given back above this.
constexpr size_t ForgetAboveBytes = 1u << 20;

uint64_t CountLines(std::string_view text) {
  return static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

KeptLines::KeptLines(LogFile& log, KeepFileIo* io) : log_(log), io_(io) {}

void KeptLines::Open(uint64_t limit, const std::string& path) {
  limit_ = limit;
  if (path.empty() || io_ == nullptr) return;
  std::string file;
  bool found = false;
  const std::string error = io_->Read(path, MaxFileBytes, file, found);
  if (!error.empty()) {
    // Left as it is: what it holds may still be wanted.
    log_.WriteLog("Keep file " + path + " cannot be read (" + error +
                  "): kept event lines are held in memory");
    return;
  }
  path_ = path;
  if (found) {
    keepfile::Contents contents = keepfile::Parse(file);
    file.clear();
    file.shrink_to_fit();
    if (contents.DroppedBytes > 0) {
      log_.WriteLog("Keep file " + path_ +
                    (contents.Recognised ? " damaged: " : " not recognised: ") +
                    std::to_string(contents.DroppedBytes) + " bytes dropped");
    }
    text_ = std::move(contents.Unsent);
    front_ = 0;
    lines_ = CountLines(text_);
    if (!text_.empty()) {
      log_.WriteLog("Keep file " + path_ + ": " + std::to_string(CountLines(text_)) +
                    " event lines (" + std::to_string(text_.size()) +
                    " bytes) kept from an earlier run");
    }
  }
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
  const bool intoFile = fileOk_ && filed_ == Bytes();
  text_.append(line);
  lines_ += CountLines(line);
  if (intoFile) AppendToFile(line);
}

void KeptLines::AppendToFile(std::string_view line) {
  std::string record;
  keepfile::AppendRecords(record, line);
  const std::string error = io_->Append(record);
  if (!error.empty()) {
    // The lines already in the file stay there and go out first; this one and later ones
    // are held in memory until the file's own lines are sent.
    FileFailed(error);
    return;
  }
  filed_ += line.size();
  fileSize_ += record.size();
  dirty_ = true;
}

void KeptLines::Restore(std::string_view text) {
  if (text.empty()) return;
  text_.erase(0, front_);
  text_.insert(0, text);
  front_ = 0;
  lines_ += CountLines(text);
  if (fileOk_) Rewrite();
}

std::string KeptLines::Take(uint64_t maxBytes) {
  if (Empty() || maxBytes == 0) return {};
  size_t count = text_.size() - front_;
  if (count > maxBytes) {
    size_t end = text_.rfind('\n', front_ + static_cast<size_t>(maxBytes) - 1);
    if (end == std::string::npos || end < front_) end = text_.find('\n', front_);
    count = end == std::string::npos ? text_.size() - front_ : end + 1 - front_;
  }
  std::string taken = text_.substr(front_, count);
  front_ += count;
  const uint64_t takenLines = CountLines(taken);
  sentLines_ += takenLines;
  lines_ -= std::min(lines_, takenLines);
  sentBytes_ += count;
  MarkSent(count);
  if (Empty()) {
    text_.clear();
    front_ = 0;
    log_.WriteLog("Sent " + std::to_string(sentLines_) + " kept event lines (" +
                  std::to_string(sentBytes_) + " bytes) to Ostrel");
    if (droppedLines_ > 0) {
      log_.WriteLog("Keeping limit: " + std::to_string(droppedLines_) +
                    " event lines were dropped");
    }
    sentLines_ = sentBytes_ = droppedLines_ = 0;
    limitLogged_ = false;
    // A file given up is tried again now that nothing is kept.
    if (!fileOk_ && !path_.empty()) Rewrite();
  } else if (front_ > ForgetAboveBytes && front_ * 2 > text_.size()) {
    text_.erase(0, front_);
    front_ = 0;
  }
  return taken;
}

void KeptLines::MarkSent(uint64_t bytes) {
  if (!fileOk_) return;
  const uint64_t fromFile = std::min(bytes, filed_);
  filed_ -= fromFile;
  fileSent_ += fromFile;
  std::string error;
  if (filed_ == 0 && !Empty()) {
    // The file's own lines are out; lines held in memory meanwhile go into a new file.
    Rewrite();
    return;
  }
  ++generation_;
  error =
      io_->WriteAt(keepfile::SlotOffset(generation_), keepfile::HeadSlot(fileSent_, generation_));
  if (error.empty() && filed_ == 0) {
    // All sent: back to the header alone, its head at 0 before any new record comes.
    error = io_->Truncate(keepfile::HeaderSize);
    ++generation_;
    if (error.empty())
      error = io_->WriteAt(keepfile::SlotOffset(generation_), keepfile::HeadSlot(0, generation_));
    fileSize_ = keepfile::HeaderSize;
    fileSent_ = 0;
  }
  if (!error.empty()) {
    FileFailed(error);
    io_->Close();
    fileOk_ = false;
    filed_ = 0;
    return;
  }
  dirty_ = true;
  if (fileSent_ > RewriteAboveSentBytes && fileSent_ * 2 > fileSize_) Rewrite();
}

bool KeptLines::Rewrite() {
  std::string file = keepfile::Header();
  keepfile::AppendRecords(file, std::string_view(text_).substr(front_));
  const std::string error = io_->Replace(path_, file);
  if (!error.empty()) {
    FileFailed(error);
    fileOk_ = false;
    filed_ = 0;
    return false;
  }
  if (failureLogged_) log_.WriteLog("Keep file " + path_ + " is written again");
  failureLogged_ = false;
  fileOk_ = true;
  filed_ = Bytes();
  fileSize_ = file.size();
  fileSent_ = 0;
  generation_ = 1;
  dirty_ = false;
  return true;
}

void KeptLines::FileFailed(const std::string& error) {
  if (failureLogged_) return;
  failureLogged_ = true;
  log_.WriteLog("Keep file " + path_ + " cannot be written (" + error +
                "): kept event lines are held in memory");
}

void KeptLines::Sync() {
  if (!dirty_ || !fileOk_) return;
  dirty_ = false;
  const std::string error = io_->Sync();
  if (!error.empty()) {
    FileFailed(error);
    io_->Close();
    fileOk_ = false;
    filed_ = 0;
  }
}

}  // namespace tarvel
