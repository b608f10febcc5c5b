#include "engine/local_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

namespace qm {

std::string GetLocalAddress() {
  std::array<char, 64> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  name.back() = '\0';  // a truncated name need not be terminated

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
  addrinfo* found = nullptr;
  if (getaddrinfo(name.data(), nullptr, &hints, &found) != 0) return {};

  std::string result;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || !entry->ai_addr) continue;
    std::array<char, INET_ADDRSTRLEN> text{};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size())) result = text.data();
  }
  freeaddrinfo(found);
  return result;
}

}  // namespace qm
