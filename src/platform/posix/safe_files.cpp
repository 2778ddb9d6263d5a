#include "platform/posix/safe_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quorrel::posix {
namespace {

constexpr std::string_view kTempSuffix = ".tmp";
// A save lasts milliseconds; a temporary file this old was left by a run that
// was killed, even when its process number has been given to another process.
constexpr time_t kStaleTempAge = 60;

bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  count = ::getgroups(count, groups.data());
  return count > 0 &&
         std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

std::string TempPrefix(const std::string& base) { return "." + base + "."; }

}  // namespace

bool MayWrite(const struct stat& st) {
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
}

bool ResolveTarget(const char* path, std::string& folder, std::string& base) {
  std::string target = path;
  struct stat st {};
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (st.st_uid != ::geteuid()) return false;
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) return false;
    target = resolved;
    std::free(resolved);
    if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
      return false;
  }
  std::size_t slash = target.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  base = slash == std::string::npos ? target : target.substr(slash + 1);
  return !base.empty();
}

pid_t TempOwner(std::string_view name, const std::string& base) {
  const std::string prefix = TempPrefix(base);
  if (!name.starts_with(prefix) || !name.ends_with(kTempSuffix)) return 0;
  name.remove_prefix(prefix.size());
  name.remove_suffix(kTempSuffix.size());
  std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 == name.size()) return 0;
  pid_t pid = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + dash, pid);
  if (error != std::errc() || end != name.data() + dash || pid <= 0) return 0;
  for (char c : name.substr(dash + 1))
    if (c < '0' || c > '9') return 0;
  return pid;
}

void RemoveStaleTemps(int dir, const std::string& base) {
  alignas(8) char buffer[8192];
  const time_t now = ::time(nullptr);
  // The listing is read through its own descriptor, so `dir` keeps its offset.
  UniqueFd listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.Get() < 0) return;
  for (;;) {
    ssize_t n = ::getdents64(listing.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    constexpr std::size_t kNameAt = offsetof(struct dirent64, d_name);
    for (std::size_t at = 0; at + kNameAt < size;) {
      unsigned short length = 0;
      std::memcpy(&length, buffer + at + offsetof(struct dirent64, d_reclen), sizeof length);
      if (length <= kNameAt || length > size - at) return;
      const char* nameStart = buffer + at + kNameAt;
      const char* nul = static_cast<const char*>(std::memchr(nameStart, '\0', length - kNameAt));
      if (nul == nullptr) return;
      std::string name(nameStart, nul);
      at += length;

      pid_t owner = TempOwner(name, base);
      // A save edits its copy through the profile service, whose own
      // temporary file of the copy a kill can leave as well.
      if (owner == 0 && name.starts_with("..") && name.size() > 5) {
        const std::size_t dot = name.rfind('.', name.size() - 5);
        const std::string copy = name.substr(1, dot - 1);
        if (dot != std::string::npos && dot > 1 && TempOwner(copy, base) != 0)
          owner = TempOwner(name, copy);
      }
      if (owner == 0) continue;
      struct stat st {};
      if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        continue;
      bool running = ::kill(owner, 0) == 0 || errno == EPERM;
      if (running && now - st.st_mtime < kStaleTempAge) continue;
      ::unlinkat(dir, name.c_str(), 0);
    }
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int CreateTemp(int dir, const std::string& base, mode_t mode, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = TempPrefix(base) + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + std::string(kTempSuffix);
    int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool CommitTemp(int dir, const std::string& temp, const std::string& base,
                const struct stat* old) {
  // Someone replaced or created the file since it was read: theirs stands.
  struct stat now {};
  bool there = ::fstatat(dir, base.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
  bool ok = old != nullptr ? there && SameFile(now, *old) : !there && errno == ENOENT;
  if (ok && old == nullptr) {
    // A file made meanwhile by another run is not overwritten.
    ok = ::renameat2(dir, temp.c_str(), dir, base.c_str(), RENAME_NOREPLACE) == 0;
    // File systems without the flag answer EINVAL; the check above must do.
    if (!ok && errno == EINVAL) ok = ::renameat(dir, temp.c_str(), dir, base.c_str()) == 0;
  } else if (ok) {
    ok = ::renameat(dir, temp.c_str(), dir, base.c_str()) == 0;
  }
  if (!ok) {
    ::unlinkat(dir, temp.c_str(), 0);
    return false;
  }
  // The rename itself lasts only once the folder is on disk.
  ::fsync(dir);
  return true;
}

bool ReplaceFile(int dir, const std::string& base, std::string_view bytes,
                 const struct stat* old) {
  std::string temp;
  UniqueFd fd(CreateTemp(dir, base, old != nullptr ? 0600 : 0666, temp));
  if (fd.Get() < 0) return false;
  bool ok = WriteAll(fd.Get(), bytes);
  if (ok && old != nullptr) {
    ok = ::fchmod(fd.Get(), old->st_mode & 07777) == 0;
    // Keeps a file that root rewrites owned by its user; only root may, so a
    // refusal here is expected and harmless.
    if (ok && ::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
    }
  }
  // fsync reports what a delayed write could not store, so close has nothing left to say.
  ok = ok && ::fsync(fd.Get()) == 0;
  fd.Reset();
  if (!ok) {
    ::unlinkat(dir, temp.c_str(), 0);
    return false;
  }
  return CommitTemp(dir, temp, base, old);
}

}  // namespace quorrel::posix
