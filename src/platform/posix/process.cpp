#include "platform/posix/process.h"

namespace quorrel::posix {

// TODO(process): spawn.
bool ShellProcess::StartDetached(const std::string&, int, std::string& error) {
  error = "not available yet";
  return false;
}

}  // namespace quorrel::posix
