#include "watch/watch_options.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <charconv>

#include "platform/posix/posix_files.h"
#include "settings/mod_general.h"
#include "window/form1.h"

namespace quorrel::watch {
namespace {

// Whole decimal digits only: "08", "+8" and "8s" are all typing errors here.
std::optional<long> StrictNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || text[0] == '-')
    return std::nullopt;
  return value;
}

bool IsDottedIpv4(const std::string& text) {
  in_addr address{};
  // inet_pton takes exactly four decimal parts, unlike inet_addr's "10.1" or hex.
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
  ListenAddress listen;
  std::string port = text;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || text.compare(close + 1, 1, ":") != 0) return std::nullopt;
    listen.host = text.substr(1, close - 1);
    in6_addr address{};
    if (::inet_pton(AF_INET6, listen.host.c_str(), &address) != 1) return std::nullopt;
    port = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    if (colon > 0) listen.host = text.substr(0, colon);
    if (!IsDottedIpv4(listen.host)) return std::nullopt;
    port = text.substr(colon + 1);
  }
  const std::optional<long> number = StrictNumber(port);
  if (!number || *number < 1 || *number > 65535) return std::nullopt;
  listen.port = static_cast<std::uint16_t>(*number);
  return listen;
}

ParseResult ParseArguments(const std::vector<std::string>& args, ProfileApi& profile) {
  ParseResult result;
  WatchOptions& o = result.options;
  auto fail = [&](std::string message) {
    result.error = std::move(message);
    return result;
  };

  // Every option but the flags takes a value, as "--opt value" or "--opt=value".
  struct Given {
    std::optional<std::string> ip, interval, adapter, listen, file, fix, fixAfter, settings;
    bool changesOnly = false;
  } given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "--help" || name == "--version" || name == "--changes-only") {
      if (value) return fail("option '" + name + "' takes no value");
      if (name == "--help") o.help = true;
      if (name == "--version") o.version = true;
      if (name == "--changes-only") given.changesOnly = true;
      continue;
    }
    std::optional<std::string>* slot = name == "--ip"               ? &given.ip
                                       : name == "--interval"       ? &given.interval
                                       : name == "--adapter"        ? &given.adapter
                                       : name == "--metrics-listen" ? &given.listen
                                       : name == "--metrics-file"   ? &given.file
                                       : name == "--fix"            ? &given.fix
                                       : name == "--fix-after"      ? &given.fixAfter
                                       : name == "--settings"       ? &given.settings
                                                                    : nullptr;
    if (slot == nullptr) {
      if (name.rfind("-", 0) == 0) return fail("unrecognised option '" + name + "'");
      return fail("unexpected argument '" + name + "'");
    }
    if (!value) {
      if (i + 1 >= args.size()) return fail("option '" + name + "' needs a value");
      value = args[++i];
    }
    *slot = value;
  }
  if (o.help || o.version) return result;

  std::string intervalText;
  bool intervalLenient = false;
  if (given.settings) {
    // The window's own reading of its settings file: the same module, the
    // same lenient number rules.
    if (::access(given.settings->c_str(), R_OK) != 0)
      return fail("cannot read the settings file '" + *given.settings + "'");
    posix::Utf8CodePage codePage;
    ModGeneral general(profile, codePage);
    auto read = [&](const char* key) {
      return general.ReadIniValue(kOptionsSection, key, *given.settings);
    };
    o.ip = read(kKeyIp);
    intervalText = read(kKeyInterval);
    intervalLenient = true;
    o.changesOnly = CheckBoxValueFromText(read(kKeyChangesOnly)) == 1;
    o.fix = read(kKeyFixPath);
  }
  if (given.ip) o.ip = *given.ip;
  if (given.interval) {
    intervalText = *given.interval;
    intervalLenient = false;
  }
  if (given.adapter) o.adapter = *given.adapter;
  if (given.changesOnly) o.changesOnly = true;
  if (given.file) o.metricsFile = *given.file;
  if (given.fix) o.fix = *given.fix;

  if (o.ip.empty())
    return fail("no destination: give --ip ADDRESS (or --settings FILE with an IP)");
  if (!IsDottedIpv4(o.ip)) return fail("'" + o.ip + "' is not a dotted IPv4 address (--ip)");
  if (intervalLenient) {
    const std::int16_t interval = IntervalFromText(intervalText);
    o.interval = interval < 0 ? 0 : interval;
  } else if (!intervalText.empty()) {
    const std::optional<long> interval = StrictNumber(intervalText);
    if (!interval || *interval > kMaxPingInterval)
      return fail("interval '" + intervalText + "' is not a whole number from 0 to " +
                  std::to_string(kMaxPingInterval) + " (--interval)");
    o.interval = static_cast<std::int16_t>(*interval);
  }
  if (o.adapter.empty()) return fail("no adapter named (--adapter NAME or auto)");
  if (given.listen) {
    o.metricsListen = ParseListenAddress(*given.listen);
    if (!o.metricsListen)
      return fail("'" + *given.listen +
                  "' is not [ADDRESS:]PORT with a port from 1 to 65535 (--metrics-listen)");
  }
  if (given.file && o.metricsFile.empty()) return fail("empty path (--metrics-file)");
  if (given.fixAfter) {
    const std::optional<long> after = StrictNumber(*given.fixAfter);
    if (!after || *after < 1 || *after > 1000000)
      return fail("'" + *given.fixAfter + "' is not a count of failed pings from 1 (--fix-after)");
    if (o.fix.empty()) return fail("--fix-after needs a command to start (--fix CMD)");
    o.fixAfter = static_cast<int>(*after);
  } else if (given.fix) {
    return fail("--fix needs --fix-after N: after how many failed pings in a row to start it");
  }
  return result;
}

std::string UsageText() {
  return R"(Usage: quorrel-watch --ip ADDRESS [OPTION]...
Ping ADDRESS (the router, say) and log each result on standard output, with the
traffic through one adapter; optionally serve the figures to Prometheus.

  --ip ADDRESS            the dotted IPv4 address to ping
  --interval N            a ping every N + 1 seconds, N from 0 to 32766 (default 0)
  --adapter NAME|auto     the adapter whose traffic is measured; auto (the
                          default) takes the one the default route leaves by
  --changes-only          log a ping only when its result differs from the last
  --metrics-listen [ADDR:]PORT
                          serve GET /metrics on ADDR (default 127.0.0.1)
  --metrics-file PATH     keep PATH written with the metrics, for
                          node_exporter's textfile collector
  --fix CMD --fix-after N start CMD once an outage reaches N failed pings in a
                          row (at most once per outage)
  --settings FILE         take IP, Interval, Changes only and Fix path from the
                          window program's Settings.ini; options given win
  --help                  show this help and exit
  --version               show the version and exit

Exit status: 0 when ended by SIGTERM or SIGINT, 1 on a failure while running,
2 on a bad argument.
)";
}

}  // namespace quorrel::watch
