#include "platform/LinuxServiceControl.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

extern char** environ;

namespace tarvel {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// One argument of ExecStart: quoted when it holds blanks or quotes; "%" and "$" doubled
// because systemd expands specifiers and variables there.
std::string UnitArgument(const std::string& argument) {
  std::string escaped;
  bool quote = argument.empty();
  for (char c : argument) {
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\') quote = true;
    if (c == '"' || c == '\\') escaped += '\\';
    if (c == '%' || c == '$') escaped += c;
    escaped += c;
  }
  return quote ? "\"" + escaped + "\"" : escaped;
}

// Writes the whole text to a temporary file beside the path, then renames it over the path,
// so a reader sees either the old or the new file, never a part.
bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool written = true;
  for (size_t done = 0; written && done < text.size();) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<size_t>(count);
  }
  written = written && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

LinuxServiceControl::LinuxServiceControl(std::string programPath, std::string executablePath)
    : programPath_(std::move(programPath)), executablePath_(std::move(executablePath)) {}

std::vector<LinuxServiceControl::Setting> LinuxServiceControl::LoadSettings() const {
  std::vector<Setting> settings;
  std::ifstream file(programPath_ + SettingsFileName, std::ios::binary);
  std::string line;
  std::string section;
  while (std::getline(file, line)) {
    line = Trim(line);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
    } else if (const size_t equals = line.find('='); equals != std::string::npos) {
      settings.push_back({section, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }
  }
  return settings;
}

std::string LinuxServiceControl::GetSetting(const std::string& section, const std::string& key,
                                            const std::string& defaultText) {
  for (const Setting& setting : LoadSettings()) {
    if (Upper(setting.Section) == Upper(section) && Upper(setting.Key) == Upper(key))
      return setting.Value;
  }
  return defaultText;
}

void LinuxServiceControl::SaveSetting(const std::string& section, const std::string& key,
                                      const std::string& text) {
  std::vector<Setting> settings = LoadSettings();
  auto found = std::find_if(settings.begin(), settings.end(), [&](const Setting& setting) {
    return Upper(setting.Section) == Upper(section) && Upper(setting.Key) == Upper(key);
  });
  if (found != settings.end()) {
    found->Value = text;
  } else {
    settings.push_back({section, key, text});
  }
  std::stable_sort(settings.begin(), settings.end(), [](const Setting& a, const Setting& b) {
    return Upper(a.Section) < Upper(b.Section);
  });
  std::string out;
  std::string current;
  for (const Setting& setting : settings) {
    if (out.empty() || Upper(setting.Section) != Upper(current)) {
      out += "[" + setting.Section + "]\n";
      current = setting.Section;
    }
    out += setting.Key + "=" + setting.Value + "\n";
  }
  WriteFileAtomically(programPath_ + SettingsFileName, out, 0644);
}

std::string LinuxServiceControl::UnitPath() const {
  std::string folder = Environment("TARVEL80IMPORT_UNIT_DIR");
  if (folder.empty()) folder = DefaultUnitFolder;
  if (folder.back() != '/') folder += '/';
  return folder + ServiceName + ".service";
}

std::string LinuxServiceControl::UnitText() const {
  std::ostringstream text;
  text << "[Unit]\n"
       << "Description=" << ServiceDisplayName << "\n"
       << "After=network.target\n"
       << "\n"
       << "[Service]\n"
       << "Type=notify\n"
       << "ExecStart=" << UnitArgument(executablePath_) << " --dir " << UnitArgument(programPath_)
       << "\n"
       << "Restart=on-failure\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=multi-user.target\n";
  return text.str();
}

bool LinuxServiceControl::ShouldRunSystemctl() const {
  if (!Environment("TARVEL80IMPORT_SYSTEMCTL").empty()) return true;
  struct stat info {};
  return ::stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

bool LinuxServiceControl::RunSystemctl(const std::vector<std::string>& arguments) const {
  std::string program = Environment("TARVEL80IMPORT_SYSTEMCTL");
  if (program.empty()) program = "systemctl";
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
    return false;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool LinuxServiceControl::Install() {
  const std::string unitPath = UnitPath();
  if (!WriteFileAtomically(unitPath, UnitText(), 0644)) return false;
  if (!ShouldRunSystemctl()) return true;
  if (RunSystemctl({"daemon-reload"}) && RunSystemctl({"enable", unitPath})) return true;
  // Leave nothing half registered behind.
  ::unlink(unitPath.c_str());
  RunSystemctl({"daemon-reload"});
  return false;
}

bool LinuxServiceControl::Uninstall() {
  const std::string unitPath = UnitPath();
  if (::access(unitPath.c_str(), F_OK) != 0) return false;
  const bool systemd = ShouldRunSystemctl();
  if (systemd && !RunSystemctl({"disable", std::string(ServiceName) + ".service"})) return false;
  if (::unlink(unitPath.c_str()) != 0) return false;
  if (systemd) RunSystemctl({"daemon-reload"});
  return true;
}

void LinuxServiceControl::StartService() {
  NotifyServiceManager("READY=1");
}

void LinuxServiceControl::LogEvent(int type, int eventNumber, const std::string& text) {
  static bool opened = false;
  if (!opened) {
    ::openlog(ServiceName, LOG_PID, LOG_DAEMON);
    opened = true;
  }
  const int priority = type == EventError ? LOG_ERR : LOG_INFO;
  ::syslog(priority, "[%d] %s", eventNumber, text.c_str());
}

bool LinuxServiceControl::NotifyServiceManager(const std::string& message) {
  const std::string path = Environment("NOTIFY_SOCKET");
  sockaddr_un address{};
  if (path.size() < 2 || path.size() >= sizeof(address.sun_path)) return false;
  if (path[0] != '/' && path[0] != '@') return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  if (path[0] == '@') address.sun_path[0] = '\0';  // an abstract socket
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), length);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

}  // namespace tarvel
