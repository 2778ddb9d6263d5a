#include "watch/metrics.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace quorrel::watch {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// q=0.5 and the like; anything unreadable counts as 1, as most servers take it.
double Weight(std::string_view text) {
  double q = 1;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), q);
  return result.ec == std::errc() ? q : 1;
}

class Writer {
 public:
  Writer(ExpositionFormat format) : openMetrics_(format == ExpositionFormat::kOpenMetrics) {}

  // `name` is the family's name; a counter's samples add "_total" to it, and
  // the 0.0.4 text names the family with the suffix too.
  void Family(std::string_view name, std::string_view type, std::string_view unit,
              std::string_view help) {
    const bool counter = type == "counter";
    std::string family(name);
    if (counter && !openMetrics_) family += "_total";
    if (type == "info" && !openMetrics_) family += "_info";
    out_ += "# HELP " + family + " " + std::string(help) + "\n";
    const std::string_view shownType = (type == "info" && !openMetrics_) ? "gauge" : type;
    out_ += "# TYPE " + family + " " + std::string(shownType) + "\n";
    if (openMetrics_ && !unit.empty()) out_ += "# UNIT " + family + " " + std::string(unit) + "\n";
  }
  void Sample(std::string_view name, std::string_view labels, std::string_view value) {
    out_ += name;
    if (!labels.empty()) {
      out_ += '{';
      out_ += labels;
      out_ += '}';
    }
    out_ += ' ';
    out_ += value;
    out_ += '\n';
  }
  std::string Finish() {
    if (openMetrics_) out_ += "# EOF\n";
    return std::move(out_);
  }

 private:
  bool openMetrics_;
  std::string out_;
};

}  // namespace

ExpositionFormat FormatFor(std::string_view accept) {
  double openMetrics = 0;
  double text = 0;
  while (!accept.empty()) {
    const std::size_t comma = accept.find(',');
    std::string_view range = accept.substr(0, comma);
    accept = comma == std::string_view::npos ? std::string_view() : accept.substr(comma + 1);
    const std::size_t semi = range.find(';');
    const std::string_view type = Trim(range.substr(0, semi));
    double q = 1;
    bool otherVersion = false;
    std::string_view params =
        semi == std::string_view::npos ? std::string_view() : range.substr(semi + 1);
    while (!params.empty()) {
      const std::size_t next = params.find(';');
      const std::string_view param = Trim(params.substr(0, next));
      params = next == std::string_view::npos ? std::string_view() : params.substr(next + 1);
      const std::size_t eq = param.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view key = Trim(param.substr(0, eq));
      const std::string_view value = Trim(param.substr(eq + 1));
      if (EqualsNoCase(key, "q")) q = Weight(value);
      if (EqualsNoCase(key, "version") && value != "1.0.0") otherVersion = true;
    }
    if (EqualsNoCase(type, "application/openmetrics-text")) {
      if (!otherVersion) openMetrics = std::max(openMetrics, q);
    } else if (EqualsNoCase(type, "text/plain") || type == "*/*" || EqualsNoCase(type, "text/*")) {
      text = std::max(text, q);
    }
  }
  return openMetrics > 0 && openMetrics >= text ? ExpositionFormat::kOpenMetrics
                                                : ExpositionFormat::kText004;
}

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string FormatSampleValue(double value) {
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  if (std::isnan(value)) return "NaN";
  char buffer[64];
  // Plain decimals for the range a round trip or a count of seconds takes
  // ("0.0001", not "1e-04"); exponents only beyond it.
  const double magnitude = std::fabs(value);
  const auto format = (magnitude == 0 || (magnitude >= 1e-9 && magnitude < 1e15))
                          ? std::chars_format::fixed
                          : std::chars_format::general;
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

WatchMetrics::WatchMetrics(std::string destination, std::string interfaceName, std::string version)
    : destination_(std::move(destination)),
      interface_(std::move(interfaceName)),
      version_(std::move(version)) {}

void WatchMetrics::RecordProbe(bool passed, std::optional<double> roundTripSeconds) {
  (passed ? passed_ : failed_)++;
  up_ = passed;
  if (!passed || !roundTripSeconds) return;
  ++roundTrips_;
  roundTripSum_ += *roundTripSeconds;
  for (std::size_t i = 0; i < kRoundTripBuckets.size(); ++i) {
    if (*roundTripSeconds <= kRoundTripBuckets[i]) {
      ++buckets_[i];
      break;
    }
  }
}

void WatchMetrics::SetOutages(std::uint64_t count, double seconds) {
  outages_ = count;
  outageSeconds_ = seconds;
}

void WatchMetrics::SetTraffic(std::uint64_t receiveBytes, std::uint64_t transmitBytes) {
  receiveBytes_ = receiveBytes;
  transmitBytes_ = transmitBytes;
}

std::string WatchMetrics::Render(ExpositionFormat format) const {
  Writer w(format);
  const std::string interfaceLabel = "interface=\"" + EscapeLabelValue(interface_) + "\"";
  const std::string labels =
      "destination=\"" + EscapeLabelValue(destination_) + "\"," + interfaceLabel;
  auto count = [](std::uint64_t n) { return std::to_string(n); };

  w.Family("quorrel_probes", "counter", "", "Pings sent to the destination, by result.");
  w.Sample("quorrel_probes_total", labels + ",result=\"passed\"", count(passed_));
  w.Sample("quorrel_probes_total", labels + ",result=\"failed\"", count(failed_));

  w.Family("quorrel_up", "gauge", "", "1 when the latest ping was answered, else 0.");
  w.Sample("quorrel_up", labels, up_ ? "1" : "0");

  w.Family("quorrel_round_trip_seconds", "histogram", "seconds",
           "Round trip of the answered pings.");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < kRoundTripBuckets.size(); ++i) {
    cumulative += buckets_[i];
    w.Sample("quorrel_round_trip_seconds_bucket",
             labels + ",le=\"" + FormatSampleValue(kRoundTripBuckets[i]) + "\"", count(cumulative));
  }
  w.Sample("quorrel_round_trip_seconds_bucket", labels + ",le=\"+Inf\"", count(roundTrips_));
  w.Sample("quorrel_round_trip_seconds_sum", labels, FormatSampleValue(roundTripSum_));
  w.Sample("quorrel_round_trip_seconds_count", labels, count(roundTrips_));

  w.Family("quorrel_outages", "counter", "",
           "Outages begun: a failed ping after a passed one, or at the start.");
  w.Sample("quorrel_outages_total", labels, count(outages_));
  w.Family("quorrel_outage_seconds", "counter", "seconds",
           "Time spent in outages, the one going on included.");
  w.Sample("quorrel_outage_seconds_total", labels, FormatSampleValue(outageSeconds_));

  if (receiveBytes_ && transmitBytes_) {
    w.Family("quorrel_receive_bytes", "counter", "bytes", "Bytes the adapter received.");
    w.Sample("quorrel_receive_bytes_total", interfaceLabel, count(*receiveBytes_));
    w.Family("quorrel_transmit_bytes", "counter", "bytes", "Bytes the adapter sent.");
    w.Sample("quorrel_transmit_bytes_total", interfaceLabel, count(*transmitBytes_));
  }

  w.Family("quorrel_build", "info", "", "The running quorrel-watch.");
  w.Sample("quorrel_build_info", "version=\"" + EscapeLabelValue(version_) + "\"", "1");
  return w.Finish();
}

}  // namespace quorrel::watch
