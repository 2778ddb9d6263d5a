#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "platform/posix/safe_files.h"
#include "platform/posix/unique_fd.h"

#ifndef QUORREL_INSTALL_BINDIR
#define QUORREL_INSTALL_BINDIR "/usr/bin"
#endif

namespace quorrel::posix {
namespace {

// Room for the longest name the program puts in its folder, with the
// temporary copy's prefix and suffix around it.
constexpr std::size_t kLongestFileName = 64;
// Settings.ini is a few hundred bytes; what is larger is not one.
constexpr off_t kMaxCopiedSize = 16 * 1024 * 1024;

// Folders a package manager owns: a program started from there is installed.
constexpr std::string_view kSystemPrefixes[] = {"/usr/", "/bin/", "/sbin/", "/lib/", "/opt/",
                                                "/snap/"};

std::string WithoutTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool IsUsableFolder(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadAll(int fd, std::string& content) {
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (content.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxCopiedSize))
      return false;
    content.append(chunk, static_cast<std::size_t>(n));
  }
}

// A regular file's bytes, opened without following a link and without
// blocking on a FIFO. False when it exists but is not such a file, or when
// `mustWrite` and this user may not write it.
bool ReadRegular(int dir, const char* name, bool mustWrite, bool& exists, std::string& content,
                 struct stat& st) {
  UniqueFd fd(::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  exists = fd.Get() >= 0;
  if (!exists) return errno == ENOENT;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxCopiedSize ||
      (mustWrite && !MayWrite(st)))
    return false;
  return ReadAll(fd.Get(), content);
}

std::string Identity(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

bool ParseIdentity(std::string_view text, struct stat& st) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  auto dev = std::from_chars(text.data(), text.data() + colon, st.st_dev);
  auto ino = std::from_chars(text.data() + colon + 1, text.data() + text.size(), st.st_ino);
  return dev.ec == std::errc() && ino.ec == std::errc() && ino.ptr == text.data() + text.size();
}

bool SplitPath(const std::string& path, std::string& folder, std::string& base) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return false;
  folder = slash == 0 ? "/" : path.substr(0, slash);
  base = path.substr(slash + 1);
  return true;
}

}  // namespace

std::string PosixFileSystem::ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool PosixFileSystem::IsFolderWritable(const std::string& folder) {
  if (folder.size() + kLongestFileName >= PATH_MAX) return false;
  // access(W_OK) answers for root as if every folder were writable, and it
  // knows nothing of read-only mounts' details; a real file answers truly.
  std::string probe = folder;
  if (probe.empty() || probe.back() != '/') probe += '/';
  probe += ".quorrel-write-test-" + std::to_string(getpid());
  UniqueFd fd(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.Get() < 0) return false;
  ::unlink(probe.c_str());
  return true;
}

bool PosixFileSystem::IsExistingFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string PosixFileSystem::UserDataFolder() {
  auto usable = [this](const std::string& base) -> std::string {
    ::mkdir(base.c_str(), 0700);
    if (!IsUsableFolder(base)) return {};
    std::string folder = base + "/quorrel";
    ::mkdir(folder.c_str(), 0700);
    return IsUsableFolder(folder) && IsFolderWritable(folder) ? folder : std::string();
  };
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    std::string folder = usable(WithoutTrailingSlash(xdg));
    if (!folder.empty()) return folder;
  }
  if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    return usable(WithoutTrailingSlash(home) + "/.config");
  return {};
}

bool PosixFileSystem::IsInstalledProgramFolder(const std::string& folder) {
  const std::string bare = WithoutTrailingSlash(folder);
  if (bare == WithoutTrailingSlash(QUORREL_INSTALL_BINDIR)) return true;
  const std::string withSlash = bare + "/";
  for (std::string_view prefix : kSystemPrefixes)
    if (withSlash.starts_with(prefix)) return true;
  struct stat st {};
  return ::stat(bare.c_str(), &st) != 0 || st.st_uid != ::geteuid();
}

bool PosixFileSystem::MayReplace(const std::string& path) {
  std::string folder, base;
  if (!ResolveTarget(path.c_str(), folder, base)) return false;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return false;
  struct stat st {};
  if (::fstatat(dir.Get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && MayWrite(st);
}

bool PosixFileSystem::AppendToFile(const std::string& path, const std::string& bytes) {
  std::string folder, base;
  if (!ResolveTarget(path.c_str(), folder, base)) return false;
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return false;
  // O_NOFOLLOW: the name was checked above and must not have become a link
  // since. O_NONBLOCK: a FIFO must not hang the close in open().
  UniqueFd fd(::openat(dir.Get(), base.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666));
  if (fd.Get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !MayWrite(st)) return false;
  int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  // Root may fill the blocks kept back for it; everyone else stops short of them.
  struct statvfs fs {};
  if (::fstatvfs(fd.Get(), &fs) == 0) {
    const unsigned long long blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
    if (blocks * fs.f_frsize < bytes.size()) return false;
  }
  if (!WriteAll(fd.Get(), bytes)) {
    // Space taken by another writer meanwhile: the partial block goes again.
    if (::ftruncate(fd.Get(), st.st_size) != 0) {
    }
    return false;
  }
  // A file system that stores late (NFS) reports a failed write only at close.
  return ::close(fd.Release()) == 0;
}

FileReplacement PosixFileSystem::BeginReplace(const std::string& path, const std::string& seed) {
  std::string folder, base;
  if (!ResolveTarget(path.c_str(), folder, base)) return {};
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return {};
  RemoveStaleTemps(dir.Get(), base);

  std::string content;
  struct stat st {};
  bool exists = false;
  if (!ReadRegular(dir.Get(), base.c_str(), true, exists, content, st)) return {};
  if (!exists && !seed.empty()) {
    // A seed that cannot be read adds nothing; the new file starts empty.
    UniqueFd seedFd(::open(seed.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat seedSt {};
    if (seedFd.Get() >= 0 && ::fstat(seedFd.Get(), &seedSt) == 0 && S_ISREG(seedSt.st_mode) &&
        !ReadAll(seedFd.Get(), content))
      content.clear();
  }

  std::string temp;
  UniqueFd copy(CreateTemp(dir.Get(), base, exists ? 0600 : 0666, temp));
  if (copy.Get() < 0) return {};
  bool ok = WriteAll(copy.Get(), content);
  if (ok && exists) {
    ok = ::fchmod(copy.Get(), st.st_mode & 07777) == 0;
    // Keeps a file that root rewrites owned by its user; only root may.
    if (ok && ::fchown(copy.Get(), st.st_uid, st.st_gid) != 0) {
    }
  }
  FileReplacement replacement{(folder == "/" ? folder : folder + "/") + temp,
                              exists ? Identity(st) : ""};
  if (!ok) {
    AbandonReplace(replacement);
    return {};
  }
  return replacement;
}

bool PosixFileSystem::CommitReplace(const FileReplacement& replacement, const std::string& path) {
  std::string folder, base, copyFolder, copyName;
  if (!SplitPath(replacement.copy, copyFolder, copyName)) return false;
  struct stat old {};
  const bool existed = !replacement.original.empty();
  bool ok = ResolveTarget(path.c_str(), folder, base) && folder == copyFolder &&
            (!existed || ParseIdentity(replacement.original, old));
  UniqueFd dir(ok ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
  if (dir.Get() >= 0) {
    // What the copy's editor wrote must be on disk before the name points at it.
    UniqueFd copy(::openat(dir.Get(), copyName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (copy.Get() >= 0 && ::fsync(copy.Get()) == 0)
      return CommitTemp(dir.Get(), copyName, base, existed ? &old : nullptr);
  }
  AbandonReplace(replacement);
  return false;
}

void PosixFileSystem::AbandonReplace(const FileReplacement& replacement) {
  if (!replacement.copy.empty()) ::unlink(replacement.copy.c_str());
}

void PosixFileSystem::ReportUnsaved(const std::string& line) {
  const std::string text = "quorrel: " + line + "\n";
  if (::write(STDERR_FILENO, text.data(), text.size()) < 0) {
  }
}

std::string Utf8CodePage::FromAnsi(const std::string& ansi) {
  return Utf16ToUtf8(Utf8ToUtf16(ansi));
}

}  // namespace quorrel::posix
