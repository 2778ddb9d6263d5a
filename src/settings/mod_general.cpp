#include "settings/mod_general.h"

#include <vector>

namespace quorrel {

std::string ModGeneral::ReadIniValue(const std::string& section, const std::string& key,
                                     const std::string& file) {
  std::vector<char> buffer(kIniBufferSize, '\0');
  std::uint32_t n = profile_.GetPrivateProfileStringA(
      codePage_.ToAnsi(section).c_str(), codePage_.ToAnsi(key).c_str(), "", buffer.data(),
      kIniBufferSize, codePage_.ToAnsi(file).c_str());
  if (n > kIniBufferSize) n = kIniBufferSize;
  // A cut in the middle of a multi-byte sequence is mended by the conversion.
  return codePage_.FromAnsi(std::string(buffer.data(), n));
}

int ModGeneral::WriteIniValue(const std::string& section, const std::string& key,
                              const std::string& value, const std::string& file) {
  return profile_.WritePrivateProfileStringA(
      codePage_.ToAnsi(section).c_str(), codePage_.ToAnsi(key).c_str(),
      codePage_.ToAnsi(value).c_str(), codePage_.ToAnsi(file).c_str());
}

}  // namespace quorrel
