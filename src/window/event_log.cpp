#include "window/event_log.h"

#include "common/text.h"

namespace quorrel {
namespace {

std::string TwoDigits(int v) {
  const int d = ((v % 100) + 100) % 100;
  return {static_cast<char>('0' + d / 10), static_cast<char>('0' + d % 10)};
}

}  // namespace

std::string FormatLogStamp(const LocalTime& t, const std::string& dateSep,
                           const std::string& timeSep) {
  return TwoDigits(t.day) + dateSep + TwoDigits(t.month) + dateSep + TwoDigits(t.year) + " " +
         TwoDigits(t.hour) + timeSep + TwoDigits(t.minute) + timeSep + TwoDigits(t.second);
}

std::string TrimLog(const std::string& log) {
  std::u16string text = Utf8ToUtf16(log);
  std::size_t length = text.size();
  if (length <= kLogLimit) return log;
  // Positions are 1-based: the CR at 1-based p >= L - 3000 is at index p - 1.
  std::size_t from = length - kLogLimit;
  std::size_t cr = from - 1;
  for (; cr + 1 < length; ++cr) {
    if (text[cr] == u'\r' && text[cr + 1] == u'\n') break;
  }
  if (cr + 1 >= length) return std::string();  // cannot happen: the text ends with CR LF
  return Utf16ToUtf8(std::u16string_view(text).substr(cr + 2));
}

std::string AppendLogLine(const std::string& log, const std::string& stamp,
                          const std::string& message) {
  return TrimLog(log + stamp + " - " + message + "\r\n");
}

}  // namespace quorrel
