#pragma once
#include <string>
#include <vector>

namespace qm {

// One address of a network interface, as the system lists them.
struct TInterfaceAddress {
  std::string Name;
  bool Up = false;
  bool Loopback = false;
  bool IPv4 = false;
  std::string Address;  // dotted text when IPv4
};

// The address of the first interface that is up, not loopback and has an IPv4 address, in
// the order given; "127.0.0.1" when there is none, which the start and resume paths take
// for offline.
std::string FirstRoutableAddress(const std::vector<TInterfaceAddress>& interfaces);

// The interfaces' addresses from getifaddrs; empty when they cannot be listed.
std::vector<TInterfaceAddress> ListInterfaceAddresses();

// The machine's IPv4 address from its interfaces. The host name's entry is not used: on
// many machines /etc/hosts maps it to 127.0.0.1 whatever the interfaces hold.
std::string GetLocalAddress();

}  // namespace qm
