#include "platform/posix/SerialDeviceProblem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvel {

std::string SerialDeviceProblem(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return errno == ENOENT ? "does not exist"
                           : std::string("cannot be looked at (") + std::strerror(errno) + ")";
  if (!S_ISCHR(status.st_mode)) return "is not a character device";
  // The gateway opens it for reading only.
  if (::access(path.c_str(), R_OK) != 0)
    return std::string("cannot be read by this user (") + std::strerror(errno) + ")";
  return "";
}

}  // namespace tarvel
