#pragma once
#include "platform/profile.h"

namespace quorrel::posix {

// The private-profile functions on a real INI file, with Windows' semantics.
//
// A write changes only the lines it must; every other line keeps its bytes
// and its own line end (new lines end in CR LF). A file that starts with the
// UTF-16LE byte-order mark is read and written as UTF-16LE; the texts at this
// interface are UTF-8, the ANSI code page of a Linux desktop. A value ends at
// its first NUL, as on Windows.
//
// The write fails (returns 0) and leaves the file alone when the file's mode
// bits do not let this user write it (root included, as a read-only file is
// kept on Windows), and when the name is a symbolic link unless both the link
// and the regular file it leads to belong to this user; such a link is
// written through. The new text goes to a temporary ".<name>.<pid>-<n>.tmp"
// beside the file, is synced and renamed over it; one left by a killed run is
// removed at the next write.
class ProfileFile : public ProfileApi {
 public:
  std::uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                         const char* defaultValue, char* buffer, std::uint32_t size,
                                         const char* fileName) override;
  int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                 const char* fileName) override;
};

}  // namespace quorrel::posix
