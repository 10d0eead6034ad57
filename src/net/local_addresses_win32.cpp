#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <iphlpapi.h>

#include <vector>

#include "net/local_addresses.h"

namespace palisard {

std::vector<uint32_t> LocalIpv4Addresses() {
  std::vector<uint32_t> addresses;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  // The list may grow between the calls: ask again with the size it needs.
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result =
        GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return addresses;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      const uint32_t value = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
      if ((value >> 24) != 127) addresses.push_back(value);
    }
  }
  return addresses;
}

}  // namespace palisard
