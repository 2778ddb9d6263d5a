#include "common/utf8.h"

namespace quorrel {
namespace {

bool IsContinuation(std::string_view s, std::size_t i) {
  return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

unsigned Bits(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]) & 0x3Fu;
}

}  // namespace

DecodedCodePoint DecodeUtf8(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1};
  if ((b & 0xE0) == 0xC0 && IsContinuation(s, i + 1)) {
    const char32_t cp = ((b & 0x1Fu) << 6) | Bits(s, i + 1);
    if (cp >= 0x80) return {cp, 2};
  } else if ((b & 0xF0) == 0xE0 && IsContinuation(s, i + 1) && IsContinuation(s, i + 2)) {
    const char32_t cp = ((b & 0x0Fu) << 12) | (Bits(s, i + 1) << 6) | Bits(s, i + 2);
    if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) return {cp, 3};
  } else if ((b & 0xF8) == 0xF0 && IsContinuation(s, i + 1) && IsContinuation(s, i + 2) &&
             IsContinuation(s, i + 3)) {
    const char32_t cp =
        ((b & 0x07u) << 18) | (Bits(s, i + 1) << 12) | (Bits(s, i + 2) << 6) | Bits(s, i + 3);
    if (cp >= 0x10000 && cp <= 0x10FFFF) return {cp, 4};
  }
  return {kReplacementCharacter, 1};
}

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    DecodedCodePoint d = DecodeUtf8(s, i);
    i += d.length;
    if (d.value >= 0x10000) {
      const char32_t v = d.value - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(d.value);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);  // an unpaired half cannot be written as UTF-8: U+FFFD
  }
  return out;
}

std::size_t Utf16Length(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    DecodedCodePoint d = DecodeUtf8(s, i);
    i += d.length;
    units += Utf16Units(d.value);
  }
  return units;
}

std::size_t Utf8PrefixOfUnits(std::string_view s, std::size_t units) {
  std::size_t i = 0;
  std::size_t used = 0;
  while (i < s.size()) {
    DecodedCodePoint d = DecodeUtf8(s, i);
    if (used + Utf16Units(d.value) > units) break;
    used += Utf16Units(d.value);
    i += d.length;
  }
  return i;
}

std::size_t WholeUtf8Prefix(std::string_view s, std::size_t maxBytes) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t length = DecodeUtf8(s, i).length;
    if (i + length > maxBytes) break;
    i += length;
  }
  return i;
}

std::size_t CodePointCount(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += DecodeUtf8(s, i).length) ++n;
  return n;
}

}  // namespace quorrel
