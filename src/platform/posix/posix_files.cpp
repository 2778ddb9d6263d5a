#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::posix {

std::string PosixFileSystem::ExecutableFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool PosixFileSystem::IsFolderWritable(const std::string& folder) {
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
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  ::mkdir(base.c_str(), 0700);
  std::string folder = base + "/quorrel";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return folder;
}

bool PosixFileSystem::AppendToFile(const std::string& path, const std::string& bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return false;
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd.Get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  // A file system that stores late (NFS) reports a failed write only at close.
  return ::close(fd.Release()) == 0;
}

std::string Utf8CodePage::FromAnsi(const std::string& ansi) {
  return Utf16ToUtf8(Utf8ToUtf16(ansi));
}

}  // namespace quorrel::posix
