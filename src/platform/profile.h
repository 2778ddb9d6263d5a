#pragma once
// Private profile (INI file) strings, as kernel32's *PrivateProfileStringA.
// Texts are in the ANSI code page (see CodePage in files.h).
#include <cstdint>

namespace quorrel {

class ProfileApi {
 public:
  virtual ~ProfileApi() = default;
  // Copies the value (or `defaultValue`) into `buffer`, NUL-terminated, at most
  // size - 1 characters; returns the number of characters copied.
  virtual std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                                 const char* defaultValue, char* buffer,
                                                 std::uint32_t size, const char* fileName) = 0;
  // Returns non-zero on success.
  virtual int WritePrivateProfileStringA(const char* section, const char* key,
                                         const char* value, const char* fileName) = 0;
};

}  // namespace quorrel
