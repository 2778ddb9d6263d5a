#pragma once
// Fixed-width integers in byte buffers. Platform records (MIB_IFROW,
// ICMP_ECHO_REPLY, NOTIFYICONDATA) are little-endian whatever the host is;
// wire headers are in network order. Every reader takes a byte pointer that
// the caller has bounds-checked against its buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

namespace quorrel {

template <typename Byte>
concept ByteLike = sizeof(Byte) == 1 && !std::is_same_v<Byte, bool>;

template <ByteLike Byte>
constexpr std::uint16_t ReadLe16(const Byte* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned>(static_cast<std::uint8_t>(p[0])) |
                                    static_cast<unsigned>(static_cast<std::uint8_t>(p[1])) << 8);
}

template <ByteLike Byte>
constexpr std::uint32_t ReadLe32(const Byte* p) {
  return static_cast<std::uint32_t>(ReadLe16(p)) | static_cast<std::uint32_t>(ReadLe16(p + 2))
                                                       << 16;
}

template <ByteLike Byte>
constexpr std::uint64_t ReadLe64(const Byte* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) | static_cast<std::uint64_t>(ReadLe32(p + 4))
                                                       << 32;
}

template <ByteLike Byte>
constexpr void WriteLe16(Byte* p, std::uint16_t v) {
  p[0] = static_cast<Byte>(v & 0xFF);
  p[1] = static_cast<Byte>(v >> 8);
}

template <ByteLike Byte>
constexpr void WriteLe32(Byte* p, std::uint32_t v) {
  WriteLe16(p, static_cast<std::uint16_t>(v & 0xFFFF));
  WriteLe16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

template <ByteLike Byte>
constexpr void WriteLe64(Byte* p, std::uint64_t v) {
  WriteLe32(p, static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
  WriteLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

template <ByteLike Byte>
constexpr std::uint16_t ReadBe16(const Byte* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned>(static_cast<std::uint8_t>(p[0])) << 8 |
                                    static_cast<unsigned>(static_cast<std::uint8_t>(p[1])));
}

template <ByteLike Byte>
constexpr std::uint32_t ReadBe32(const Byte* p) {
  return static_cast<std::uint32_t>(ReadBe16(p)) << 16 |
         static_cast<std::uint32_t>(ReadBe16(p + 2));
}

template <ByteLike Byte>
constexpr void WriteBe16(Byte* p, std::uint16_t v) {
  p[0] = static_cast<Byte>(v >> 8);
  p[1] = static_cast<Byte>(v & 0xFF);
}

template <ByteLike Byte>
constexpr void WriteBe32(Byte* p, std::uint32_t v) {
  WriteBe16(p, static_cast<std::uint16_t>(v >> 16));
  WriteBe16(p + 2, static_cast<std::uint16_t>(v & 0xFFFF));
}

// Bounds-checked forms for parsers that walk a received buffer: the value at
// `offset`, or `fallback` when the buffer ends before the value does.
#define QUORREL_READ_AT(Name, Width, Type)                                                        \
  constexpr Type Name##At(std::span<const std::byte> bytes, std::size_t offset,                   \
                          Type fallback = 0) {                                                    \
    return offset <= bytes.size() && bytes.size() - offset >= Width ? Name(bytes.data() + offset) \
                                                                    : fallback;                   \
  }                                                                                               \
  constexpr Type Name##At(std::span<const std::uint8_t> bytes, std::size_t offset,                \
                          Type fallback = 0) {                                                    \
    return offset <= bytes.size() && bytes.size() - offset >= Width ? Name(bytes.data() + offset) \
                                                                    : fallback;                   \
  }
QUORREL_READ_AT(ReadLe16, 2, std::uint16_t)
QUORREL_READ_AT(ReadLe32, 4, std::uint32_t)
QUORREL_READ_AT(ReadLe64, 8, std::uint64_t)
QUORREL_READ_AT(ReadBe16, 2, std::uint16_t)
QUORREL_READ_AT(ReadBe32, 4, std::uint32_t)
#undef QUORREL_READ_AT

}  // namespace quorrel
