#include "platform/posix/LinuxServiceControl.h"

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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "platform/posix/PosixProcessControl.h"
#include "platform/posix/WriteAll.h"
#include "text/IniFile.h"

extern char** environ;

namespace tarvel {

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
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

// The length of the UTF-8 sequence that starts at text[at], or 0 when it is not valid UTF-8
// (a stray continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned long code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

std::string ByteText(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// Opens a new file for writing at the path; a file or link already there is never written
// through. A regular file left there (by a run that stopped half way) is removed first; a
// link or anything else there is an error.
int CreateNewFile(const std::string& path, mode_t mode, std::string& failure) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags, mode);
  if (fd >= 0 || errno != EEXIST) {
    if (fd < 0) failure = path + ": " + std::strerror(errno);
    return fd;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    failure = path + " is " + (S_ISLNK(info.st_mode) ? "a symbolic link" : "not a regular file") +
              "; it is not written through";
    return -1;
  }
  ::unlink(path.c_str());
  fd = ::open(path.c_str(), flags, mode);
  if (fd < 0) failure = path + ": " + std::strerror(errno);
  return fd;
}

// Writes the whole text to a new temporary file beside the path, then renames it over the
// path, so a reader sees either the old or the new file, never a part, and a link at either
// name is never followed (rename replaces a link at the path itself).
bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode,
                         std::string& failure) {
  const std::string temporary = path + ".tmp";
  const int fd = CreateNewFile(temporary, mode, failure);
  if (fd < 0) return false;
  bool written = WriteAll(fd, text) == text.size();
  written = written && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  failure = path + ": " + std::strerror(errno);
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

LinuxServiceControl::LinuxServiceControl(ProgramLayout layout, std::string executablePath)
    : layout_(std::move(layout)), executablePath_(std::move(executablePath)) {}

std::vector<LinuxServiceControl::Setting> LinuxServiceControl::LoadSettings() const {
  std::vector<Setting> settings;
  IniFile::Load(layout_.ProgramPath + SettingsFileName, SettingsMaxBytes)
      .ForEachValue(
          [&](const std::string& section, const std::string& key, const std::string& value) {
            settings.push_back({section, key, value});
          });
  return settings;
}

std::string LinuxServiceControl::GetSetting(const std::string& section, const std::string& key,
                                            const std::string& defaultText) {
  return IniFile::Load(layout_.ProgramPath + SettingsFileName, SettingsMaxBytes)
      .ReadIniValue(section, key, defaultText);
}

bool LinuxServiceControl::SaveSetting(const std::string& section, const std::string& key,
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
  std::string failure;
  if (WriteFileAtomically(layout_.ProgramPath + SettingsFileName, out, 0644, failure)) return true;
  lastError_ = "cannot store " + key + ": " + failure;
  return false;
}

std::string LinuxServiceControl::UnitPath() const {
  std::string folder = Environment("TARVEL80IMPORT_UNIT_DIR");
  if (folder.empty()) folder = DefaultUnitFolder;
  if (folder.back() != '/') folder += '/';
  return folder + ServiceName + ".service";
}

std::string LinuxServiceControl::AsideUnitPath() const {
  const std::string unitPath = UnitPath();
  const size_t slash = unitPath.rfind('/');
  return unitPath.substr(0, slash + 1) + "." + ServiceName + ".service.earlier";
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
       << "ExecStart=" << UnitArgument(executablePath_) << " --dir "
       << UnitArgument(layout_.ProgramPath);
  // The program folder's own files need no option: the unit then reads as it always has.
  const ProgramLayout inFolder = ProgramLayout::InFolder(layout_.ProgramPath);
  if (layout_.ConfigPath != inFolder.ConfigPath)
    text << " --config " << UnitArgument(layout_.ConfigPath);
  if (layout_.LogPath != inFolder.LogPath) text << " --log-dir " << UnitArgument(layout_.LogPath);
  text << "\n"
       << "Restart=on-failure\n"
       << "WatchdogSec=" << WatchdogSeconds << "\n";
  if (!user.empty()) {
    text << "User=" << user << "\n";
    if (::getgrnam(SerialGroup) != nullptr) text << "SupplementaryGroups=" << SerialGroup << "\n";
  }
  // The program writes only in its folder (lock, debug.txt), its log folder and to the system
  // log.
  // /dev stays open and DeviceAllow= unset, so the serial lines can be opened; the serial lock
  // files go to /run/lock where the system has one.
  text << "NoNewPrivileges=yes\n"
       << "ProtectSystem=strict\n"
       << "ProtectHome=read-only\n"
       << "ReadWritePaths=" << UnitPathSetting(layout_.ProgramPath) << "\n";
  if (layout_.LogPath.rfind(layout_.ProgramPath, 0) != 0)
    text << "ReadWritePaths=" << UnitPathSetting(layout_.LogPath) << "\n";
  text << "ReadWritePaths=-/run/lock\n"
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
  const std::string logFolder = layout_.LogPath.substr(0, layout_.LogPath.size() - 1);
  bool handedOver =
      ChangeOwner(logFolder, uid, gid) &&
      ChangeOwner(layout_.ProgramPath + PosixProcessControl::LockFileName, uid, gid) &&
      ChangeOwner(layout_.ProgramPath + "debug.txt", uid, gid);
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

std::string LinuxServiceControl::UnitUnsafeReason(const std::string& what,
                                                  const std::string& path) {
  for (size_t at = 0; at < path.size();) {
    const auto byte = static_cast<unsigned char>(path[at]);
    // C0 controls, DEL and the C1 controls U+0080 to U+009F (UTF-8 C2 80 to C2 9F).
    const bool c1 =
        byte == 0xC2 && at + 1 < path.size() && static_cast<unsigned char>(path[at + 1]) < 0xA0;
    if (byte < 0x20 || byte == 0x7F || c1) {
      return what + " holds a control character (byte " +
             ByteText(c1 ? static_cast<unsigned char>(path[at + 1]) : byte) + " at position " +
             std::to_string(at + 1) + "); a unit file cannot name it safely";
    }
    const size_t length = Utf8Length(path, at);
    if (length == 0) {
      return what + " is not valid UTF-8 (byte " + ByteText(byte) + " at position " +
             std::to_string(at + 1) + "); systemd accepts only UTF-8 in a unit file";
    }
    at += length;
  }
  return {};
}

bool LinuxServiceControl::Fail(const std::string& reason) {
  lastError_ = reason;
  return false;
}

bool LinuxServiceControl::Install() {
  lastError_.clear();
  for (const auto& [what, path] :
       {std::pair<std::string, std::string>{"the program folder's path", layout_.ProgramPath},
        {"the configuration's path", layout_.ConfigPath},
        {"the log folder's path", layout_.LogPath},
        {"the program's path", executablePath_}}) {
    if (std::string reason = UnitUnsafeReason(what, path); !reason.empty()) return Fail(reason);
  }
  const std::string user = Environment(ServiceUserVariable);
  if (!user.empty() && !HandOverTo(user)) {
    lastError_ = std::string(ServiceUserVariable) + "=" + user +
                 ": not an account, or the program folder's files cannot be handed over to it";
    return false;
  }
  const std::string unitPath = UnitPath();
  const std::string aside = AsideUnitPath();
  earlierUnitAside_ = false;
  if (::rename(unitPath.c_str(), aside.c_str()) == 0) {
    earlierUnitAside_ = true;
  } else if (errno != ENOENT) {
    return Fail("cannot keep the earlier " + unitPath + " aside: " + std::strerror(errno));
  }
  std::string failure;
  if (!WriteFileAtomically(unitPath, UnitText(), 0644, failure)) {
    if (earlierUnitAside_) ::rename(aside.c_str(), unitPath.c_str());
    earlierUnitAside_ = false;
    return Fail(failure);
  }
  if (!ShouldRunSystemctl()) return true;
  if (RunSystemctl({"daemon-reload"}) && RunSystemctl({"enable", unitPath})) return true;
  // Leave nothing half registered behind.
  UndoInstall();
  return false;
}

void LinuxServiceControl::FinishInstall(bool keep) {
  if (!keep) {
    UndoInstall();
    return;
  }
  if (earlierUnitAside_) ::unlink(AsideUnitPath().c_str());
  earlierUnitAside_ = false;
}

void LinuxServiceControl::UndoInstall() {
  const std::string failed = lastError_;
  const std::string unitPath = UnitPath();
  const bool systemd = ShouldRunSystemctl();
  if (earlierUnitAside_) {
    // The earlier unit had the same name and [Install] section: its enabling stays as it was.
    ::rename(AsideUnitPath().c_str(), unitPath.c_str());
  } else {
    if (systemd) RunSystemctl({"disable", std::string(ServiceName) + ".service"});
    ::unlink(unitPath.c_str());
  }
  earlierUnitAside_ = false;
  if (systemd) RunSystemctl({"daemon-reload"});
  lastError_ = failed;
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
