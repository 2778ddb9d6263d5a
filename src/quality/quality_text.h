#pragma once
// The texts both faces show of the link quality, and the outages.csv block.
// Numbers are formatted here, never through the C library's locale: the
// decimal point is always ".".
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "quality/link_quality.h"

namespace quorrel {

inline constexpr char kOutagesFileName[] = "outages.csv";
inline constexpr char kOutagesCsvHeader[] = "start,end,seconds,destination";

// A round trip in milliseconds: two decimals below 10 ms, one below 100 ms,
// whole above. A whole-millisecond reading of 0 is "< 1 ms".
std::string FormatRoundTrip(double micros, bool wholeMillis);

// "12 s", "3 min 5 s", "2 h 3 min", "4 d 2 h".
std::string FormatOutageLength(std::int64_t seconds);

// The "Ping Result" lamp's tooltip: "Stopped" while no run is going, else a
// few lines: the last round trip, the loss, average and jitter of the last
// 100 pings, the availability since Start and the last outage, its start in
// the log's stamp format with `locale`'s separators.
std::string PingResultTip(const LinkQuality& quality, Clock& locale);

// The graph area's tooltip for one second of the history: its time in the
// log's stamp format, then "Downstream: " and "Upstream: " with the figures
// (bytes in that second) in the captions' kilobyte format.
std::string GraphPointTip(const LocalTime& when, double downBytes, double upBytes, Clock& locale);

// ISO 8601 local date and time, "2026-12-07T09:05:03". No UTC offset: the
// clock port gives only the local reading, and ISO 8601 reads a time without
// an offset as local time.
std::string IsoLocalStamp(const LocalTime& t);

// One CSV field: quoted, with inner quotes doubled, when it holds a comma, a
// quote, a CR or an LF, or starts or ends with a space.
std::string CsvField(std::string_view text);

// The block one run appends to outages.csv, lines ending in CR LF: the header
// line when `withHeader` (the file is new), one "start,end,seconds,destination"
// row per kept outage, oldest first, then
// "# summary,<start>,<end>,pings=N,lost=N,outages=N,availability=P%", with
// <end> the Stop time (the newest ping's while the run still goes).
std::string OutagesCsvBlock(const LinkQuality& quality, std::string_view destination,
                            bool withHeader);

}  // namespace quorrel
