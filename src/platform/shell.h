#pragma once
// The notification area (shell32's Shell_NotifyIconA).
#include <cstdint>

namespace quorrel {

inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;

inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;

// NOTIFYICONDATAA in its first, 88-byte form, as a 32-bit process hands it to
// the shell. Window and icon handles are USER handles, which fit 32 bits.
struct NotifyIconDataA {
  std::uint32_t cbSize = 0;
  std::uint32_t hWnd = 0;
  std::uint32_t uID = 0;
  std::uint32_t uFlags = 0;
  std::uint32_t uCallbackMessage = 0;
  std::uint32_t hIcon = 0;
  char szTip[64] = {};
};
static_assert(sizeof(NotifyIconDataA) == 88, "first-form NOTIFYICONDATAA is 88 bytes");

class ShellApi {
 public:
  virtual ~ShellApi() = default;
  virtual bool Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) = 0;
};

}  // namespace quorrel
