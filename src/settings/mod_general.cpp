#include "settings/mod_general.h"

#include <vector>

namespace quorrel {

std::string ModGeneral::ReadIniValue(const std::string& section, const std::string& key,
                                     const std::string& file, bool* full) {
  std::vector<char> buffer(kIniBufferSize, '\0');
  std::uint32_t n = profile_.GetPrivateProfileStringA(
      codePage_.ToAnsi(section).c_str(), codePage_.ToAnsi(key).c_str(), "", buffer.data(),
      kIniBufferSize, codePage_.ToAnsi(file).c_str());
  if (n > kIniBufferSize) n = kIniBufferSize;
  if (full != nullptr) *full = n + 1 >= kIniBufferSize;
  // A cut in the middle of a multi-byte sequence is mended by the conversion.
  return codePage_.FromAnsi(std::string(buffer.data(), n));
}

int ModGeneral::WriteIniValue(const std::string& section, const std::string& key,
                              const std::string& value, const std::string& file) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  const std::string stored = quoted ? '"' + value + '"' : value;
  return profile_.WritePrivateProfileStringA(
      codePage_.ToAnsi(section).c_str(), codePage_.ToAnsi(key).c_str(),
      codePage_.ToAnsi(stored).c_str(), codePage_.ToAnsi(file).c_str());
}

}  // namespace quorrel
