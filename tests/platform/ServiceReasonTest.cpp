#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/LinuxServiceControl.h"
#include "support/TempFolder.h"

namespace tarvel {
namespace {

// Each way /I can fail gives its reason after "failed to install as service".
TEST(ServiceReason, InstallFailuresSayWhy) {
  TempFolder folder;
  const struct Row {
    const char* systemctl;
    const char* user;
    std::string reason;
  } rows[] = {
      {"false", "", "false daemon-reload failed (exit status 1)"},
      {"/nonexistent/systemctl", "",
       "cannot run /nonexistent/systemctl: No such file or directory"},
      {"true", "no-such-user-x",
       "TARVEL80IMPORT_SERVICE_USER=no-such-user-x: not an account, or the program folder's "
       "files cannot be handed over to it"},
  };
  setenv("TARVEL80IMPORT_UNIT_DIR", folder.Path().c_str(), 1);
  for (const Row& row : rows) {
    setenv("TARVEL80IMPORT_SYSTEMCTL", row.systemctl, 1);
    setenv(LinuxServiceControl::ServiceUserVariable, row.user, 1);
    LinuxServiceControl service(folder.Path(), "/usr/bin/tarvel80import");
    EXPECT_FALSE(service.Install()) << row.reason;
    EXPECT_EQ(service.LastError(), row.reason);
  }
  unsetenv("TARVEL80IMPORT_UNIT_DIR");
  unsetenv("TARVEL80IMPORT_SYSTEMCTL");
  unsetenv(LinuxServiceControl::ServiceUserVariable);
}

}  // namespace
}  // namespace tarvel
