#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// A Windows-style INI file, read once as 8-bit bytes. A missing or unreadable file reads as
// an empty one, so every key takes its default.
class IniFile {
 public:
  static constexpr const char* FileName = "TARVEL80Import.ini";

  static IniFile Load(const std::string& path);
  static IniFile FromText(std::string_view text);

  // The value of a key: section and key matched without regard to case, blanks at both ends
  // removed, one pair of enclosing quotes removed, cut to 2047 characters; the default when
  // the section or key is missing.
  std::string ReadIniValue(std::string_view section, std::string_view key,
                           std::string_view defaultText) const;

 private:
  struct Entry {
    std::string Section;  // upper case
    std::string Key;      // upper case
    std::string Value;
  };
  std::vector<Entry> entries_;
};

}  // namespace tarvel
