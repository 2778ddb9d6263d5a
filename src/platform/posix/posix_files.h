#pragma once
#include "platform/files.h"

namespace quorrel::posix {

class PosixFileSystem : public FileSystem {
 public:
  std::string ExecutableFolder() override;
  char PathSeparator() override { return '/'; }
  bool IsFolderWritable(const std::string& folder) override;
  // $XDG_CONFIG_HOME/quorrel, else ~/.config/quorrel; created when missing.
  std::string UserDataFolder() override;
  bool AppendToFile(const std::string& path, const std::string& bytes) override;
  bool IsExistingFile(const std::string& path) override;
};

// The system code page of a Linux desktop is UTF-8; text coming back from a
// file is mended where it is not valid UTF-8 (a value cut inside a character).
class Utf8CodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) override { return utf8; }
  std::string FromAnsi(const std::string& ansi) override;
};

}  // namespace quorrel::posix
