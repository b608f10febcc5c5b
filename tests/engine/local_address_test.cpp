// The online check: the first routable IPv4 interface, from an injected interface list and
// from the machine's own.
#include "engine/local_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

TInterfaceAddress Interface(const char* name, bool up, bool loopback, const char* ipv4) {
  TInterfaceAddress entry;
  entry.Name = name;
  entry.Up = up;
  entry.Loopback = loopback;
  entry.IPv4 = ipv4 != nullptr;
  if (ipv4) entry.Address = ipv4;
  return entry;
}

TEST(LocalAddress, FirstUpNonLoopbackIPv4InterfaceInListOrder) {
  const TInterfaceAddress lo = Interface("lo", true, true, "127.0.0.1");
  const TInterfaceAddress eth0 = Interface("eth0", true, false, "192.0.2.7");
  const TInterfaceAddress down = Interface("eth1", false, false, "198.51.100.3");
  const TInterfaceAddress ipv6 = Interface("eth2", true, false, nullptr);
  const TInterfaceAddress wlan = Interface("wlan0", true, false, "203.0.113.9");
  struct Case {
    const char* what;
    std::vector<TInterfaceAddress> interfaces;
    const char* expected;
  };
  const Case cases[] = {
      {"none", {}, "127.0.0.1"},
      {"loopback only", {lo}, "127.0.0.1"},
      {"one up", {lo, eth0}, "192.0.2.7"},
      {"one down", {lo, down}, "127.0.0.1"},
      {"IPv6 only", {lo, ipv6}, "127.0.0.1"},
      {"down before up", {down, ipv6, wlan, eth0}, "203.0.113.9"},
      {"first of two up", {eth0, wlan}, "192.0.2.7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FirstRoutableAddress(c.interfaces), c.expected) << c.what;
  }
}

TEST(LocalAddress, MachineAnswerComesFromItsOwnInterfaces) {
  const std::vector<TInterfaceAddress> interfaces = ListInterfaceAddresses();
  bool loopbackListed = false;
  for (const TInterfaceAddress& entry : interfaces) {
    if (entry.Loopback && entry.IPv4) {
      loopbackListed = true;
      EXPECT_EQ(entry.Address.rfind("127.", 0), 0u) << entry.Name;
    }
  }
  EXPECT_TRUE(loopbackListed) << "every Linux machine lists lo with 127.0.0.1";
  EXPECT_EQ(GetLocalAddress(), FirstRoutableAddress(interfaces));
}

}  // namespace
}  // namespace qm
