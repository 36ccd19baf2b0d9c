#include "platform/posix/PosixKeepFileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvel {
namespace {

std::string ErrorText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string WriteAll(int fd, std::string_view bytes, uint64_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return ErrorText("write");
    if (count == 0) {
      errno = ENOSPC;
      return ErrorText("write");
    }
    done += static_cast<size_t>(count);
  }
  return {};
}

// The folder part of a path ("." for a bare name) and the name in it.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why the open file cannot be the keep file, or empty; its size in size.
std::string RegularFileProblem(int fd, uint64_t& size) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return ErrorText("stat");
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  size = static_cast<uint64_t>(info.st_size);
  return {};
}

}  // namespace

PosixKeepFileIo::~PosixKeepFileIo() {
  Close();
}

std::string PosixKeepFileIo::Read(const std::string& path, uint64_t maxBytes, std::string& contents,
                                  bool& found) {
  contents.clear();
  found = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? std::string() : ErrorText("open");
  uint64_t size = 0;
  std::string error = RegularFileProblem(fd, size);
  if (error.empty() && size > maxBytes) {
    error = "larger than " + std::to_string(maxBytes) + " bytes";
  } else if (error.empty()) {
    found = true;
    contents.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < contents.size()) {
      const ssize_t count = ::read(fd, contents.data() + done, contents.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        error = ErrorText("read");
        break;
      }
      if (count == 0) break;  // shorter than stat said: read what is there
      done += static_cast<size_t>(count);
    }
    contents.resize(done);
  }
  ::close(fd);
  return error;
}

std::string PosixKeepFileIo::Replace(const std::string& path, std::string_view contents) {
  std::string folderPath, name;
  SplitPath(path, folderPath, name);
  const int folder = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return ErrorText("open folder");
  // One running copy per folder: the process id makes the name unique; a leftover of an
  // earlier process with the same id goes first.
  const std::string temporary = "." + name + "." + std::to_string(::getpid()) + ".tmp";
  ::unlinkat(folder, temporary.c_str(), 0);
  const int fd =
      ::openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    const std::string error = ErrorText("create");
    ::close(folder);
    return error;
  }
  std::string error = WriteAll(fd, contents, 0);
  if (error.empty() && ::fdatasync(fd) != 0) error = ErrorText("sync");
  if (error.empty() && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0)
    error = ErrorText("rename");
  if (error.empty()) ::fsync(folder);  // the rename itself made durable
  if (!error.empty()) {
    ::unlinkat(folder, temporary.c_str(), 0);
    ::close(fd);
  } else {
    Close();
    fd_ = fd;
    size_ = contents.size();
  }
  ::close(folder);
  return error;
}

std::string PosixKeepFileIo::OpenExisting(const std::string& path, uint64_t size) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrorText("open");
  uint64_t now = 0;
  std::string error = RegularFileProblem(fd, now);
  if (error.empty() && now != size) error = "changed while it was read";
  if (!error.empty()) {
    ::close(fd);
    return error;
  }
  Close();
  fd_ = fd;
  size_ = size;
  return {};
}

std::string PosixKeepFileIo::SetAside(const std::string& path, const std::string& newPath) {
  // Never over another file: a file set aside earlier stays as it is.
  if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) != 0)
    return ErrorText("rename");
  return {};
}

std::string PosixKeepFileIo::Append(std::string_view bytes) {
  if (fd_ < 0) return "no keep file open";
  std::string error = WriteAll(fd_, bytes, size_);
  if (!error.empty()) {
    // A part written before the failure is cut off again, so the file ends on a record.
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
    }
    return error;
  }
  size_ += bytes.size();
  return {};
}

std::string PosixKeepFileIo::WriteAt(uint64_t offset, std::string_view bytes) {
  if (fd_ < 0) return "no keep file open";
  if (offset + bytes.size() > size_) return "write beyond the end of the keep file";
  return WriteAll(fd_, bytes, offset);
}

std::string PosixKeepFileIo::Truncate(uint64_t size) {
  if (fd_ < 0) return "no keep file open";
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return ErrorText("truncate");
  size_ = size;
  return {};
}

std::string PosixKeepFileIo::Sync() {
  if (fd_ < 0) return "no keep file open";
  if (::fdatasync(fd_) != 0) return ErrorText("sync");
  return {};
}

void PosixKeepFileIo::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
}

}  // namespace tarvel
