#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileAccess.h"

namespace tarvel {

// A Windows-style INI file, read once as 8-bit bytes. A missing or unreadable file reads as
// an empty one, so every key takes its default.
//
// The lines are read the way the Windows reader reads them, with these choices of our own:
// - a line whose first character after blanks and tabs is ";" is a comment;
// - a line starting with "[" names a section up to its last "]" (or to the line end when
//   there is none); keys before the first section belong to none and are never found;
// - a line without "=" is ignored; so is one whose key is empty;
// - when a key occurs twice in a section (or in two sections of the same name) the first one
//   wins, as with the Windows reader;
// - a value is cut to 2047 characters, and only the first MaxFileBytes of the file are read.
class IniFile {
 public:
  static constexpr size_t MaxValueLength = 2047;
  static constexpr size_t MaxFileBytes = 16 * 1024 * 1024;

  // Reads the file only when it is a regular file (a pipe or device under the name reads as
  // missing), and at most maxBytes of it.
  static IniFile Load(const std::string& path, size_t maxBytes = MaxFileBytes,
                      FileAccess& files = SystemFiles());
  // As Load; problem tells why a file that exists could not be read ("Permission denied",
  // "not a regular file"), and stays empty for a file read or missing (see Exists).
  static IniFile Load(const std::string& path, std::string& problem, size_t maxBytes = MaxFileBytes,
                      FileAccess& files = SystemFiles());
  static IniFile FromText(std::string_view text);

  // One key line as the file has it (names trimmed, not upper-cased), in file order; the
  // section is empty for lines before the first section.
  struct Entry {
    std::string Section;
    std::string Key;
    std::string Value;
  };
  const std::vector<Entry>& Entries() const { return entries_; }
  // Every section header, as written, in file order (also sections without keys).
  const std::vector<std::string>& Sections() const { return sections_; }
  // False when Load found no file under the path.
  bool Exists() const { return exists_; }

  // Whether the reader has asked for this key (any section and key spelling), so a checker can
  // tell the keys the program knows from the ones it never reads.
  bool WasAsked(std::string_view section, std::string_view key) const;

  // The value of a key: section and key matched without regard to case, blanks and tabs at
  // both ends removed, one pair of enclosing quotes (double or single) removed, cut to 2047
  // characters; the default when the section or key is missing.
  std::string ReadIniValue(std::string_view section, std::string_view key,
                           std::string_view defaultText) const;

  // Every value found, with its section and key spelled as in the file, by section and key.
  void ForEachValue(const std::function<void(const std::string& section, const std::string& key,
                                             const std::string& value)>& visit) const;

 private:
  void AddLine(std::string_view line, const std::string& section,
               std::string_view sectionAsWritten);

  // (section, key), both upper case -> the index of its first entry. The text is held once, in
  // entries_: a 16 MiB file of short keys makes about a million of them.
  std::map<std::pair<std::string, std::string>, size_t> values_;
  std::vector<Entry> entries_;
  std::vector<std::string> sections_;
  bool exists_ = true;
  mutable std::set<std::pair<std::string, std::string>> asked_;
};

}  // namespace tarvel
