#pragma once
// An invariant that does not hold is a finding: say which and abort, so that
// libFuzzer keeps the input as a crash artifact.
#include <cstdio>
#include <cstdlib>

namespace quorrel::fuzz {

inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace quorrel::fuzz
