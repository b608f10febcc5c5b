#pragma once
// The CONNECT exchange that turns a connection to a proxy into a tunnel to the page's
// server, over which TLS then runs end to end.
#include <cstdint>
#include <string>

#include "http/blocking_socket.h"

namespace qm {

// The request sent to the proxy; `proxyUser` empty sends no Proxy-Authorization line.
std::string ProxyConnectRequest(const std::string& host, const std::string& port,
                                const std::string& proxyUser, const std::string& proxyPassword);

// Asks the proxy on the connected `socket` for a tunnel to host:port and reads its answer
// head. True on a 2xx answer; otherwise false with `LastSocketError` set: the read's code,
// or 10061 when the proxy refused the tunnel.
bool OpenProxyTunnel(TBlockingSocket& socket, const std::string& host, const std::string& port,
                     const std::string& proxyUser, const std::string& proxyPassword,
                     int32_t limitMs);

}  // namespace qm
