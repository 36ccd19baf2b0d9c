#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/KeepFilePath.h"

namespace tarvel {
namespace {

TEST(KeepFilePath, RefusesTheProgramsOwnFilesHoweverWritten) {
  const std::vector<ProgramFile> own{{"TARVEL80Import.ini", "the configuration file"},
                                     {"LogFiles/", "the log folder"},
                                     {"TARVEL80Import.lock", "the running-copy lock"}};
  const std::string ini = "is the configuration file /opt/t/TARVEL80Import.ini";
  const std::string logs = "the log folder /opt/t/LogFiles/";
  const std::pair<const char*, std::string> rows[] = {
      // clang-format off
      {"TARVEL80Import.ini", ini}, {"./TARVEL80Import.ini", ini},
      {"LogFiles/../TARVEL80Import.ini", ini}, {"/opt/t//TARVEL80Import.ini", ini},
      {"/opt/x/../t/./TARVEL80Import.ini", ini}, {"LogFiles", "is " + logs},
      {"LogFiles/", "is " + logs}, {"LogFiles//20240101.Log", "is in " + logs},
      {"/opt/t/TARVEL80Import.lock", "is the running-copy lock /opt/t/TARVEL80Import.lock"},
      {"", ""}, {"kept.txt", ""}, {"LogFilesOld/kept", ""},
      {"tarvel80import.ini", ""},  // another file where names keep their case
      {"/opt/t/TARVEL80Import.ini/x", ""}, {"/srv/TARVEL80Import.ini", ""}};
  // clang-format on
  for (const auto& [keepFile, problem] : rows) {
    const std::string found = KeepFileClash(keepFile, "/opt/t/", own);
    EXPECT_EQ(found, problem.empty() ? "" : problem + "; the keep file needs a name of its own")
        << keepFile;
  }
}

}  // namespace
}  // namespace tarvel
