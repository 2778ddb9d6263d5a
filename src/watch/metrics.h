#pragma once
// The monitor's figures in Prometheus' text exposition format 0.0.4 (what a
// plain GET receives, and node_exporter's textfile collector reads) and in
// OpenMetrics 1.0 (what a scraper asking for it in Accept receives).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorrel::watch {

enum class ExpositionFormat { kText004, kOpenMetrics };

inline constexpr char kText004ContentType[] = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr char kOpenMetricsContentType[] =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";

// Upper bounds of the round-trip histogram's buckets, in seconds: 0.1 ms to
// 1 s in 1-2.5-5 steps (an echo waits 500 ms at most, so 1 s holds them all).
inline constexpr std::array<double, 13> kRoundTripBuckets = {
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0};

// The format a scraper's Accept header asks for: OpenMetrics when it names
// application/openmetrics-text (version 1.0.0 or none) with a weight at least
// that of text/plain; else the 0.0.4 text.
ExpositionFormat FormatFor(std::string_view accept);

// A label value as both formats want it: backslash, double quote and line
// feed escaped.
std::string EscapeLabelValue(std::string_view value);

// A sample value without the C library's locale: the shortest text that reads
// back as the same double, with ".0" on whole numbers as OpenMetrics' `le`
// labels have them.
std::string FormatSampleValue(double value);

class WatchMetrics {
 public:
  WatchMetrics(std::string destination, std::string interfaceName, std::string version);

  // One ping's result; a passed ping's round trip goes into the histogram.
  void RecordProbe(bool passed, std::optional<double> roundTripSeconds);
  // The outage ledger's totals so far.
  void SetOutages(std::uint64_t count, double seconds);
  // The adapter's byte counters as the kernel keeps them (64-bit).
  void SetTraffic(std::uint64_t receiveBytes, std::uint64_t transmitBytes);

  std::string Render(ExpositionFormat format) const;

 private:
  std::string destination_;
  std::string interface_;
  std::string version_;
  std::uint64_t passed_ = 0;
  std::uint64_t failed_ = 0;
  bool up_ = false;
  std::array<std::uint64_t, kRoundTripBuckets.size()> buckets_{};  // not cumulative
  std::uint64_t roundTrips_ = 0;
  double roundTripSum_ = 0;
  std::uint64_t outages_ = 0;
  double outageSeconds_ = 0;
  std::optional<std::uint64_t> receiveBytes_;
  std::optional<std::uint64_t> transmitBytes_;
};

}  // namespace quorrel::watch
