#pragma once
// The on-screen log's line format and its bound.
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace quorrel {

inline constexpr std::size_t kLogLimit = 3000;  // characters (UTF-16 code units)

// "dd/mm/yy hh:nn:ss" with the locale's separators in place of "/" and ":".
std::string FormatLogStamp(const LocalTime& t, const std::string& dateSep,
                           const std::string& timeSep);

// The log text after one more line: the stamp, " - ", the message and CR LF,
// then whole lines dropped from the top while it is longer than the limit.
std::string AppendLogLine(const std::string& log, const std::string& stamp,
                          const std::string& message);

// Drops whole lines from the top of `log` once it holds more than kLogLimit
// characters: everything up to and including the first CR LF whose CR stands
// at or after position L - 3000 (1-based). When that CR LF ends the newest
// line, the line alone is longer than the bound and its newest kLogLimit
// characters are kept instead of an empty log.
std::string TrimLog(const std::string& log);

// The on-screen log text together with its length in UTF-16 code units, so
// that adding a line costs the line and the lines it drops, not a conversion
// of the whole text. Appending gives exactly the text AppendLogLine gives for
// valid UTF-8; malformed bytes in a line are stored as U+FFFD (they count one
// unit each either way).
class LogText {
 public:
  const std::string& Text() const { return text_; }
  std::size_t Units() const { return units_; }
  // Takes `text` as the current log (measured once).
  void Assign(std::string text);
  // Appends the stamp, " - ", the message and CR LF, then trims as TrimLog.
  void Append(std::string_view stamp, std::string_view message);

 private:
  void Trim();
  void KeepNewestUnits();

  std::string text_;
  std::size_t units_ = 0;
};

}  // namespace quorrel
