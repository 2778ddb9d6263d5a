#pragma once
// Kernel object handles with one owner.
#include <windows.h>

#include <memory>
#include <type_traits>

namespace quorrel::win32 {

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using OwnedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// CreateFile answers INVALID_HANDLE_VALUE where most calls answer null; both
// become an empty owner.
inline OwnedHandle Own(HANDLE handle) {
  return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace quorrel::win32
