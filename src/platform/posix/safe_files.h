#pragma once
// The rules every file the program writes is held to, shared by the settings
// file and the log files: whose links are followed, which mode bits count
// (root included), and whole-file replacement through a temporary sibling.
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace quorrel::posix {

// Whether the mode bits let this user write the file. Root's power to write
// any file is deliberately not used: a read-only file stays as it is, as the
// read-only attribute keeps it on Windows.
bool MayWrite(const struct stat& st);

// Where the bytes of `path` are stored: the path itself, or for a symbolic
// link the file it leads to. A link is followed only when both the link and
// the file it ends at are this user's own and the file is a regular one; a
// link planted by someone else, or one to another user's or a system file, is
// not written through. False for such a link and for a path without a name.
bool ResolveTarget(const char* path, std::string& folder, std::string& base);

// ".<base>.<pid>-<n>.tmp": the process that wrote it, or 0 when the name is
// not one of ours.
pid_t TempOwner(std::string_view name, const std::string& base);

// Removes the temporary files a killed earlier save left beside `base` in the
// folder `dir`. One whose process still runs and that is fresh belongs to a
// save going on now.
void RemoveStaleTemps(int dir, const std::string& base);

// Writes all of `bytes`, through EINTR and short writes.
bool WriteAll(int fd, std::string_view bytes);

bool SameFile(const struct stat& a, const struct stat& b);

// A new ".<base>.<pid>-<n>.tmp" in `dir`, open for writing; `name` receives its
// name. -1 when none could be made.
int CreateTemp(int dir, const std::string& base, mode_t mode, std::string& name);

// Puts the temporary file `temp` in place of `base`, unless `base` was
// replaced or created since `old` was taken (null: there was no file); the
// temporary file is removed when it is not put in place.
bool CommitTemp(int dir, const std::string& temp, const std::string& base,
                const struct stat* old);

// Writes a sibling temporary file and renames it over `base`, so a crash or a
// full disk leaves either the old file or the new one, never half of either.
// `old` is the file as it was read, null when there was none; the new file
// keeps its mode and owner.
bool ReplaceFile(int dir, const std::string& base, std::string_view bytes,
                 const struct stat* old);

}  // namespace quorrel::posix
