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
  // value arrives cut to the first 254 ANSI characters; `full` (when given)
  // says the value filled the buffer, so it may have been cut.
  std::string ReadIniValue(const std::string& section, const std::string& key,
                           const std::string& file, bool* full = nullptr);
  // Non-zero on success. A value that starts and ends with the same quote
  // mark is stored inside one more pair of double quotes: the read takes the
  // outer pair away, as the platform's profile read does, and gives back the
  // value as it was typed.
  int WriteIniValue(const std::string& section, const std::string& key,
                    const std::string& value, const std::string& file);

 private:
  ProfileApi& profile_;
  CodePage& codePage_;
};

}  // namespace quorrel
