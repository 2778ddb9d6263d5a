#pragma once
// The headless monitor: the window's model (Form1) on null window ports and
// the Linux services, ticked once a second. Its log lines go to a sink (the
// program's stdout), its figures to the metrics.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ping/mod_ping.h"
#include "platform/posix/if_table.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_icmp.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_winsock.h"
#include "quality/link_quality.h"
#include "watch/metrics.h"
#include "watch/null_services.h"
#include "watch/route_links.h"
#include "watch/watch_options.h"
#include "window/form1.h"

namespace quorrel::watch {

struct WatchServices {
  NullToolkit toolkit;
  posix::LocaleClock clock;
  NullFiles files;
  posix::Utf8CodePage codePage;
  NullProfile profile;
  posix::PosixWinsock winsock;
  posix::IcmpService icmp;
  posix::NetlinkIfTable ifTable;
  NullShell shell;
  posix::ShellProcess process;
  NullCanvas canvas;

  Services Ports() {
    return {toolkit, clock,   files, codePage, profile, winsock,
            icmp,    ifTable, shell, process,  canvas};
  }
};

class Monitor {
 public:
  using LineSink = std::function<void(const std::string&)>;

  // `adapterIndex` is the kernel's index of the measured link; 0 for none.
  Monitor(const WatchOptions& options, int adapterIndex, std::string adapterName, LineSink sink);

  // Start: the window's load and Start, with the options in its boxes.
  void Start();
  // One second: the bandwidth tick, then the ping tick.
  void Tick();
  // The window's Stop.
  void Stop();

  const WatchMetrics& Metrics() const { return metrics_; }

 private:
  // `ping` is the tick's ping, null when the tick sent none.
  void Flush(const PingSample* ping);

  WatchOptions options_;
  int adapterIndex_;
  LineSink sink_;
  WatchServices services_;
  std::unique_ptr<Form1> form_;
  std::string shownLog_;            // the log as last seen
  std::vector<std::string> lines_;  // added to the log since the last flush
  WatchMetrics metrics_;
  RouteSocket route_;
  int failedInARow_ = 0;
  bool fixStarted_ = false;  // in the outage going on
};

// Writes `text` to a temporary file beside `path` and renames it over
// `path`, so a reader finds the old file or the new one, never a part.
// Empty on success, else the reason.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace quorrel::watch
