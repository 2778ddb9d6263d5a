#include "window/event_log.h"

#include <utility>

#include "common/text.h"
#include "common/utf8.h"

namespace quorrel {

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
  if (cr + 2 == length) {
    // The newest line alone is longer than the bound: its newest characters
    // stay rather than nothing at all, without splitting a surrogate pair.
    std::size_t keep = length - kLogLimit;
    if (text[keep] >= 0xDC00 && text[keep] <= 0xDFFF) ++keep;
    return Utf16ToUtf8(std::u16string_view(text).substr(keep));
  }
  return Utf16ToUtf8(std::u16string_view(text).substr(cr + 2));
}

std::string AppendLogLine(const std::string& log, const std::string& stamp,
                          const std::string& message) {
  return TrimLog(log + stamp + " - " + message + "\r\n");
}

void LogText::Assign(std::string text) {
  text_ = std::move(text);
  units_ = Utf16Length(text_);
}

void LogText::Append(std::string_view stamp, std::string_view message) {
  for (std::string_view part :
       {stamp, std::string_view(" - "), message, std::string_view("\r\n")}) {
    for (std::size_t i = 0; i < part.size();) {
      const DecodedCodePoint d = DecodeUtf8(part, i);
      if (d.value == kReplacementCharacter && d.length == 1)
        AppendUtf8(text_, d.value);
      else
        text_.append(part, i, d.length);
      i += d.length;
      units_ += Utf16Units(d.value);
    }
  }
  Trim();
}

// TrimLog's rule without the whole-text conversion: only the dropped part is
// walked. A CR is a single byte that no UTF-8 sequence contains, so the byte
// search finds the same CR LF as a search over the UTF-16 text.
void LogText::Trim() {
  if (units_ <= kLogLimit) return;
  // The CR must stand at 1-based position L - 3000 or later, that is at
  // 0-based unit index L - 3001 or later.
  const std::size_t firstIndex = units_ - kLogLimit - 1;
  std::size_t at = 0;
  std::size_t unitsBefore = 0;
  while (at < text_.size() && unitsBefore < firstIndex) {
    const DecodedCodePoint d = DecodeUtf8(text_, at);
    at += d.length;
    unitsBefore += Utf16Units(d.value);
  }
  const std::size_t cr = text_.find("\r\n", at);
  if (cr == std::string::npos) {  // cannot happen: the text ends with CR LF
    text_.clear();
    units_ = 0;
    return;
  }
  if (cr + 2 == text_.size()) {
    KeepNewestUnits();
    return;
  }
  const std::size_t dropped =
      unitsBefore + Utf16Length(std::string_view(text_).substr(at, cr - at)) + 2;
  text_.erase(0, cr + 2);
  units_ -= dropped;
}

// The newest kLogLimit units of a text that is one line longer than the
// bound; a character that would be split (a surrogate pair) goes whole.
void LogText::KeepNewestUnits() {
  std::size_t at = 0;
  while (at < text_.size() && units_ > kLogLimit) {
    const DecodedCodePoint d = DecodeUtf8(text_, at);
    at += d.length;
    units_ -= Utf16Units(d.value);
  }
  text_.erase(0, at);
}

}  // namespace quorrel
