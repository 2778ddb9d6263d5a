#pragma once
// quorrel-watch's command line, read and checked before anything is sent.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace quorrel::watch {

inline constexpr int kExitUsage = 2;  // as GNU tools end on a bad argument

struct ListenAddress {
  std::string host = "127.0.0.1";  // loopback unless told otherwise
  std::uint16_t port = 0;
};

struct WatchOptions {
  std::string ip;
  std::int16_t interval = 0;  // the window's Interval: a ping every interval + 1 seconds
  std::string adapter = "auto";
  bool changesOnly = false;
  std::optional<ListenAddress> metricsListen;
  std::string metricsFile;
  std::string fix;
  int fixAfter = 0;  // 0: the fix command is never started
  bool help = false;
  bool version = false;
};

// What reading the command line gave: the options, or the one line that
// says what is wrong with it.
struct ParseResult {
  WatchOptions options;
  std::string error;
};

// Reads `args` (without the program name). A --settings file is read through
// `profile` first, as the window reads it (IP, Interval, Changes only, Fix
// path); what the command line says wins over it. Checks everything that can
// be told from the text alone; the adapter's and the port's existence are
// the caller's to check.
ParseResult ParseArguments(const std::vector<std::string>& args, ProfileApi& profile);

// "[ADDR:]PORT", "[v6]:PORT"; none when it is not one.
std::optional<ListenAddress> ParseListenAddress(const std::string& text);

std::string UsageText();

}  // namespace quorrel::watch
