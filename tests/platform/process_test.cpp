// "Run Fix" with the real process service: commands really start, detached.
#include "platform/posix/posix_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "form_fixture.h"
#include "test_dir.h"

namespace quorrel::fakes {
namespace {

using test::ReadFile;
using test::WriteFile;

constexpr char kRunning[] = "Running connection refresh";
constexpr char kCannotStart[] = "Run Fix could not start the command: ";

// Polls `done` for a while; the commands under test finish in milliseconds.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

// The fields of /proc/<pid>/stat after the command name.
struct ProcStat {
  char state = '?';
  pid_t ppid = 0;
  pid_t pgrp = 0;
  pid_t session = 0;
  int ttyNr = -1;
};

bool ReadProcStat(pid_t pid, ProcStat& out) {
  const std::string text = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = text.rfind(')');
  if (paren == std::string::npos) return false;
  return std::sscanf(text.c_str() + paren + 1, " %c %d %d %d %d", &out.state, &out.ppid, &out.pgrp,
                     &out.session, &out.ttyNr) == 5;
}

std::string Comm(pid_t pid) {
  std::string comm = ReadFile("/proc/" + std::to_string(pid) + "/comm");
  if (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

std::vector<pid_t> ChildrenOfThisProcess() {
  std::vector<pid_t> children;
  for (const std::string& name : test::ListDir("/proc")) {
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    ProcStat stat;
    const pid_t pid = std::stoi(name);
    if (ReadProcStat(pid, stat) && stat.ppid == ::getpid()) children.push_back(pid);
  }
  return children;
}

std::string StatusField(pid_t pid, const std::string& field) {
  for (const std::string& line : Lines(ReadFile("/proc/" + std::to_string(pid) + "/status")))
    if (line.rfind(field + ":", 0) == 0)
      return line.substr(line.find_first_not_of(" \t", field.size() + 1));
  return {};
}

// A Form1 whose "Run Fix" starts real processes; the other ports are fakes.
// The test process adopts the orphaned commands so that it can reap them.
class RunFixTest : public FormTest {
 protected:
  posix::ShellProcess shellProcess;
  test::TempDir dir;

  void SetUp() override {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    form = std::make_unique<Form1>(Services{fake.toolkit, fake.clock, fake.files, fake.codePage,
                                            fake.profile, fake.winsock, fake.icmp, fake.ifTable,
                                            fake.shell, shellProcess, fake.canvas});
    form->Form_Load();
  }

  // Everything this process has as a child by now is a command it adopted;
  // killing one lets its own children come here in turn.
  void TearDown() override {
    const bool reaped = WaitFor([] {
      for (pid_t child : ChildrenOfThisProcess()) ::kill(child, SIGKILL);
      while (::waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      return errno == ECHILD;
    });
    EXPECT_TRUE(reaped) << "a started command is still running";
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }

  std::string Path(const std::string& name) const { return dir.path + "/" + name; }

  std::string Script(const std::string& name, const std::string& body, mode_t mode = 0755) {
    const std::string path = Path(name);
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), mode);
    return path;
  }

  void RunFix(const std::string& command) {
    form->txtFix.SetText(command);
    form->cmdRunFix_Click();
  }

  std::string WaitForFile(const std::string& path) {
    WaitFor([&] {
      const std::string text = ReadFile(path);
      return !text.empty() && text.back() == '\n';
    });
    return ReadFile(path);
  }

  // Starts `command`, which must write its pid to `pidFile` and then exec
  // sleep, and returns that pid once sleep runs.
  pid_t StartSleeper(const std::string& command, const std::string& pidFile) {
    RunFix(command);
    const std::string text = WaitForFile(pidFile);
    if (text.empty()) return 0;
    const pid_t pid = std::stoi(text);
    WaitFor([&] { return Comm(pid) == "sleep"; });
    return pid;
  }
};

TEST_F(RunFixTest, TwoClicksStartTwoProcessesAndLogTwoLines) {
  const std::string marker = Path("marker");
  const std::string fix = Script("fix.sh", "echo $$ >> '" + marker + "'");
  RunFix(fix);
  RunFix(fix);
  ASSERT_TRUE(WaitFor([&] { return Lines(ReadFile(marker)).size() == 2; })) << ReadFile(marker);
  const auto pids = Lines(ReadFile(marker));
  EXPECT_NE(pids[0], pids[1]);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{kRunning, kRunning}));
}

TEST_F(RunFixTest, CommandLineIsRunAsTyped) {
  ::mkdir(Path("my fixes").c_str(), 0755);
  const std::string out = Path("out");
  const std::string body = "printf '%s|' \"$@\" > '" + out + "'; echo >> '" + out + "'";
  const std::string fix = Script("fix.sh", body);
  const std::string spaced = Script("my fixes/fix.sh", body);
  const std::string home = ::getenv("HOME") ? ::getenv("HOME") : "";
  ::setenv("HOME", dir.path.c_str(), 1);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {fix + " one \"two words\" 'three'", "one|two words|three|"},
      {"\"" + spaced + "\" quoted", "quoted|"},
      {dir.path + "/my\\ fixes/fix.sh escaped", "escaped|"},
      {"~/fix.sh home", "home|"},
      {"cd '" + dir.path + "' && ./fix.sh relative", "relative|"},
      {"2>/dev/null " + fix + " redirected first", "redirected|first|"},
      {"FIX_MODE=fast " + fix + " assigned", "assigned|"},
  };
  for (const auto& [command, expected] : cases) {
    ::unlink(out.c_str());
    RunFix(command);
    EXPECT_EQ(WaitForFile(out), expected + "\n") << command;
  }
  ::setenv("HOME", home.c_str(), 1);

  // Output goes nowhere unless the command line sends it somewhere.
  const std::string said = Path("said");
  RunFix(Script("say.sh", "echo said; echo complained >&2") + " > '" + said + "' 2>&1");
  EXPECT_EQ(WaitForFile(said), "said\ncomplained\n");

  for (const std::string& message : LogMessages()) EXPECT_EQ(message, kRunning);
}

TEST_F(RunFixTest, CommandRunsDetachedInItsOwnSessionWithNothingInherited) {
  // What a command must not inherit from the monitor: a descriptor without
  // close-on-exec, an ignored signal, a blocked one.
  const int leaked = ::open(Path("leaked").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(leaked, 3);
  struct sigaction ignore = {};
  struct sigaction oldPipe = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &oldPipe);
  sigset_t usr1, oldMask;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ::sigprocmask(SIG_BLOCK, &usr1, &oldMask);

  const std::string pidFile = Path("pid");
  const pid_t pid =
      StartSleeper(Script("long.sh", "echo $$ > '" + pidFile + "'; exec sleep 300"), pidFile);

  ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
  ::sigaction(SIGPIPE, &oldPipe, nullptr);
  ::close(leaked);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(Comm(pid), "sleep");

  ProcStat stat;
  ASSERT_TRUE(ReadProcStat(pid, stat));
  EXPECT_NE(stat.session, ::getsid(0));
  EXPECT_EQ(stat.pgrp, stat.session);
  EXPECT_NE(stat.session, pid) << "not a session leader, so it cannot take a terminal";
  EXPECT_EQ(stat.ttyNr, 0);

  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  auto names = test::ListDir(fds);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"0", "1", "2"}));
  for (const char* fd : {"0", "1", "2"}) {
    char target[64] = {};
    ASSERT_GT(::readlink((fds + fd).c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/null") << "fd " << fd;
  }
  // glibc keeps signals 32 and 33 for its threads and refuses to change
  // them, so an ignore inherited from whoever started the monitor (ctest
  // does) stays on those two; every other signal must be back to default.
  const std::uint64_t ignored = std::stoull(StatusField(pid, "SigIgn"), nullptr, 16);
  EXPECT_EQ(ignored & ~0x180000000ull, 0u) << StatusField(pid, "SigIgn");
  EXPECT_EQ(StatusField(pid, "SigBlk"), "0000000000000000");

  // The click left no child behind: the session's leader, the monitor's own
  // child, is gone (reaped, not a zombie), and the shell came to this process
  // only because the test adopts orphans.
  EXPECT_NE(::access(("/proc/" + std::to_string(stat.session)).c_str(), F_OK), 0);
  for (pid_t child : ChildrenOfThisProcess()) {
    ProcStat childStat;
    ASSERT_TRUE(ReadProcStat(child, childStat));
    EXPECT_EQ(childStat.session, stat.session) << Comm(child);
    EXPECT_NE(childStat.state, 'Z') << Comm(child);
  }
}

TEST_F(RunFixTest, LongRunningCommandDoesNotHoldTheClick) {
  RunFix("sleep 300");
  // Had the click waited, the test would still be inside it.
  std::vector<pid_t> children;
  ASSERT_TRUE(WaitFor([&] { return (children = ChildrenOfThisProcess()).size() == 1; }));
  ProcStat stat;
  ASSERT_TRUE(ReadProcStat(children[0], stat));
  EXPECT_NE(stat.state, 'Z');
  EXPECT_EQ(LogMessages(), std::vector<std::string>{kRunning});
}

TEST_F(RunFixTest, CommandThatCannotStartIsLoggedAndStartsNothing) {
  ::mkdir(Path("folder").c_str(), 0755);
  const std::string plain = Script("plain.sh", "touch '" + Path("ran") + "'", 0644);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "no command given"},
      {" \t ", "no command given"},
      {Path("missing.sh") + " --now", Path("missing.sh") + ": no such file"},
      {"'" + Path("missing file.sh") + "'", Path("missing file.sh") + ": no such file"},
      {plain, plain + ": not executable"},
      {Path("folder"), Path("folder") + ": is a folder, not a program"},
      {"quorrel-no-such-command --fix", "quorrel-no-such-command: command not found"},
  };
  for (const auto& [command, reason] : cases) {
    RunFix(command);
    const auto messages = LogMessages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], kRunning) << command;
    EXPECT_EQ(messages.back(), kCannotStart + reason) << command;
  }
  EXPECT_EQ(LogMessages().size(), 2 * cases.size());
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "nothing was started";
  EXPECT_TRUE(ReadFile(Path("ran")).empty());
}

}  // namespace
}  // namespace quorrel::fakes
