#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/ProgramLayout.h"
#include "support/TempFolder.h"
#include "text/IniFile.h"

namespace tarvel {
namespace {

TEST(IniFile, ReadsValuesTheWayTheWindowsReaderDoes) {
  struct Row {
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
  };
  const std::string x3000(3000, 'x');
  // clang-format off
  const Row rows[] = {
      {"[General]\nOstrelPort=14001\n", "general", "OSTRELPORT", "14001"},
      {"[ General ]\n  Key  =  a value  \n", "General", "Key", "a value"},
      {"[G]\nKey=\t\"quoted\"\t\n", "G", "Key", "quoted"},
      {"[G]\nKey=' single '\n", "G", "Key", " single "},
      {"[G]\nKey=\"a\"b\"\n", "G", "Key", "a\"b"}, {"[G]\nKey=\"mixed'\n", "G", "Key", "\"mixed'"},
      {"[G]\nKey=\"\"\n", "G", "Key", ""}, {"[G]\r\nKey=crlf\r\nOther=x\r\n", "G", "Key", "crlf"},
      {"[G]\nKey=first\nKEY=second\n", "G", "Key", "first"},
      {"[G]\nKey=first\n[H]\nKey=h\n[g]\nKey=second\nLate=found\n", "G", "Late", "found"},
      {"[G]\nKey=first\n[H]\nKey=h\n[g]\nKey=second\n", "G", "Key", "first"},
      {"[G]\n; Key=comment\nKey=real\n", "G", "Key", "real"}, {"[G]\n#Key=hash\n", "G", "#Key", "hash"},
      {"[G]\nKey without equals\n", "G", "Key without equals", "default"},
      {"Key=before any section\n[G]\n", "G", "Key", "default"},
      {"[G\nKey=unclosed\n", "G", "Key", "unclosed"}, {"[G] ; note\nKey=v\n", "G", "Key", "v"},
      {"[G]\nKey=v ; no comment\n", "G", "Key", "v ; no comment"},
      {std::string("[G]\nKey=a\0b\n", 11), "G", "Key", std::string("a\0b", 3)},
      {"[G]\nKey=" + x3000 + "\n", "G", "Key", x3000.substr(0, 2047)},
      {"[G]\n" + std::string(1 << 20, 'y') + "\nKey=after", "G", "Key", "after"}};
  // clang-format on
  for (const Row& row : rows) {
    const IniFile ini = IniFile::FromText(row.text);
    EXPECT_EQ(ini.ReadIniValue(row.section, row.key, "default"), row.expected)
        << "file: \"" << row.text.substr(0, 60) << "\" [" << row.section << "] " << row.key;
  }
}

TEST(IniFile, LoadsFromDiskAndGivesDefaultsForWhatCannotBeRead) {
  TempFolder folder;
  const std::string fifo = folder.Path() + "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  folder.Write(ProgramLayout::ConfigFileName, "[General]\r\nOstrelPort=15000\r\n");
  // A pipe without a writer must not stall the start either. A missing file is no problem.
  const struct Row {
    std::string path;
    const char* value;
    const char* problem;
  } rows[] = {{folder.Path() + ProgramLayout::ConfigFileName, "15000", ""},
              {folder.Path() + "missing.ini", "14000", ""},
              {folder.Path(), "14000", "not a regular file"},
              {fifo, "14000", "not a regular file"},
              {"", "14000", ""}};
  for (const Row& row : rows) {
    std::string problem = "left over";
    const IniFile ini = IniFile::Load(row.path, problem);
    EXPECT_EQ(ini.ReadIniValue("General", "OstrelPort", "14000"), row.value) << row.path;
    EXPECT_EQ(problem, row.problem) << row.path;
  }
}

}  // namespace
}  // namespace tarvel
