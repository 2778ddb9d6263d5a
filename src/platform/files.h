#pragma once
// Files and folders the program needs, and the ANSI code page conversion.
#include <string>

namespace quorrel {

// A file being replaced whole: the private copy the caller edits, and what
// the file was when the copy was taken (empty when there was none), so that
// a file another program replaced meanwhile is not overwritten unseen.
struct FileReplacement {
  std::string copy;
  std::string original;
};

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
  // True for a program installed for all users (its folder is not this
  // user's own, or lies under the system's prefixes): such a program never
  // writes beside itself.
  virtual bool IsInstalledProgramFolder(const std::string& /*folder*/) { return false; }
  // True when `path` does not exist or this user may replace it; a read-only
  // file is kept, root's included.
  virtual bool MayReplace(const std::string& /*path*/) { return true; }
  // Appends `bytes` to the regular file at `path`, creating it: all of them
  // or, on any failure, none (the file is left as it was); false then.
  virtual bool AppendToFile(const std::string& path, const std::string& bytes) = 0;
  // Replacing `path` in one step: a private copy of the file (or, while it
  // does not exist, of `seed`; else empty) for the caller to edit; an empty
  // copy name when none could be made or the file may not be replaced.
  virtual FileReplacement BeginReplace(const std::string& path, const std::string& seed) = 0;
  // Puts the edited copy in place of `path`. False, with the copy removed,
  // when that failed or `path` was replaced or created since BeginReplace.
  virtual bool CommitReplace(const FileReplacement& replacement, const std::string& path) = 0;
  // Removes the copy of a replacement that is given up.
  virtual void AbandonReplace(const FileReplacement& replacement) = 0;
  // Tells what could not be saved where the program's diagnostics go
  // (stderr; the debugger output on Windows): at the close there is no
  // window left to say it in.
  virtual void ReportUnsaved(const std::string& line) = 0;
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
