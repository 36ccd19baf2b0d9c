#include "text/IniFile.h"

#include <utility>

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

}  // namespace

IniFile IniFile::Load(const std::string& path, size_t maxBytes, FileAccess& files) {
  std::string problem;
  return Load(path, problem, maxBytes, files);
}

IniFile IniFile::Load(const std::string& path, std::string& problem, size_t maxBytes,
                      FileAccess& files) {
  FileAccess::ReadOutcome read = files.ReadRegularFile(path, maxBytes);
  IniFile ini = FromText(read.Bytes);
  ini.exists_ = read.Exists;
  problem = std::move(read.Problem);
  return ini;
}

IniFile IniFile::FromText(std::string_view text) {
  IniFile ini;
  std::string section;
  std::string_view sectionAsWritten;
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
      sectionAsWritten = TrimBlanksAndTabs(
          line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      section = NameKey(sectionAsWritten);
      ini.sections_.emplace_back(sectionAsWritten);
      inSection = true;
      continue;
    }
    if (inSection) {
      ini.AddLine(line, section, sectionAsWritten);
    } else if (const size_t equals = line.find('='); equals != std::string_view::npos) {
      ini.entries_.push_back({"", std::string(TrimBlanksAndTabs(line.substr(0, equals))),
                              ValueText(line.substr(equals + 1))});
    }
  }
  return ini;
}

void IniFile::AddLine(std::string_view line, const std::string& section,
                      std::string_view sectionAsWritten) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view keyName = TrimBlanksAndTabs(line.substr(0, equals));
  if (keyName.empty()) return;
  // try_emplace keeps the first value of a key that occurs again.
  values_.try_emplace({section, NameKey(keyName)}, entries_.size());
  entries_.push_back(
      {std::string(sectionAsWritten), std::string(keyName), ValueText(line.substr(equals + 1))});
}

std::string IniFile::ReadIniValue(std::string_view section, std::string_view key,
                                  std::string_view defaultText) const {
  asked_.insert({NameKey(section), NameKey(key)});
  const auto found = values_.find({NameKey(section), NameKey(key)});
  if (found == values_.end()) return std::string(defaultText.substr(0, MaxValueLength));
  return entries_[found->second].Value;
}

void IniFile::ForEachValue(const std::function<void(const std::string&, const std::string&,
                                                    const std::string&)>& visit) const {
  for (const auto& [names, index] : values_) {
    const Entry& entry = entries_[index];
    visit(entry.Section, entry.Key, entry.Value);
  }
}

bool IniFile::WasAsked(std::string_view section, std::string_view key) const {
  return asked_.count({NameKey(section), NameKey(key)}) != 0;
}

}  // namespace tarvel
