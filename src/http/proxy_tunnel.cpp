#include "http/proxy_tunnel.h"

#include "http/base64.h"
#include "http/socket_errors.h"
#include "text/integer_syntax.h"
#include "text/trim.h"

namespace qm {
namespace {

// Header lines of a proxy's answer read before giving up on it.
constexpr int kMaxAnswerLines = 1000;

}  // namespace

std::string ProxyConnectRequest(const std::string& host, const std::string& port,
                                const std::string& proxyUser, const std::string& proxyPassword) {
  const std::string target = host + ":" + port;
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (!proxyUser.empty()) {
    request +=
        "Proxy-Authorization: Basic " + EncodeBase64(proxyUser + ":" + proxyPassword) + "\r\n";
  }
  return request + "\r\n";
}

bool OpenProxyTunnel(TBlockingSocket& socket, const std::string& host, const std::string& port,
                     const std::string& proxyUser, const std::string& proxyPassword,
                     int32_t limitMs) {
  socket.TransmitText(ProxyConnectRequest(host, port, proxyUser, proxyPassword));
  if (socket.LastSocketError != 0) return false;
  const std::string status = socket.ReceiveLineWithin(limitMs);
  if (socket.LastSocketError != 0) return false;
  const std::string code = TextBefore(TextAfter(status, " "), " ");
  const int32_t number = ParseHttpNumber(code).value_or(0);
  const bool accepted = AsciiUpper(status).rfind("HTTP/", 0) == 0 && number >= 200 && number <= 299;
  // The head is read to its end either way, so that nothing of it is taken for TLS.
  for (int i = 0; i < kMaxAnswerLines; ++i) {
    const std::string line = socket.ReceiveLineWithin(limitMs);
    if (socket.LastSocketError != 0) return false;
    if (line.empty()) {
      if (!accepted) break;
      // The server speaks first only after our hello; anything here is not TLS.
      if (!socket.PendingInput.empty()) break;
      return true;
    }
  }
  socket.LastSocketError = kWsaConnectionRefused;
  return false;
}

}  // namespace qm
