#include "engine/local_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(LocalAddress, IsEmptyOrOneDottedIPv4Address) {
  const std::string address = GetLocalAddress();
  if (address.empty()) GTEST_SKIP() << "this host's name does not resolve";
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
}

}  // namespace
}  // namespace qm
