#pragma once
// Files and folders the program needs, and the ANSI code page conversion.
#include <string>

namespace quorrel {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The folder the executable lives in, without a trailing separator.
  virtual std::string ExecutableFolder() = 0;
  // '\\' on Windows, '/' elsewhere.
  virtual char PathSeparator() = 0;
  // True when a new file can be created in `folder`.
  virtual bool IsFolderWritable(const std::string& folder) = 0;
  // The per-user folder for the program's files (created when missing), without
  // a trailing separator; empty when there is none.
  virtual std::string UserDataFolder() = 0;
  // Appends `bytes` to the file at `path`, creating it; false on any failure.
  virtual bool AppendToFile(const std::string& path, const std::string& bytes) = 0;
  // True when `path` names an existing file. A service that cannot tell
  // answers true, which keeps the per-user Settings.ini the one that is read.
  virtual bool IsExistingFile(const std::string& /*path*/) { return true; }
};

// The model keeps UTF-8; the *A calls and the log file take the system's ANSI
// code page. On Linux both are UTF-8.
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual std::string ToAnsi(const std::string& utf8) = 0;
  virtual std::string FromAnsi(const std::string& ansi) = 0;
};

}  // namespace quorrel
