#include "quality/quality_text.h"

#include <cmath>

#include "common/number.h"
#include "common/text.h"
#include "window/event_log.h"

namespace quorrel {
namespace {

// `value` with `decimals` places after a ".", halves to the even neighbour.
std::string FormatFixed(double value, int decimals) {
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const double scaled = RoundHalfEven(value * static_cast<double>(scale));
  if (!std::isfinite(scaled) || std::fabs(scaled) > 9e15) return "0";
  const bool negative = scaled < 0;
  const auto units = static_cast<std::int64_t>(std::fabs(scaled));
  std::string out = std::to_string(units / scale);
  if (decimals > 0) {
    std::string fraction = std::to_string(units % scale);
    out += '.';
    out.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
    out += fraction;
  }
  return negative && units != 0 ? "-" + out : out;
}

// One decimal, without a trailing ".0".
std::string FormatTenths(double tenths) {
  std::string text = FormatFixed(tenths / 10.0, 1);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text;
}

std::string FormatPercentRounded(double percent) {
  return FormatTenths(RoundHalfEven(percent * 10));
}

// Rounded down, so that any time lost keeps availability below "100".
std::string FormatPercentDown(double percent) {
  // The small allowance keeps 99.3, stored as 99.2999..., at 99.3.
  return FormatTenths(std::floor(percent * 10 + 1e-7));
}

}  // namespace

std::string FormatRoundTrip(double micros, bool wholeMillis) {
  const double ms = micros / 1000.0;
  if (wholeMillis && micros == 0) return "< 1 ms";
  // Whole-millisecond readings carry no decimals to show.
  if (wholeMillis && ms == std::floor(ms)) return FormatFixed(ms, 0) + " ms";
  const int decimals = ms < 10 ? 2 : ms < 100 ? 1 : 0;
  return FormatFixed(ms, decimals) + " ms";
}

std::string FormatOutageLength(std::int64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " s";
  if (seconds < 3600)
    return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
  if (seconds < 86400)
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds / 60 % 60) + " min";
  return std::to_string(seconds / 86400) + " d " + std::to_string(seconds / 3600 % 24) + " h";
}

std::string PingResultTip(const LinkQuality& quality, Clock& locale) {
  if (!quality.Running()) return "Stopped";
  if (quality.Pings() == 0) return "Started, no ping yet";
  const PingSample& last = quality.LastPing();
  const RttStats window = quality.Window();
  std::string tip = "Round trip: ";
  tip += last.passed ? FormatRoundTrip(static_cast<double>(last.rttMicros), last.wholeMillis)
                     : "no reply";
  tip += "\nLoss (last " + std::to_string(window.pings) +
         "): " + FormatPercentRounded(window.lossPercent) + " %";
  if (window.replies > 0) {
    tip += "\nAverage: " + FormatRoundTrip(window.avgMicros, window.wholeMillis) + ", jitter " +
           FormatRoundTrip(window.jitterMicros, window.wholeMillis);
  }
  tip += "\nAvailable since start: " + FormatPercentDown(quality.AvailabilityPercent()) + " %";
  const Outage* outage = quality.LastOutage();
  if (!outage) {
    tip += "\nLast outage: none";
  } else {
    const std::string when =
        FormatLogStamp(outage->start, locale.DateSeparator(), locale.TimeSeparator());
    tip += (outage->open ? "\nOutage since " : "\nLast outage: ") + when + ", " +
           FormatOutageLength(outage->seconds) + (outage->open ? " so far" : "");
  }
  return tip;
}

std::string GraphPointTip(const LocalTime& when, double downBytes, double upBytes, Clock& locale) {
  const std::string sep = locale.ThousandsSeparator();
  return FormatLogStamp(when, locale.DateSeparator(), locale.TimeSeparator()) +
         "\nDownstream: " + FormatKilobytes(downBytes / 1024.0, sep) +
         "\nUpstream: " + FormatKilobytes(upBytes / 1024.0, sep);
}

std::string IsoLocalStamp(const LocalTime& t) {
  std::string year = std::to_string(t.year);
  if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
  return year + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + "T" + TwoDigits(t.hour) + ":" +
         TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

std::string CsvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string OutagesCsvBlock(const LinkQuality& quality, std::string_view destination,
                            bool withHeader) {
  std::string out;
  if (withHeader) out += std::string(kOutagesCsvHeader) + "\r\n";
  const std::string where = CsvField(destination);
  for (std::size_t i = 0; i < quality.KeptOutages(); ++i) {
    const Outage& o = quality.KeptOutage(i);
    out += IsoLocalStamp(o.start) + "," + IsoLocalStamp(o.end) + "," + std::to_string(o.seconds) +
           "," + where + "\r\n";
  }
  const RttStats all = quality.SinceStart();
  out += "# summary," + IsoLocalStamp(quality.StartTime()) + "," +
         IsoLocalStamp(quality.LatestTime()) + ",pings=" + std::to_string(all.pings) +
         ",lost=" + std::to_string(all.lost) + ",outages=" + std::to_string(quality.OutageCount()) +
         ",availability=" + FormatPercentDown(quality.AvailabilityPercent()) + "%\r\n";
  return out;
}

}  // namespace quorrel
