// The echo functions are taken from icmp.dll at run time: MinGW offers no i686
// import library for it, and every Windows since NT 4 (and Wine) ships it, on
// current systems as a forwarder to iphlpapi.
#include <windows.h>
// Order matters: each of these needs the types of the one before.
#include <iphlpapi.h>
// IPAddr and IP_OPTION_INFORMATION come from <iphlpapi.h>.
#include <icmpapi.h>

#include <cstddef>
#include <cstring>

#include "platform/win32/services/win32_services.h"

namespace quorrel::win32 {

static_assert(offsetof(ICMP_ECHO_REPLY, Status) == kEchoReplyStatusOffset,
              "Status sits at the same place on both widths");
static_assert(offsetof(ICMP_ECHO_REPLY, RoundTripTime) == kEchoReplyRoundTripOffset,
              "modPing reads the round trip from the record");
static_assert(sizeof(IPAddr) == sizeof(std::uint32_t), "IPv4 in network order");

namespace {

// icmp.dll, loaded once and kept for the life of the process.
struct IcmpLibrary {
  decltype(&::IcmpCreateFile) create = nullptr;
  decltype(&::IcmpSendEcho) send = nullptr;
  decltype(&::IcmpCloseHandle) close = nullptr;

  IcmpLibrary() {
    HMODULE module = LoadLibraryW(L"icmp.dll");
    if (module == nullptr) return;
    create = reinterpret_cast<decltype(create)>(
        reinterpret_cast<void*>(GetProcAddress(module, "IcmpCreateFile")));
    send = reinterpret_cast<decltype(send)>(
        reinterpret_cast<void*>(GetProcAddress(module, "IcmpSendEcho")));
    close = reinterpret_cast<decltype(close)>(
        reinterpret_cast<void*>(GetProcAddress(module, "IcmpCloseHandle")));
    if (create == nullptr || send == nullptr || close == nullptr) create = nullptr;
  }
  bool Loaded() const { return create != nullptr; }
};

const IcmpLibrary& Icmp() {
  static const IcmpLibrary library;
  return library;
}

}  // namespace

IcmpHandle IcmpDll::IcmpCreateFile() {
  if (!Icmp().Loaded()) return nullptr;
  HANDLE handle = Icmp().create();
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

std::uint32_t IcmpDll::IcmpSendEcho(IcmpHandle handle, std::uint32_t destination,
                                    const void* requestData, std::uint16_t requestSize,
                                    const void* requestOptions, void* reply,
                                    std::uint32_t replySize, std::uint32_t timeoutMs) {
  if (handle == nullptr || !Icmp().Loaded()) return 0;
  // The options, when given, are the platform's own IP_OPTION_INFORMATION.
  DWORD replies =
      Icmp().send(handle, destination, const_cast<void*>(requestData), requestSize,
                     static_cast<PIP_OPTION_INFORMATION>(const_cast<void*>(requestOptions)), reply,
                     replySize, timeoutMs);
  if (replies != 0 || reply == nullptr ||
      replySize < kEchoReplyStatusOffset + sizeof(std::uint32_t))
    return replies;
  // Without a reply, Windows leaves the reason in the last error, not always
  // in Status; the port promises it in Status.
  std::uint32_t status = 0;
  auto* statusField = static_cast<unsigned char*>(reply) + kEchoReplyStatusOffset;
  std::memcpy(&status, statusField, sizeof status);
  if (status == kIpSuccess) {
    DWORD error = GetLastError();
    status = error >= IP_STATUS_BASE && error <= IP_GENERAL_FAILURE
                 ? static_cast<std::uint32_t>(error)
                 : static_cast<std::uint32_t>(kIpGeneralFailure);
    std::memcpy(statusField, &status, sizeof status);
  }
  return 0;
}

bool IcmpDll::IcmpCloseHandle(IcmpHandle handle) {
  return handle != nullptr && Icmp().Loaded() && Icmp().close(handle) != FALSE;
}

}  // namespace quorrel::win32
