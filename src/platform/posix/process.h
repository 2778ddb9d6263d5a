#pragma once
#include "platform/process.h"

namespace quorrel::posix {

// Starts a command line through /bin/sh -c, detached in its own session.
class ShellProcess : public ProcessApi {
 public:
  bool StartDetached(const std::string& commandLine, int showCommand, std::string& error) override;
};

}  // namespace quorrel::posix
