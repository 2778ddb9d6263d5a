#pragma once
// UTF-8 and UTF-16, the program's two text forms: the model keeps UTF-8, the
// platform (wide Win32 calls, MIB_IFROW names, character counts of the native
// controls) counts UTF-16 code units. Malformed UTF-8 decodes to U+FFFD one
// byte at a time, so every byte string has exactly one reading.
#include <cstddef>
#include <string>
#include <string_view>

namespace quorrel {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct DecodedCodePoint {
  char32_t value;
  std::size_t length;  // bytes consumed, at least 1 when `at` < size
};

// The code point starting at byte `at` of `utf8`; `at` must be < utf8.size().
DecodedCodePoint DecodeUtf8(std::string_view utf8, std::size_t at);

// Appends `cp` as UTF-8; a surrogate or a value past U+10FFFF appends U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// UTF-16 code units `cp` takes: 2 beyond U+FFFF, else 1.
constexpr std::size_t Utf16Units(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Length of Utf8ToUtf16(utf8) without building it.
std::size_t Utf16Length(std::string_view utf8);

// Bytes of the longest prefix of `utf8` that holds whole code points only and
// at most `units` UTF-16 code units.
std::size_t Utf8PrefixOfUnits(std::string_view utf8, std::size_t units);

// Bytes of the longest prefix of `utf8` that is at most `maxBytes` long and
// does not end inside a multi-byte sequence (for fixed-size byte fields).
std::size_t WholeUtf8Prefix(std::string_view utf8, std::size_t maxBytes);

// Number of code points in `utf8`.
std::size_t CodePointCount(std::string_view utf8);

}  // namespace quorrel
