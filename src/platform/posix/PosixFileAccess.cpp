#include "platform/posix/PosixFileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/WriteAll.h"

namespace tarvel {

FileAccess& SystemFiles() {
  static PosixFileAccess files;
  return files;
}

FileAccess::ReadOutcome PosixFileAccess::ReadRegularFile(const std::string& path, size_t maxBytes) {
  ReadOutcome outcome;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    outcome.Exists = errno != ENOENT;
    if (outcome.Exists) outcome.Problem = std::strerror(errno);
    return outcome;
  }
  std::string& bytes = outcome.Bytes;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    outcome.Problem = "not a regular file";
  } else {
    char chunk[65536];
    while (bytes.size() < maxBytes) {
      const ssize_t count = ::read(fd, chunk, sizeof chunk);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) outcome.Problem = std::strerror(errno);
      if (count <= 0) break;
      bytes.append(chunk, static_cast<size_t>(count));
    }
    if (bytes.size() > maxBytes) bytes.resize(maxBytes);
  }
  ::close(fd);
  return outcome;
}

FileAccess::Appended PosixFileAccess::AppendInFolder(const std::string& folder,
                                                     const std::string& name,
                                                     const AppendText& text) {
  // O_NOFOLLOW on the folder and the file: a link put at either must not make the gateway
  // write elsewhere.
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folderFd < 0) {
    // A link at a folder opened with O_DIRECTORY fails with ENOTDIR, as a plain file there does.
    struct stat link {};
    if (errno == ENOTDIR && ::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      return Appended::FolderIsLink;
    return Appended::Failed;
  }
  // O_NONBLOCK: a pipe put in the file's place must not stall the caller (and is refused below).
  // O_RDWR: the file's last bytes are read for the caller.
  const int fd = ::openat(folderFd, name.c_str(),
                          O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
  const int openError = errno;
  ::close(folderFd);
  if (fd < 0) return openError == ELOOP ? Appended::FileIsLink : Appended::Failed;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return Appended::Failed;
  }
  const auto size = static_cast<uint64_t>(status.st_size);
  char tail[2] = {};
  const off_t tailSize = size >= 2 ? 2 : static_cast<off_t>(size);
  std::string_view lastBytes;
  if (tailSize > 0 &&
      ::pread(fd, tail, static_cast<size_t>(tailSize), status.st_size - tailSize) == tailSize)
    lastBytes = std::string_view(tail, static_cast<size_t>(tailSize));
  const std::optional<std::string> appended = text(size, lastBytes);
  if (!appended) {
    ::close(fd);
    return Appended::Declined;
  }
  const size_t written = WriteAll(fd, *appended);
  ::close(fd);
  return written == appended->size() ? Appended::Whole : Appended::Failed;
}

bool PosixFileAccess::AppendToFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, bytes) == bytes.size();
  return ::close(fd) == 0 && written;
}

}  // namespace tarvel
