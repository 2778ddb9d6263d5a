#include <windows.h>

#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

std::uint32_t PrivateProfile::GetPrivateProfileStringA(const char* section, const char* key,
                                                       const char* defaultValue, char* buffer,
                                                       std::uint32_t size, const char* fileName) {
  // Without a place for the terminator there is nothing the call may write.
  if (buffer == nullptr || size == 0) return 0;
  return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
}

int PrivateProfile::WritePrivateProfileStringA(const char* section, const char* key,
                                               const char* value, const char* fileName) {
  return ::WritePrivateProfileStringA(section, key, value, fileName);
}

}  // namespace quorrel::win32
