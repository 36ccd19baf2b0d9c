#include "platform/posix/StandardErrorMessageBox.h"

#include <cstdio>

namespace tarvel {

void StandardErrorMessageBox::Show(const std::string& text, int /*style*/) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace tarvel
