#include "engine/local_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>

namespace qm {

std::string FirstRoutableAddress(const std::vector<TInterfaceAddress>& interfaces) {
  for (const TInterfaceAddress& entry : interfaces) {
    if (entry.Up && !entry.Loopback && entry.IPv4 && !entry.Address.empty()) return entry.Address;
  }
  return "127.0.0.1";
}

std::vector<TInterfaceAddress> ListInterfaceAddresses() {
  std::vector<TInterfaceAddress> result;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return result;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    TInterfaceAddress address;
    address.Name = entry->ifa_name ? entry->ifa_name : "";
    address.Up = (entry->ifa_flags & IFF_UP) != 0;
    address.Loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
      std::array<char, INET_ADDRSTRLEN> text{};
      const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (inet_ntop(AF_INET, &inet->sin_addr, text.data(), text.size())) {
        address.IPv4 = true;
        address.Address = text.data();
      }
    }
    result.push_back(std::move(address));
  }
  freeifaddrs(list);
  return result;
}

std::string GetLocalAddress() {
  return FirstRoutableAddress(ListInterfaceAddresses());
}

}  // namespace qm
