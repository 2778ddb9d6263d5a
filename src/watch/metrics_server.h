#pragma once
// GET /metrics over HTTP, served by libmicrohttpd's own thread. The monitor's
// model is single-threaded: the main thread renders the text after each tick
// and hands it over here; the server threads only copy what was handed over.
#include <memory>
#include <mutex>
#include <string>

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

  // The texts the next scrapes receive.
  void Publish(std::string text004, std::string openMetrics);

  // The text of one format as it stands (for a server thread).
  std::shared_ptr<const std::string> Current(bool openMetrics) const;

 private:
  MetricsServer() = default;

  MHD_Daemon* daemon_ = nullptr;
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> text004_ = std::make_shared<std::string>();
  std::shared_ptr<const std::string> openMetrics_ = std::make_shared<std::string>("# EOF\n");
};

}  // namespace quorrel::watch
