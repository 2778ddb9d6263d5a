#include "watch/metrics_server.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "platform/posix/unique_fd.h"
#include "watch/metrics.h"

namespace quorrel::watch {
namespace {

// libmicrohttpd is opened only when the metrics are served. Debian's links
// GnuTLS, whose load and global set-up alone make some 2.3 MiB resident: a
// monitor that only logs, or only writes the textfile, does without them.
struct Mhd {
  decltype(&MHD_start_daemon) startDaemon;
  decltype(&MHD_stop_daemon) stopDaemon;
  decltype(&MHD_create_response_from_buffer) createResponse;
  decltype(&MHD_add_response_header) addHeader;
  decltype(&MHD_queue_response) queueResponse;
  decltype(&MHD_destroy_response) destroyResponse;
  decltype(&MHD_lookup_connection_value) lookupValue;
};

constexpr char kMhdLibrary[] = "libmicrohttpd.so.12";

const Mhd* LoadMhd(std::string& error) {
  static const Mhd* loaded = [&]() -> const Mhd* {
    void* library = ::dlopen(kMhdLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    static Mhd mhd;
    bool complete = true;
    auto bind = [&](auto& slot, const char* name) {
      void* symbol = ::dlsym(library, name);
      complete = complete && symbol != nullptr;
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
    };
    bind(mhd.startDaemon, "MHD_start_daemon");
    bind(mhd.stopDaemon, "MHD_stop_daemon");
    bind(mhd.createResponse, "MHD_create_response_from_buffer");
    bind(mhd.addHeader, "MHD_add_response_header");
    bind(mhd.queueResponse, "MHD_queue_response");
    bind(mhd.destroyResponse, "MHD_destroy_response");
    bind(mhd.lookupValue, "MHD_lookup_connection_value");
    return complete ? &mhd : nullptr;
  }();
  if (loaded == nullptr)
    error = std::string(kMhdLibrary) + " cannot be loaded (package libmicrohttpd12)";
  return loaded;
}

const Mhd* gMhd = nullptr;  // set before the daemon's thread starts

constexpr char kNotFound[] = "Not found: the metrics are at /metrics\n";
constexpr char kNotAllowed[] = "Only GET and HEAD are served\n";

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body,
                 const char* contentType, bool allowHeader) {
  MHD_Response* response =
      gMhd->createResponse(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  gMhd->addHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
  if (allowHeader) gMhd->addHeader(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  const MHD_Result queued = gMhd->queueResponse(connection, status, response);
  gMhd->destroyResponse(response);
  return queued;
}

MHD_Result OnRequest(void* context, MHD_Connection* connection, const char* url, const char* method,
                     const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize,
                     void** /*requestState*/) {
  auto& server = *static_cast<MetricsServer*>(context);
  // Answered at the first call, before any body is read: a scrape has none,
  // and a body sent anyway is not kept.
  *uploadSize = 0;
  const std::string_view m(method);
  if (m != MHD_HTTP_METHOD_GET && m != MHD_HTTP_METHOD_HEAD)
    return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, kNotAllowed, "text/plain; charset=utf-8",
                 true);
  if (std::string_view(url) != "/metrics")
    return Reply(connection, MHD_HTTP_NOT_FOUND, kNotFound, "text/plain; charset=utf-8", false);
  const char* accept = gMhd->lookupValue(connection, MHD_HEADER_KIND, "Accept");
  const ExpositionFormat format = FormatFor(accept ? accept : "");
  return Reply(connection, MHD_HTTP_OK, server.Render(format),
               format == ExpositionFormat::kOpenMetrics ? kOpenMetricsContentType
                                                        : kText004ContentType,
               false);
}

}  // namespace

std::unique_ptr<MetricsServer> MetricsServer::Start(const ListenAddress& address,
                                                    std::string& error) {
  gMhd = LoadMhd(error);
  if (gMhd == nullptr) return nullptr;
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = AF_INET;
  if (address.host.find(':') != std::string::npos) {
    family = AF_INET6;
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(address.port);
    ::inet_pton(AF_INET6, address.host.c_str(), &v6.sin6_addr);
    length = sizeof v6;
  } else {
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(address.port);
    ::inet_pton(AF_INET, address.host.c_str(), &v4.sin_addr);
    length = sizeof v4;
  }
  posix::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int on = 1;
  if (fd.Get() < 0 || ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      ::listen(fd.Get(), 16) != 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  std::unique_ptr<MetricsServer> server(new MetricsServer());
  // One internal thread with epoll: a scrape a second needs no pool.
  server->daemon_ = gMhd->startDaemon(
      MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &OnRequest, server.get(),
      MHD_OPTION_LISTEN_SOCKET, fd.Get(), MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
      kConnectionTimeoutSeconds, MHD_OPTION_END);
  if (server->daemon_ == nullptr) {
    error = "the HTTP server did not start";
    return nullptr;
  }
  fd.Release();  // the daemon closes it when it stops
  return server;
}

MetricsServer::~MetricsServer() {
  if (daemon_ != nullptr) gMhd->stopDaemon(daemon_);
}

void MetricsServer::Publish(const WatchMetrics& metrics) {
  auto copy = std::make_shared<const WatchMetrics>(metrics);
  const std::lock_guard lock(mutex_);
  metrics_.swap(copy);
}

std::string MetricsServer::Render(ExpositionFormat format) const {
  std::shared_ptr<const WatchMetrics> metrics;
  {
    const std::lock_guard lock(mutex_);
    metrics = metrics_;
  }
  if (!metrics) return format == ExpositionFormat::kOpenMetrics ? "# EOF\n" : "";
  return metrics->Render(format);
}

}  // namespace quorrel::watch
