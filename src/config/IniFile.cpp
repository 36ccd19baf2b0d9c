#include "config/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text/TextFields.h"

namespace tarvel {
namespace {

constexpr std::string_view BlanksAndTabs = " \t";

std::string_view TrimBlanksAndTabs(std::string_view text) {
  return TrimBlanks(text, BlanksAndTabs);
}

// Names are compared upper-cased.
std::string NameKey(std::string_view name) {
  return UpperCase(TrimBlanksAndTabs(name));
}

std::string ValueText(std::string_view raw) {
  std::string_view value = TrimBlanksAndTabs(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, IniFile::MaxValueLength));
}

// The file's bytes, at most MaxFileBytes; empty when it is missing, not a regular file or
// cannot be read. Opened without blocking, so a pipe or device under the name cannot stall
// the start.
std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    char chunk[65536];
    while (bytes.size() < IniFile::MaxFileBytes) {
      const ssize_t count = ::read(fd, chunk, sizeof chunk);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      bytes.append(chunk, static_cast<size_t>(count));
    }
    if (bytes.size() > IniFile::MaxFileBytes) bytes.resize(IniFile::MaxFileBytes);
  }
  ::close(fd);
  return bytes;
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
  return FromText(ReadFileBytes(path));
}

IniFile IniFile::FromText(std::string_view text) {
  IniFile ini;
  std::string section;
  bool inSection = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanksAndTabs(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      section = NameKey(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      inSection = true;
      continue;
    }
    if (inSection) ini.AddLine(line, section);
  }
  return ini;
}

void IniFile::AddLine(std::string_view line, const std::string& section) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  std::string key = NameKey(line.substr(0, equals));
  if (key.empty()) return;
  // try_emplace keeps the first value of a key that occurs again.
  values_.try_emplace({section, std::move(key)}, ValueText(line.substr(equals + 1)));
}

std::string IniFile::ReadIniValue(std::string_view section, std::string_view key,
                                  std::string_view defaultText) const {
  const auto found = values_.find({NameKey(section), NameKey(key)});
  if (found == values_.end()) return std::string(defaultText.substr(0, MaxValueLength));
  return found->second;
}

}  // namespace tarvel
