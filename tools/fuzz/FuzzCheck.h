#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarvel {

// Stops the fuzzer on a broken promise, so that libFuzzer keeps the input as a crash.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "Broken invariant: %s\n", what);
  std::abort();
}

}  // namespace tarvel
