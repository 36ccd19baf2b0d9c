#include "platform/posix/PosixProcessControl.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvel {

bool PosixProcessControl::TakeRunningCopyLock(const std::string& programPath,
                                              std::string& refusal) {
  if (lockFd_ >= 0) return true;
  const std::string path = programPath + LockFileName;
  // Never through a link put at the lock's name: that would create or lock a file elsewhere.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  // A folder where no lock file can be made (read-only) cannot tell whether another copy
  // runs; refusing to start there would leave the alarms without a gateway.
  if (fd < 0 && errno == ELOOP) {
    refusal = path + " is a symbolic link, not the running-copy lock; remove it to start";
    return false;
  }
  if (fd < 0) return true;
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return false;
  }
  lockFd_ = fd;
  return true;
}

std::string PosixProcessControl::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return "";
  const int error = errno;
  struct stat status {};
  if (error == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return "";
  return std::strerror(error);
}

void PosixProcessControl::EndProcess(int exitStatus) {
  std::fflush(nullptr);
  ::_exit(exitStatus);
}

}  // namespace tarvel
