#include "platform/posix/profile.h"

namespace quorrel::posix {

// TODO(profile): the INI file reader and writer.
std::uint32_t ProfileFile::GetPrivateProfileStringA(const char*, const char*, const char*,
                                                    char* buffer, std::uint32_t size,
                                                    const char*) {
  if (size > 0) buffer[0] = '\0';
  return 0;
}
int ProfileFile::WritePrivateProfileStringA(const char*, const char*, const char*, const char*) {
  return 0;
}

}  // namespace quorrel::posix
