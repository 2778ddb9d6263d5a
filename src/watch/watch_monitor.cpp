#include "watch/watch_monitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/safe_files.h"
#include "quality/quality_text.h"
#include "window/face_support.h"

namespace quorrel::watch {

Monitor::Monitor(const WatchOptions& options, int adapterIndex, std::string adapterName,
                 LineSink sink)
    : options_(options),
      adapterIndex_(adapterIndex),
      sink_(std::move(sink)),
      metrics_(options.ip, std::move(adapterName), QUORREL_VERSION) {}

void Monitor::Start() {
  form_ = std::make_unique<Form1>(services_.Ports());
  Form1& form = *form_;
  form.Form_Load();
  form.txtIP.SetText(options_.ip);
  form.txtInterval.SetText(std::to_string(options_.interval));
  form.chkChanges.SetValue(options_.changesOnly ? 1 : 0);
  form.txtFix.SetText(options_.fix);
  // The list holds the adapters in the table's order; the one measured is
  // found by the kernel's index, as names and descriptions may repeat.
  if (adapterIndex_ != 0 && form.sampler.ipHelper) {
    auto table = form.sampler.ipHelper->Interfaces();
    for (std::int32_t i = 1; i <= table->Count(); ++i)
      if (table->Item(i)->InterfaceIndex() == adapterIndex_)
        form.cboConnections.SetListIndex(i - 1);
  } else {
    form.cboConnections.SetListIndex(-1);
  }
  // The model's AddLogLine appends whole lines at the end and drops whole
  // lines from the top: the lines to write are what the window's log box
  // would append.
  form.txtOut.SetObserver([this](Control& control, Property property) {
    if (property != Property::kText) return;
    const std::string& text = static_cast<TextBox&>(control).Text();
    const std::string_view added = DiffLog(shownLog_, text).appended;
    for (std::size_t at = 0; at < added.size();) {
      std::size_t end = added.find("\r\n", at);
      if (end == std::string_view::npos) end = added.size();
      lines_.emplace_back(added.substr(at, end - at));
      at = end + 2;
    }
    shownLog_ = text;
  });
  form.cmdToggle_Click();
  // The first ping goes out with the first tick, not a whole interval later.
  form.tickCount = form.pingInterval;
  Flush(nullptr);
}

void Monitor::Tick() {
  Form1& form = *form_;
  const std::int64_t pingsBefore = form.quality.Pings();
  form.tmrBandwidth_Timer();
  form.tmrPing_Timer();
  // The model's quality figures take every ping the tick makes, with its
  // round trip; a ping shows as one more of them.
  const PingSample* ping = nullptr;
  if (form.quality.Pings() != pingsBefore) {
    ping = &form.quality.LastPing();
    std::optional<double> seconds;
    if (ping->passed) seconds = static_cast<double>(ping->rttMicros) / 1e6;
    metrics_.RecordProbe(ping->passed, seconds);
    metrics_.SetOutages(static_cast<std::uint64_t>(form.quality.OutageCount()),
                        static_cast<double>(form.quality.OutageSeconds()));
    if (ping->passed) {
      failedInARow_ = 0;
      fixStarted_ = false;
    } else if (++failedInARow_ >= options_.fixAfter && options_.fixAfter > 0 && !fixStarted_) {
      fixStarted_ = true;
      form.cmdRunFix_Click();
    }
  }
  // The 64-bit counters are for the metrics alone.
  const bool metricsWanted = options_.metricsListen || !options_.metricsFile.empty();
  if (adapterIndex_ != 0 && metricsWanted) {
    if (auto counters = route_.Counters(adapterIndex_))
      metrics_.SetTraffic(counters->rxBytes, counters->txBytes);
  }
  Flush(ping);
}

void Monitor::Stop() {
  Form1& form = *form_;
  if (form.tmrPing.Enabled()) form.cmdToggle_Click();
  metrics_.SetOutages(static_cast<std::uint64_t>(form.quality.OutageCount()),
                      static_cast<double>(form.quality.OutageSeconds()));
  // Not the window's shutdown: that saves its Settings.ini and log, which
  // are the window program's, not the monitor's.
  Flush(nullptr);
}

void Monitor::Flush(const PingSample* ping) {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string line = std::move(lines_[i]);
    // The tick's first line is the ping's result (a changes-only tick that
    // repeats the state adds none at all).
    if (i == 0 && ping != nullptr && ping->passed)
      line += " (round trip " +
              FormatRoundTrip(static_cast<double>(ping->rttMicros), ping->wholeMillis) + ")";
    sink_(line);
  }
  lines_.clear();
}

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  // A leading dot and a suffix other than .prom keep the textfile collector
  // from reading the temporary file itself.
  const std::string temporary = folder + "." + base + "." + std::to_string(::getpid()) + ".tmp";
  posix::UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return std::strerror(errno);
  errno = 0;
  if (!posix::WriteAll(fd.Get(), text)) {
    const std::string reason = std::strerror(errno != 0 ? errno : ENOSPC);
    ::unlink(temporary.c_str());
    return reason;
  }
  fd.Reset();
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(temporary.c_str());
    return reason;
  }
  return {};
}

}  // namespace quorrel::watch
