#include "platform/posix/posix_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/unique_fd.h"

extern char** environ;

namespace quorrel::posix {
namespace {

constexpr char kShell[] = "/bin/sh";
constexpr char kBlanks[] = " \t\n";
// dash's search path when PATH is unset.
constexpr char kDefaultPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Reserved words and built-ins of a POSIX shell: the shell runs these itself,
// so they are not looked for on PATH.
constexpr std::array<std::string_view, 56> kShellWords = {
    "!",       "{",        "}",        "case",   "do",    "done",    "elif",   "else",
    "esac",    "fi",       "for",      "if",     "in",    "then",    "until",  "while",
    ".",       ":",        "[",        "alias",  "bg",    "break",   "cd",     "chdir",
    "command", "continue", "echo",     "eval",   "exec",  "exit",    "export", "false",
    "fc",      "fg",       "getopts",  "hash",   "jobs",  "kill",    "local",  "printf",
    "pwd",     "read",     "readonly", "return", "set",   "shift",   "test",   "times",
    "trap",    "true",     "type",     "ulimit", "umask", "unalias", "unset",  "wait"};

// A monitor started with a closed standard stream gets descriptors 0..2 from
// open() and pipe(); the children's dup2 onto 0..2 would then clobber them.
int AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

std::string ErrnoText(int error) { return std::strerror(error); }

// What a child writes to the report pipe when it cannot go on.
enum class Stage : int { kSession = 1, kFork, kRedirect, kExec };
struct StartFailure {
  Stage stage;
  int error;
};

void Report(int fd, Stage stage, int error) {
  const StartFailure failure{stage, error};
  [[maybe_unused]] ssize_t n = ::write(fd, &failure, sizeof failure);
}

// Only async-signal-safe calls from here to the exec: the monitor has threads
// (Qt's), and the child has a copy of whatever locks they held.
struct Launch {
  char* const* argv;
  int devNull;
  int report;
  long maxFd;
};

pid_t ForkInChild() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return ::_Fork();  // skips the atfork handlers, which need not be signal-safe
#else
  return ::fork();
#endif
}

void CloseOnExecAbove2(long maxFd) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  // Kernels before 5.11 lack the flag.
  for (int fd = 3; fd < maxFd; ++fd) {
    int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

[[noreturn]] void RunShell(const Launch& launch) {
  // Ignored signals and the blocked mask survive exec, and the monitor's
  // (or its toolkit's) choices are none of the command's business.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &byDefault, nullptr);

  for (int fd = 0; fd <= 2; ++fd) {
    if (::dup2(launch.devNull, fd) < 0) {
      Report(launch.report, Stage::kRedirect, errno);
      ::_exit(127);
    }
  }
  CloseOnExecAbove2(launch.maxFd);
  ::execve(kShell, launch.argv, environ);
  Report(launch.report, Stage::kExec, errno);
  ::_exit(127);
}

// The first child leads the new session and leaves at once, so the shell is
// not a session leader (it can never take a controlling terminal) and is
// adopted by init instead of being our child.
[[noreturn]] void RunIntermediate(const Launch& launch) {
  if (::setsid() < 0) {
    Report(launch.report, Stage::kSession, errno);
    ::_exit(1);
  }
  pid_t shell = ForkInChild();
  if (shell < 0) {
    Report(launch.report, Stage::kFork, errno);
    ::_exit(1);
  }
  if (shell == 0) RunShell(launch);
  ::_exit(0);
}

std::string FailureText(const StartFailure& failure) {
  const std::string why = ErrnoText(failure.error);
  switch (failure.stage) {
    case Stage::kSession:
      return "could not start a new session: " + why;
    case Stage::kFork:
      return "could not start a process: " + why;
    case Stage::kRedirect:
      return "could not attach /dev/null: " + why;
    case Stage::kExec:
      return std::string(kShell) + ": " + why;
  }
  return "could not start the shell";
}

// The command's first word as the shell will see it, when that can be told
// without running the shell: no expansions, no assignment or redirection
// first, no compound command. `known` is false otherwise.
struct FirstWord {
  bool known = false;
  std::string text;
};

bool IsOneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

bool IsShellName(std::string_view s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

FirstWord ReadFirstWord(std::string_view line) {
  const FirstWord unknown;
  std::size_t i = line.find_first_not_of(kBlanks);
  if (i == std::string_view::npos || line[i] == '#') return unknown;
  std::string word;
  if (line[i] == '~') {
    // Only the user's own home; ~name would need the password database.
    const char* home = std::getenv("HOME");
    const bool ownHome = i + 1 == line.size() || IsOneOf(line[i + 1], " \t\n/;&|");
    if (!ownHome || home == nullptr || *home == '\0') return unknown;
    word = home;
    ++i;
  }
  bool quoted = false;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (IsOneOf(c, kBlanks) || IsOneOf(c, ";&|")) break;
    if (IsOneOf(c, "<>()")) return unknown;   // a redirection or a compound command
    if (IsOneOf(c, "$`*?[")) return unknown;  // expanded by the shell
    if (c == '=' && !quoted && IsShellName(word)) return unknown;  // an assignment
    if (c == '\\') {
      quoted = true;
      if (++i < line.size() && line[i] != '\n') word += line[i];
    } else if (c == '\'') {
      quoted = true;
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) return unknown;
      word.append(line.substr(i + 1, close - i - 1));
      i = close;
    } else if (c == '"') {
      quoted = true;
      std::size_t j = i + 1;
      for (; j < line.size() && line[j] != '"'; ++j) {
        char d = line[j];
        if (d == '$' || d == '`') return unknown;
        if (d == '\\' && j + 1 < line.size() && IsOneOf(line[j + 1], "$`\"\\\n")) {
          d = line[++j];
          if (d == '\n') continue;  // a continued line
        }
        word += d;
      }
      if (j == line.size()) return unknown;
      i = j;
    } else {
      word += c;
    }
  }
  if (word.empty()) return unknown;
  return {true, word};
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Empty when the program named by the first word can be run, else the reason.
std::string CheckProgram(const std::string& commandLine) {
  const FirstWord first = ReadFirstWord(commandLine);
  if (!first.known) return {};
  const std::string& word = first.text;
  if (word.find('/') != std::string::npos) {
    struct stat st {};
    if (::stat(word.c_str(), &st) != 0) {
      const int statError = errno;
      return word + ": " + (statError == ENOENT ? "no such file" : ErrnoText(statError));
    }
    if (S_ISDIR(st.st_mode)) return word + ": is a folder, not a program";
    if (::access(word.c_str(), X_OK) != 0) return word + ": not executable";
    return {};
  }
  for (std::string_view shellWord : kShellWords)
    if (word == shellWord) return {};
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : kDefaultPath;
  while (true) {
    const std::size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    if (IsExecutableFile((dir.empty() ? "." : dir) + "/" + word)) return {};
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return word + ": command not found";
}

}  // namespace

bool ShellProcess::StartDetached(const std::string& commandLine, int /*showCommand*/,
                                 std::string& error) {
  if (commandLine.find_first_not_of(kBlanks) == std::string::npos) {
    error = "no command given";
    return false;
  }
  if (std::string reason = CheckProgram(commandLine); !reason.empty()) {
    error = reason;
    return false;
  }

  UniqueFd devNull(AboveStdio(::open("/dev/null", O_RDWR | O_CLOEXEC)));
  if (devNull.Get() < 0) {
    error = "cannot open /dev/null: " + ErrnoText(errno);
    return false;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    error = "cannot create a pipe: " + ErrnoText(errno);
    return false;
  }
  UniqueFd reportRead(AboveStdio(ends[0]));
  UniqueFd reportWrite(AboveStdio(ends[1]));
  if (reportRead.Get() < 0 || reportWrite.Get() < 0) {
    error = "cannot create a pipe: " + ErrnoText(errno);
    return false;
  }

  std::string sh = "sh", dashC = "-c", command = commandLine;
  char* const argv[] = {sh.data(), dashC.data(), command.data(), nullptr};
  const long maxFd = ::sysconf(_SC_OPEN_MAX);
  const Launch launch{argv, devNull.Get(), reportWrite.Get(), maxFd > 0 ? maxFd : 1024};

  const pid_t child = ::fork();
  if (child < 0) {
    error = "could not start a process: " + ErrnoText(errno);
    return false;
  }
  if (child == 0) RunIntermediate(launch);

  reportWrite.Reset();
  // The first child exits as soon as it has forked; a SIGCHLD handler that
  // reaps everything may get there first (ECHILD), which is as good.
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  // End of file once the shell has exec'd: the pipe is close-on-exec.
  StartFailure failure{};
  ssize_t n;
  while ((n = ::read(reportRead.Get(), &failure, sizeof failure)) < 0 && errno == EINTR) {
  }
  if (n == 0) return true;
  error = n == static_cast<ssize_t>(sizeof failure) ? FailureText(failure)
                                                    : std::string("could not start the shell");
  return false;
}

}  // namespace quorrel::posix
