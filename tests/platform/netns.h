#pragma once
// Test hosts in network namespaces that the test makes and removes itself.
// Traffic from the tests goes only to loopback or to these hosts.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorrel::test {

inline bool IsRoot() { return ::geteuid() == 0; }

// Skips the calling test unless it runs as root with `ip` and `nft` at hand.
#define QUORREL_REQUIRE_ROOT()                                                          \
  do {                                                                                  \
    if (!::quorrel::test::IsRoot())                                                     \
      GTEST_SKIP() << "needs root to make network namespaces (run the tests as root)"; \
  } while (0)

// Runs a shell command; returns its exit status.
inline int Sh(const std::string& command) {
  int rc = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline void ShOrThrow(const std::string& command) {
  if (Sh(command) != 0) throw std::runtime_error("command failed: " + command);
}

// Moves the calling thread into a fresh network namespace of its own, so that
// what it lists holds only what the test makes; back to the original on exit.
class PrivateNetns {
 public:
  PrivateNetns() : original_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (original_ < 0 || ::unshare(CLONE_NEWNET) != 0)
      throw std::runtime_error("cannot make a network namespace");
  }
  ~PrivateNetns() {
    [[maybe_unused]] int rc = ::setns(original_, CLONE_NEWNET);
    ::close(original_);
  }
  PrivateNetns(const PrivateNetns&) = delete;
  PrivateNetns& operator=(const PrivateNetns&) = delete;

 private:
  int original_;
};

// A namespace joined to the test's own namespace by a veth pair:
//   host side  <hostIf>  hostAddr/24   (in the namespace the test runs in)
//   peer side  <peerIf>  peerAddr/24   (inside the namespace)
// Removed, with the pair, when the object goes.
class NetNs {
 public:
  NetNs(const std::string& subnet /* e.g. "10.213.7" */) {
    static std::atomic<int> counter{0};
    const std::string id = std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
    name = "qrl" + id;
    hostIf = "qh" + id;
    peerIf = "qp" + id;
    hostAddr = subnet + ".1";
    peerAddr = subnet + ".2";
    ShOrThrow("ip netns add " + name);
    ShOrThrow("ip link add " + hostIf + " type veth peer name " + peerIf);
    ShOrThrow("ip link set " + peerIf + " netns " + name);
    ShOrThrow("ip addr add " + hostAddr + "/24 dev " + hostIf);
    ShOrThrow("ip link set " + hostIf + " up");
    Exec("ip link set lo up");
    Exec("ip addr add " + peerAddr + "/24 dev " + peerIf);
    Exec("ip link set " + peerIf + " up");
  }
  ~NetNs() {
    Sh("ip link del " + hostIf);
    Sh("ip netns del " + name);
  }
  NetNs(const NetNs&) = delete;
  NetNs& operator=(const NetNs&) = delete;

  // Runs a command inside the namespace; throws when it fails.
  void Exec(const std::string& command) { ShOrThrow("ip netns exec " + name + " " + command); }

  // Opens the namespace for setns(2); the caller closes the descriptor.
  int OpenFd() const { return ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC); }

  std::string name;
  std::string hostIf;
  std::string peerIf;
  std::string hostAddr;
  std::string peerAddr;
};

}  // namespace quorrel::test
