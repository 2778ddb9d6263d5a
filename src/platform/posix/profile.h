#pragma once
#include "platform/profile.h"

namespace quorrel::posix {

// The private-profile functions on a real INI file, with Windows' semantics.
class ProfileFile : public ProfileApi {
 public:
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer,
                                         std::uint32_t size, const char* fileName) override;
  int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                 const char* fileName) override;
};

}  // namespace quorrel::posix
