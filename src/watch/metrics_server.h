#pragma once
// GET /metrics over HTTP, served by libmicrohttpd's own thread. The monitor's
// model is single-threaded: the main thread hands a copy of its figures over
// after each tick, and a scrape renders that copy in the format it asks for,
// so a tick nobody scrapes renders nothing.
#include <memory>
#include <mutex>
#include <string>

#include "watch/metrics.h"
#include "watch/watch_options.h"

struct MHD_Daemon;

namespace quorrel::watch {

class MetricsServer {
 public:
  // Bounds on what one scraper may hold: a scrape is one small request.
  static constexpr unsigned kMaxConnections = 16;
  static constexpr std::size_t kConnectionMemory = 8 * 1024;  // request line and headers
  static constexpr unsigned kConnectionTimeoutSeconds = 10;

  // Binds and listens at once (so a port in use is known before any ping);
  // null with the reason in `error` when that fails.
  static std::unique_ptr<MetricsServer> Start(const ListenAddress& address, std::string& error);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // The figures the next scrapes receive.
  void Publish(const WatchMetrics& metrics);

  // The figures in one format as they stand (for a server thread).
  std::string Render(ExpositionFormat format) const;

 private:
  MetricsServer() = default;

  MHD_Daemon* daemon_ = nullptr;
  mutable std::mutex mutex_;
  std::shared_ptr<const WatchMetrics> metrics_;  // none before the first Publish
};

}  // namespace quorrel::watch
