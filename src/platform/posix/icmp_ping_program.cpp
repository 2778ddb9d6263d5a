// Echo through the system's ping program, for a process that may open neither
// an ICMP datagram socket nor a raw one: ping carries CAP_NET_RAW (or is
// set-uid) on every desktop distribution.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/icmp.h"
#include "platform/posix/icmp_channel.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::posix {
namespace {

// ping's pattern option takes at most 16 bytes and repeats them over the data,
// so longer data goes out as its first 16 bytes over and over.
constexpr std::size_t kMaxPatternBytes = 16;
// ping says one or two lines; more than this is not ping talking.
constexpr std::size_t kMaxOutput = 16384;

struct ErrorText {
  std::string_view text;
  std::uint32_t status;
};

// What ping prints for an ICMP error, in its own words (LC_ALL=C), most
// specific first where one text begins another.
constexpr ErrorText kPingErrors[] = {
    {"Destination Net Unreachable", kIpDestNetUnreachable},
    {"Destination Host Unreachable", kIpDestHostUnreachable},
    {"Destination Protocol Unreachable", kIpDestProtUnreachable},
    {"Destination Port Unreachable", kIpDestPortUnreachable},
    {"Frag needed", kIpPacketTooBig},
    {"Source Route Failed", kIpBadRoute},
    {"Destination Net Unknown", kIpDestNetUnreachable},
    {"Destination Net Prohibited", kIpDestNetUnreachable},
    {"Time to live exceeded", kIpTtlExpiredTransit},
    {"Frag reassembly time exceeded", kIpTtlExpiredReassem},
    {"Parameter problem", kIpParamProblem},
    {"Source Quench", kIpSourceQuench},
    {"Redirect", 0},  // advice, not an answer
    {"Dest Unreachable", kIpDestHostUnreachable},
    {"Destination", kIpDestHostUnreachable},  // host unknown, prohibited, isolated, ...
    {"Packet filtered", kIpDestHostUnreachable},
    {"Precedence", kIpDestHostUnreachable},
};

// What ping says when the local stack refuses the send (strerror texts).
constexpr ErrorText kLocalErrors[] = {
    {"Network is unreachable", kIpDestNetUnreachable},
    {"No route to host", kIpDestHostUnreachable},
    {"Operation not permitted", kIpDestHostUnreachable},
    {"Permission denied", kIpDestHostUnreachable},
    {"Message too long", kIpPacketTooBig},
    {"No buffer space available", kIpNoResources},
};

std::uint32_t ParseAddress(std::string_view text) {
  std::size_t end = text.find_first_of(" :)");
  std::string dotted(text.substr(0, end));
  in_addr addr{};
  return inet_aton(dotted.c_str(), &addr) != 0 ? addr.s_addr : 0;
}

// ping's "time=0.045 ms" (or "12.3", "123": fewer decimals as it grows) in
// microseconds, read digit by digit: the C library's readers would take the
// program's locale and stop at the dot under de_DE.
std::optional<std::uint32_t> ParseMillis(std::string_view text) {
  std::uint64_t micros = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    micros = micros * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (micros > UINT32_MAX / 1000) return std::nullopt;
  }
  if (i == 0) return std::nullopt;
  micros *= 1000;
  if (i < text.size() && text[i] == '.') {
    std::uint64_t scale = 100;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10)
      micros += static_cast<std::uint64_t>(text[i] - '0') * scale;
  }
  if (micros > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(micros);
}

// Reads ping's answer out of what it printed and how it ended.
EchoResult ReadPingOutput(std::string_view output, int exitCode, std::uint32_t destination,
                          std::span<const std::uint8_t> data) {
  EchoResult result;
  result.status = kIpReqTimedOut;
  bool strangerAnswered = false;
  while (!output.empty()) {
    std::size_t eol = output.find('\n');
    std::string_view line = output.substr(0, eol);
    output = eol == std::string_view::npos ? std::string_view{} : output.substr(eol + 1);

    // ping found neither a socket it may open nor the capability for a raw one.
    if (line.find("socket: ") != std::string_view::npos &&
        (line.find("Operation not permitted") != std::string_view::npos ||
         line.find("Permission denied") != std::string_view::npos)) {
      result.status = kIpGeneralFailure;
      result.refused = true;
      return result;
    }
    if (std::size_t at = line.find(" bytes from "); at != std::string_view::npos) {
      if (exitCode != 0) continue;  // a duplicate or damaged reply: ping says no
      // ping takes a reply to its id from anyone (it was made to ping
      // broadcasts); we count only the host we asked, as the sockets do.
      const std::uint32_t from = ParseAddress(line.substr(at + 12));
      if (from != destination) {
        strangerAnswered = true;
        continue;
      }
      result.status = kIpSuccess;
      result.answered = true;
      result.from = from;
      if (std::size_t time = line.find("time="); time != std::string_view::npos)
        result.roundTripMicros = ParseMillis(line.substr(time + 5));
      if (std::size_t ttl = line.find("ttl="); ttl != std::string_view::npos) {
        const std::string_view digits = line.substr(ttl + 4);
        unsigned value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        result.ttl = static_cast<std::uint8_t>(std::min(value, 255u));
      }
      result.data.assign(data.begin(), data.end());
      return result;
    }
    if (line.starts_with("From ")) {
      for (const ErrorText& e : kPingErrors) {
        if (line.find(e.text) == std::string_view::npos) continue;
        if (e.status == 0) break;
        result.status = e.status;
        result.answered = true;
        result.from = ParseAddress(line.substr(5));
        return result;
      }
      continue;
    }
    for (const ErrorText& e : kLocalErrors) {
      if (line.find(e.text) != std::string_view::npos) {
        result.status = e.status;
        return result;
      }
    }
  }
  // Exit 1 is "no reply", and so is a reply from another host; anything else
  // that said nothing we know is a failure.
  if (exitCode != 1 && !strangerAnswered) result.status = kIpGeneralFailure;
  return result;
}

bool IsExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string FindPing() {
  std::string path;
  if (const char* env = std::getenv("PATH")) path = env;
  path += ":/usr/bin:/bin:/usr/sbin:/sbin";
  std::string_view rest = path;
  while (!rest.empty()) {
    std::size_t colon = rest.find(':');
    std::string_view folder = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    // An empty or relative entry would make the answer depend on the working folder.
    if (folder.empty() || folder.front() != '/') continue;
    std::string candidate = std::string(folder) + "/ping";
    if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

std::string Decimal(std::uint64_t value) {
  char digits[24];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

class Spawn {
 public:
  Spawn() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~Spawn() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  Spawn(const Spawn&) = delete;
  Spawn& operator=(const Spawn&) = delete;
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

class PingProgramChannel final : public EchoChannel {
 public:
  explicit PingProgramChannel(std::string program) : program_(std::move(program)) {}

  EchoResult Echo(std::uint32_t destination, std::span<const std::uint8_t> data,
                  const EchoOptions& options, Deadline deadline) override;

 private:
  std::vector<std::string> Arguments(std::uint32_t destination, std::span<const std::uint8_t> data,
                                     const EchoOptions& options, Deadline deadline) const;
  std::string program_;
};

std::vector<std::string> PingProgramChannel::Arguments(std::uint32_t destination,
                                                       std::span<const std::uint8_t> data,
                                                       const EchoOptions& options,
                                                       Deadline deadline) const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  const std::string wait = WaitArgument(left);
  char address[INET_ADDRSTRLEN];
  in_addr addr{destination};
  ::inet_ntop(AF_INET, &addr, address, sizeof address);

  std::vector<std::string> args = {program_, "-n", "-c", "1",
                                   "-W",     wait, "-s", Decimal(data.size())};
  if (!data.empty()) {
    args.push_back("-p");
    args.push_back(Hex(data.first(std::min(data.size(), kMaxPatternBytes))));
  }
  if (options.ttl != 0) {
    args.push_back("-t");
    args.push_back(Decimal(options.ttl));
  }
  if (options.tos != 0) {
    args.push_back("-Q");
    args.push_back(Decimal(options.tos));
  }
  args.push_back("-M");
  args.push_back(options.dontFragment ? "do" : "dont");
  args.push_back(address);
  return args;
}

EchoResult PingProgramChannel::Echo(std::uint32_t destination, std::span<const std::uint8_t> data,
                                    const EchoOptions& options, Deadline deadline) {
  EchoResult failed;
  failed.status = kIpGeneralFailure;

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return failed;
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);

  std::vector<std::string> args = Arguments(destination, data, options, deadline);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // ping's texts are read in English, and it reads its wait with a dot.
  char lcAll[] = "LC_ALL=C";
  char path[] = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
  char* envp[] = {lcAll, path, nullptr};

  Spawn spawn;
  posix_spawn_file_actions_addopen(&spawn.actions_, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&spawn.actions_, writeEnd.Get(), 1);
  posix_spawn_file_actions_adddup2(&spawn.actions_, writeEnd.Get(), 2);
  // The program's own signal handlers (Qt's among them) must not follow ping.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&spawn.attributes_, &defaults);
  posix_spawnattr_setsigmask(&spawn.attributes_, &none);
  posix_spawnattr_setflags(&spawn.attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid;
  if (::posix_spawn(&pid, program_.c_str(), &spawn.actions_, &spawn.attributes_, argv.data(),
                    envp) != 0)
    return failed;
  writeEnd.Reset();

  std::string output;
  bool timedOut = false;
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      timedOut = true;
      break;
    }
    timespec wait = TimeLeft(deadline);
    pollfd ready{readEnd.Get(), POLLIN, 0};
    int n = ::ppoll(&ready, 1, &wait, nullptr);
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    char chunk[1024];
    ssize_t got = ::read(readEnd.Get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // ping has finished
    if (output.size() < kMaxOutput) output.append(chunk, static_cast<std::size_t>(got));
  }
  if (timedOut) ::kill(pid, SIGKILL);
  int waitStatus = 0;
  while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    EchoResult late;
    late.status = kIpReqTimedOut;
    return late;
  }
  int exitCode = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  return ReadPingOutput(output, exitCode, destination, data);
}

}  // namespace

std::string WaitArgument(std::chrono::milliseconds left) {
  // ping reads its wait in seconds with a dot (it runs under LC_ALL=C); the
  // text is made here without the C library, whose printf would follow the
  // program's own locale and write "0,499" under de_DE.
  const std::uint64_t ms = static_cast<std::uint64_t>(std::max<std::int64_t>(left.count(), 1));
  std::string fraction = Decimal(ms % 1000);
  return Decimal(ms / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

std::unique_ptr<EchoChannel> OpenPingProgramChannel(const std::string& program) {
  std::string path = program.empty() ? FindPing() : program;
  if (path.empty() || !IsExecutable(path)) return nullptr;
  return std::make_unique<PingProgramChannel>(path);
}

}  // namespace quorrel::posix
