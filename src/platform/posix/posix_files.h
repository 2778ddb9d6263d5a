#pragma once
#include "platform/files.h"

namespace quorrel::posix {

// The program's files on Linux. Every file it writes is held to one set of
// rules (see safe_files.h): a link is followed only when it and its target
// are this user's own, only regular files are written, a read-only file is
// left alone (root included), and nothing can block the caller (a FIFO in a
// file's place is refused, not opened for good).
class PosixFileSystem : public FileSystem {
 public:
  std::string ExecutableFolder() override;
  char PathSeparator() override { return '/'; }
  // False too for a folder whose files' paths would not fit PATH_MAX: such a
  // file could be made through the folder but never be read back by name.
  bool IsFolderWritable(const std::string& folder) override;
  // $XDG_CONFIG_HOME/quorrel when that is an absolute path to a usable
  // folder, else ~/.config/quorrel; created when missing; empty when neither
  // can be used.
  std::string UserDataFolder() override;
  // A folder that belongs to another user, the build's install folder
  // (QUORREL_INSTALL_BINDIR) and the system's prefixes.
  bool IsInstalledProgramFolder(const std::string& folder) override;
  bool MayReplace(const std::string& path) override;
  // Checks the free space first and writes the block in one loop; a write
  // that fails halfway is cut back off, so no half line is ever left.
  bool AppendToFile(const std::string& path, const std::string& bytes) override;
  bool IsExistingFile(const std::string& path) override;
  // The copy is a ".<name>.<pid>-<n>.tmp" beside the file (or beside the
  // file a link of this user's leads to) with its mode and owner; one left by
  // a killed run is removed at the next replacement.
  FileReplacement BeginReplace(const std::string& path, const std::string& seed) override;
  bool CommitReplace(const FileReplacement& replacement, const std::string& path) override;
  void AbandonReplace(const FileReplacement& replacement) override;
  void ReportUnsaved(const std::string& line) override;
};

// The system code page of a Linux desktop is UTF-8; text coming back from a
// file is mended where it is not valid UTF-8 (a value cut inside a character).
class Utf8CodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) override { return utf8; }
  std::string FromAnsi(const std::string& ansi) override;
};

}  // namespace quorrel::posix
