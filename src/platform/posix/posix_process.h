#pragma once
#include "platform/process.h"

namespace quorrel::posix {

// Starts a command line through /bin/sh -c, detached in its own session.
//
// The command runs in a grandchild: the first child calls setsid(), forks the
// shell and exits at once, and is reaped before StartDetached returns, so the
// monitor keeps no child, no zombie and no handle; the shell is adopted by
// init. Its standard input, output and error are /dev/null (the command line
// may redirect them), every other descriptor is closed at exec, and signal
// dispositions and the signal mask are reset.
//
// The shell reports a missing or non-runnable program only in the child, where
// nobody reads it. So when the command's first word can be read without the
// shell's expansions, it is checked here first: a path must name an executable
// file, a bare name must be a shell word or an executable on PATH. A failure to
// start the shell itself comes back through a close-on-exec pipe.
class ShellProcess : public ProcessApi {
 public:
  // `showCommand` has no counterpart here: the command gets no window of its own.
  bool StartDetached(const std::string& commandLine, int showCommand, std::string& error) override;
};

}  // namespace quorrel::posix
