#pragma once
// Starting a separate process without waiting for it.
#include <cstdint>
#include <string>

namespace quorrel {

inline constexpr int kSwShowNormal = 1;  // normal window that takes the focus

class ProcessApi {
 public:
  virtual ~ProcessApi() = default;
  // Starts `commandLine` (UTF-8, as typed) detached; no handle is kept.
  // Returns false with a short reason in `error` when it could not be started.
  virtual bool StartDetached(const std::string& commandLine, int showCommand,
                             std::string& error) = 0;
};

}  // namespace quorrel
