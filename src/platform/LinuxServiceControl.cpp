#include "platform/LinuxServiceControl.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
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

#include "platform/PosixProcessControl.h"

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

// One word of a unit setting: quoted when it holds blanks or quotes; "%" doubled because
// systemd expands specifiers, and "$" too where it expands variables (ExecStart).
std::string UnitWord(const std::string& word, bool expandsVariables) {
  std::string escaped;
  bool quote = word.empty();
  for (char c : word) {
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\') quote = true;
    if (c == '"' || c == '\\') escaped += '\\';
    if (c == '%' || (c == '$' && expandsVariables)) escaped += c;
    escaped += c;
  }
  return quote ? "\"" + escaped + "\"" : escaped;
}

std::string UnitArgument(const std::string& argument) {
  return UnitWord(argument, true);
}

std::string UnitPathSetting(const std::string& path) {
  return UnitWord(path, false);
}

// Changes the owner of the path itself, never of what a symbolic link points to. A path that
// does not exist is fine.
bool ChangeOwner(const std::string& path, uid_t user, gid_t group) {
  return ::fchownat(AT_FDCWD, path.c_str(), user, group, AT_SYMLINK_NOFOLLOW) == 0 ||
         errno == ENOENT;
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

bool LinuxServiceControl::IsUserName(const std::string& name) {
  if (name.empty() || name.size() > 32 || name.front() == '-' || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) != 0 || c == '_' || c == '.' || c == '-';
  });
}

std::string LinuxServiceControl::UnitText() const {
  const std::string user = Environment(ServiceUserVariable);
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
       << "WatchdogSec=" << WatchdogSeconds << "\n";
  if (!user.empty()) {
    text << "User=" << user << "\n";
    if (::getgrnam(SerialGroup) != nullptr) text << "SupplementaryGroups=" << SerialGroup << "\n";
  }
  // The program writes only in its folder (log files, lock, debug.txt) and to the system log.
  // /dev stays open and DeviceAllow= unset, so the serial lines can be opened; the serial lock
  // files go to /run/lock where the system has one.
  text << "NoNewPrivileges=yes\n"
       << "ProtectSystem=strict\n"
       << "ProtectHome=read-only\n"
       << "ReadWritePaths=" << UnitPathSetting(programPath_) << "\n"
       << "ReadWritePaths=-/run/lock\n"
       << "PrivateTmp=yes\n"
       << "ProtectKernelTunables=yes\n"
       << "ProtectKernelModules=yes\n"
       << "ProtectControlGroups=yes\n"
       << "RestrictSUIDSGID=yes\n"
       << "RestrictRealtime=yes\n"
       << "LockPersonality=yes\n"
       << "\n"
       << "[Install]\n"
       << "WantedBy=multi-user.target\n";
  return text.str();
}

// /I runs as root and has already made the log folder and the lock file; a service running as
// another account must be able to write them.
bool LinuxServiceControl::HandOverTo(const std::string& user) const {
  if (!IsUserName(user)) return false;
  const passwd* account = ::getpwnam(user.c_str());
  if (account == nullptr) return false;
  const uid_t uid = account->pw_uid;
  const gid_t gid = account->pw_gid;
  const std::string logFolder = programPath_ + "LogFiles";
  bool handedOver = ChangeOwner(logFolder, uid, gid) &&
                    ChangeOwner(programPath_ + PosixProcessControl::LockFileName, uid, gid) &&
                    ChangeOwner(programPath_ + "debug.txt", uid, gid);
  if (DIR* folder = ::opendir(logFolder.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      handedOver = ChangeOwner(logFolder + "/" + name, uid, gid) && handedOver;
    }
    ::closedir(folder);
  }
  return handedOver;
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
  const std::string command = program + " " + arguments.front();
  pid_t child = 0;
  if (const int error =
          ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
      error != 0) {
    lastError_ = "cannot run " + program + ": " + std::strerror(error);
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  lastError_ = command + " failed (" +
               (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                  : "signal " + std::to_string(WTERMSIG(status))) +
               ")";
  return false;
}

bool LinuxServiceControl::Install() {
  lastError_.clear();
  const std::string user = Environment(ServiceUserVariable);
  if (!user.empty() && !HandOverTo(user)) {
    lastError_ = std::string(ServiceUserVariable) + "=" + user +
                 ": not an account, or the program folder's files cannot be handed over to it";
    return false;
  }
  const std::string unitPath = UnitPath();
  if (!WriteFileAtomically(unitPath, UnitText(), 0644)) {
    lastError_ = "cannot write " + unitPath + ": " + std::strerror(errno);
    return false;
  }
  if (!ShouldRunSystemctl()) return true;
  if (RunSystemctl({"daemon-reload"}) && RunSystemctl({"enable", unitPath})) return true;
  // Leave nothing half registered behind.
  ::unlink(unitPath.c_str());
  const std::string failed = lastError_;
  RunSystemctl({"daemon-reload"});
  lastError_ = failed;
  return false;
}

bool LinuxServiceControl::Uninstall() {
  lastError_.clear();
  const std::string unitPath = UnitPath();
  if (::access(unitPath.c_str(), F_OK) != 0) {
    lastError_ = "no unit file " + unitPath + ": " + std::strerror(errno);
    return false;
  }
  const bool systemd = ShouldRunSystemctl();
  if (systemd && !RunSystemctl({"disable", std::string(ServiceName) + ".service"})) return false;
  if (::unlink(unitPath.c_str()) != 0) {
    lastError_ = "cannot remove " + unitPath + ": " + std::strerror(errno);
    return false;
  }
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
  return ::sd_notify(0, message.c_str()) > 0;
}

}  // namespace tarvel
