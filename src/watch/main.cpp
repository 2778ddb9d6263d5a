// quorrel-watch: the monitor without a window, for servers and routers.
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/posix_profile.h"
#include "watch/metrics_server.h"
#include "watch/watch_monitor.h"
#include "watch/watch_options.h"

namespace {

using namespace quorrel::watch;

int Usage(const std::string& message) {
  std::fprintf(stderr, "quorrel-watch: %s\n", message.c_str());
  return kExitUsage;
}

void WriteLine(const std::string& line) {
  std::string out = line + "\n";
  std::size_t written = 0;
  while (written < out.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, out.data() + written, out.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed stdout loses the log, not the monitor
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The log's stamps and kilobytes follow the locale, as the window's do.
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  quorrel::posix::ProfileFile profile;
  const ParseResult parsed = ParseArguments(args, profile);
  if (!parsed.error.empty()) return Usage(parsed.error + " (see quorrel-watch --help)");
  const WatchOptions& options = parsed.options;
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quorrel-watch %s\n", QUORREL_VERSION);
    return 0;
  }

  int adapterIndex = 0;
  std::string adapterName;
  if (options.adapter == "auto") {
    RouteSocket route;
    const std::optional<int> link = route.DefaultRouteLink();
    char name[IF_NAMESIZE] = {};
    if (!link || ::if_indextoname(static_cast<unsigned>(*link), name) == nullptr)
      return Usage("--adapter auto: there is no IPv4 default route to take the adapter from");
    adapterIndex = *link;
    adapterName = name;
  } else {
    adapterIndex = static_cast<int>(::if_nametoindex(options.adapter.c_str()));
    if (adapterIndex == 0) return Usage("no adapter named '" + options.adapter + "' (--adapter)");
    adapterName = options.adapter;
  }

  // Blocked before any thread starts, so the server's threads inherit the
  // mask and the signals arrive only through the signalfd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<MetricsServer> server;
  if (options.metricsListen) {
    std::string error;
    server = MetricsServer::Start(*options.metricsListen, error);
    if (!server)
      return Usage("cannot listen on " + options.metricsListen->host + ":" +
                   std::to_string(options.metricsListen->port) + ": " + error +
                   " (--metrics-listen)");
  }

  Monitor monitor(options, adapterIndex, adapterName, WriteLine);
  auto publish = [&]() -> std::string {
    if (!server && options.metricsFile.empty()) return {};
    const WatchMetrics& metrics = monitor.Metrics();
    if (server) server->Publish(metrics);
    if (options.metricsFile.empty()) return {};
    return WriteFileAtomically(options.metricsFile, metrics.Render(ExpositionFormat::kText004));
  };
  if (const std::string error = publish(); !error.empty())
    return Usage("cannot write '" + options.metricsFile + "': " + error + " (--metrics-file)");

  quorrel::posix::UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
  quorrel::posix::UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC));
  if (signals.Get() < 0 || timer.Get() < 0) {
    std::perror("quorrel-watch: signalfd/timerfd");
    return 1;
  }
  monitor.Start();
  // The first tick at once; then one a second on the monotonic clock, so a
  // slow ping does not push the ticks after it.
  const itimerspec period{{1, 0}, {0, 1}};
  timerfd_settime(timer.Get(), 0, &period, nullptr);
  bool fileFailing = false;
  for (;;) {
    pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {timer.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("quorrel-watch: poll");
      return 1;
    }
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      std::uint64_t expirations = 0;
      [[maybe_unused]] ssize_t n = ::read(timer.Get(), &expirations, sizeof expirations);
      monitor.Tick();
      const std::string error = publish();
      // Said once per failing spell, not every second.
      if (!error.empty() && !fileFailing)
        std::fprintf(stderr, "quorrel-watch: cannot write '%s': %s\n", options.metricsFile.c_str(),
                     error.c_str());
      fileFailing = !error.empty();
    }
  }
  monitor.Stop();
  publish();
  return 0;
}
