#pragma once

#include <string>

#include "../../tools/ToolSupport.h"

namespace tarvel {

// A fresh program folder, removed with everything in it at the end of the test. Path() ends
// in "/", as the program folder does.
class TempFolder : public tools::TempFolder {
 public:
  TempFolder() : tools::TempFolder("tarvel") {}
  std::string ReadFile(const std::string& name) const {
    return tools::ReadWholeFile(Path() + name);
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path() + name); }
};

}  // namespace tarvel
