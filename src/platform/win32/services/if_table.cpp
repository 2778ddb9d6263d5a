#include <windows.h>
// <windows.h> first: the IP Helper header builds on its types.
#include <iphlpapi.h>

#include <cstddef>

#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

// The portable reader walks the buffer by these numbers; no pointer inside
// the records makes them differ between i686 and x86_64.
static_assert(sizeof(MIB_IFROW) == kIfRowSize, "MIB_IFROW is 860 bytes");
static_assert(offsetof(MIB_IFTABLE, table) == kIfTableHeaderSize, "rows follow the count");
static_assert(sizeof(ULONG) == sizeof(std::uint32_t), "the size argument is 32 bits");

std::uint32_t IpHelper::GetIfTable(std::byte* table, std::uint32_t& size, bool sort) {
  ULONG bytes = size;
  DWORD result = ::GetIfTable(reinterpret_cast<PMIB_IFTABLE>(table), &bytes, sort ? TRUE : FALSE);
  size = bytes;
  return result;
}

}  // namespace quorrel::win32
