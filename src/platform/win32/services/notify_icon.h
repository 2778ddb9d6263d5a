#pragma once
// The portable 88-byte notify-icon record turned into the shell's own.
#include <windows.h>
// <windows.h> first: the shell header builds on its types.
#include <shellapi.h>

#include "platform/shell.h"

namespace quorrel::win32 {

// USER handles carry 32 significant bits on every width; a 64-bit process
// widens them by sign extension, as LongToHandle does.
HANDLE HandleFromLong(std::uint32_t value);

// cbSize is the first form's size of this width (88 bytes on i686), so the
// shell reads no field beyond the tip.
NOTIFYICONDATAA ToNotifyIconDataA(const NotifyIconDataA& data);

}  // namespace quorrel::win32
