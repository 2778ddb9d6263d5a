#include <cstring>

#include "platform/win32/services/notify_icon.h"
#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

#if defined(_WIN32) && !defined(_WIN64)
static_assert(NOTIFYICONDATAA_V1_SIZE == sizeof(NotifyIconDataA),
              "the portable record is the shell's first form");
#endif

HANDLE HandleFromLong(std::uint32_t value) {
  return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(static_cast<std::int32_t>(value)));
}

NOTIFYICONDATAA ToNotifyIconDataA(const NotifyIconDataA& data) {
  NOTIFYICONDATAA native{};
  native.cbSize = NOTIFYICONDATAA_V1_SIZE;
  native.hWnd = static_cast<HWND>(HandleFromLong(data.hWnd));
  native.uID = data.uID;
  native.uFlags = data.uFlags;
  native.uCallbackMessage = data.uCallbackMessage;
  native.hIcon = static_cast<HICON>(HandleFromLong(data.hIcon));
  static_assert(sizeof native.szTip >= sizeof data.szTip, "the first form's tip fits");
  // The tip arrives as a fixed field; it reaches the shell terminated even
  // when the record was filled to the last byte.
  std::memcpy(native.szTip, data.szTip, sizeof data.szTip - 1);
  native.szTip[sizeof data.szTip - 1] = '\0';
  return native;
}

bool ShellNotify::Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) {
  NOTIFYICONDATAA native = ToNotifyIconDataA(data);
  return ::Shell_NotifyIconA(message, &native) != FALSE;
}

}  // namespace quorrel::win32
