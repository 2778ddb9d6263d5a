#pragma once
// INI access over the private-profile functions, and the program's keys.
#include <string>

#include "platform/files.h"
#include "platform/profile.h"

namespace quorrel {

inline constexpr char kSettingsFileName[] = "Settings.ini";
inline constexpr char kOptionsSection[] = "Options";
inline constexpr char kKeyFixPath[] = "Fix path";
inline constexpr char kKeyIp[] = "IP";
inline constexpr char kKeyInterval[] = "Interval";
inline constexpr char kKeyChangesOnly[] = "Changes only";
inline constexpr char kKeySaveLogOnExit[] = "Save log on exit";

inline constexpr unsigned kIniBufferSize = 255;

class ModGeneral {
 public:
  ModGeneral(ProfileApi& profile, CodePage& codePage) : profile_(profile), codePage_(codePage) {}

  // The stored text, or "" when the file, section or key is missing. A longer
  // value arrives cut to the first 254 ANSI characters.
  std::string ReadIniValue(const std::string& section, const std::string& key,
                           const std::string& file);
  // Non-zero on success.
  int WriteIniValue(const std::string& section, const std::string& key,
                    const std::string& value, const std::string& file);

 private:
  ProfileApi& profile_;
  CodePage& codePage_;
};

}  // namespace quorrel
