#include "http/blocking_socket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>

#include "http/socket_calls.h"
#include "http/socket_errors.h"

namespace qm {
namespace {

// Large enough that a page's header lines and most bodies arrive in one receive: the body
// is then taken from the pending bytes without further calls.
constexpr size_t kLineRefillBytes = 16384;

int ToPollLimit(int32_t limitMs) {
  return limitMs < 0 ? -1 : limitMs;
}

// Port text read as a decimal number; 0 when it is not one or out of range.
uint16_t DecimalPort(const std::string& text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value > 65535) return 0;
  return static_cast<uint16_t>(value);
}

}  // namespace

// No double-byte character of code page 936 has CR or LF as its second byte, so this never
// cuts one apart.
std::string_view TextBeforeBreak(std::string_view line) {
  line = line.substr(0, line.find('\n'));
  return line.substr(0, line.find('\r'));
}

TBlockingSocket::TBlockingSocket() {
  if (!sockets::PrepareEntryPoints()) {
    const std::string message = "Error loading Winsock DLL!";
    throw ESocketError(message, 0, message);
  }
}

TBlockingSocket::~TBlockingSocket() {
  // Hooks must not throw out of a destructor; the release's failures are ignored anyway.
  try {
    TBlockingSocket::ReleaseSocket();
  } catch (...) {
  }
  sockets::ReleaseEntryPoints();
}

void TBlockingSocket::AllocateSocket() {
  PendingInput.clear();
  receiveBufferSize_ = 0;
  LastSocketError = Handle == kInvalidHandle ? sockets::LastError() : 0;
  RaiseOnError();
  ReportStatus(kStatusAllocated, "");
}

void TBlockingSocket::ReleaseSocket() {
  if (Handle != kInvalidHandle) {
    sockets::Close(Handle);
    // Forgetting the number matters: a second close could hit a descriptor that another
    // thread has opened since.
    Handle = kInvalidHandle;
  }
  ReportStatus(kStatusReleased, "");
}

long TBlockingSocket::SendAll(const char* data, size_t count, bool moreFollows) {
  LastSocketError = 0;
  if (Handle == kInvalidHandle) {
    LastSocketError = WinsockErrorFromErrno(EBADF);
    return -1;
  }
  const int flags = MSG_DONTWAIT | (moreFollows ? MSG_MORE : 0);
  size_t sent = 0;
  while (sent < count) {
    const ssize_t n = sockets::Send(Handle, data + sent, count - sent, flags);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(POLLOUT, TransmitTimeout)) return -1;
      continue;
    }
    LastSocketError = n < 0 ? sockets::LastError() : kWsaNotConnected;
    return -1;
  }
  return static_cast<long>(sent);
}

int32_t TBlockingSocket::ClipToDeadline(int32_t limitMs) const {
  using Clock = std::chrono::steady_clock;
  if (Deadline == Clock::time_point::max()) return limitMs;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
  // Rounded up, so a wait never ends just before the deadline and finds it not yet passed.
  const int64_t leftMs = std::clamp<int64_t>(left + 1, 0, INT32_MAX);
  return limitMs < 0 ? static_cast<int32_t>(leftMs)
                     : static_cast<int32_t>(std::min<int64_t>(limitMs, leftMs));
}

bool TBlockingSocket::WaitFor(short events, int32_t limitMs) {
  limitMs = ClipToDeadline(limitMs);
  pollfd p{Handle, events, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    int wait = -1;
    if (limitMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::max<int64_t>(0, left.count()));
    }
    const int ready = sockets::Poll(&p, 1, wait);
    if (ready > 0) return true;
    if (ready < 0 && errno == EINTR) continue;
    LastSocketError = ready == 0 ? kWsaTimedOut : sockets::LastError();
    return false;
  }
}

ssize_t TBlockingSocket::RecvBlocking(void* target, size_t count, int flags) {
  for (;;) {
    const ssize_t n = sockets::Recv(Handle, target, count, flags | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    pollfd p{Handle, POLLIN, 0};
    const int ready = sockets::Poll(&p, 1, ClipToDeadline(-1));
    if (ready < 0 && errno != EINTR) return -1;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
  }
}

long TBlockingSocket::TransmitBuffer(const void* data, long count, bool moreFollows) {
  const long result =
      count > 0 ? SendAll(static_cast<const char*>(data), static_cast<size_t>(count), moreFollows)
                : (LastSocketError = 0, 0L);
  RaiseOnError();
  ReportStatus(kStatusSent, std::to_string(result));
  return result;
}

void TBlockingSocket::TransmitByte(uint8_t byte) {
  const char c = static_cast<char>(byte);
  SendAll(&c, 1, false);
  RaiseOnError();
  ReportStatus(kStatusSent, "1");
}

void TBlockingSocket::TransmitText(const std::string& text, bool moreFollows) {
  if (text.empty()) {
    LastSocketError = 0;
  } else {
    SendAll(text.data(), text.size(), moreFollows);
  }
  RaiseOnError();
  ReportStatus(kStatusSent, std::to_string(text.size()));
}

long TBlockingSocket::ReceiveBuffer(void* target, long count) {
  const ssize_t result = RecvBlocking(target, count > 0 ? static_cast<size_t>(count) : 0, 0);
  if (result == 0 && count > 0) {
    LastSocketError = kWsaNotConnected;
  } else {
    CheckResult(result);
  }
  RaiseOnError();
  ReportStatus(kStatusReceived, std::to_string(result));
  return static_cast<long>(result);
}

long TBlockingSocket::LookAheadBuffer(void* target, long count) {
  const ssize_t result = RecvBlocking(target, count > 0 ? static_cast<size_t>(count) : 0, MSG_PEEK);
  CheckResult(result);
  RaiseOnError();
  return static_cast<long>(result);
}

uint8_t TBlockingSocket::LookAheadByteWithin(int32_t limitMs) {
  uint8_t byte = 0;
  if (!WaitReadable(limitMs)) {
    if (LastSocketError == 0) LastSocketError = kWsaTimedOut;
  } else {
    ssize_t n;
    do {
      n = sockets::Recv(Handle, &byte, 1, MSG_PEEK);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
      LastSocketError = kWsaNotConnected;
    } else {
      CheckResult(n);
    }
    if (n != 1) byte = 0;
  }
  RaiseOnError();
  return byte;
}

bool TBlockingSocket::WaitReadable(int32_t limitMs) {
  LastSocketError = 0;
  if (Handle == kInvalidHandle) {
    // poll ignores a negative descriptor and would wait out the whole limit.
    LastSocketError = WinsockErrorFromErrno(ENOTSOCK);
    RaiseOnError();
    return false;
  }
  pollfd p{Handle, POLLIN, 0};
  int ready;
  do {
    ready = sockets::Poll(&p, 1, ToPollLimit(ClipToDeadline(limitMs)));
  } while (ready < 0 && errno == EINTR);
  CheckResult(ready);
  if (ready > 0 && (p.revents & POLLNVAL)) LastSocketError = WinsockErrorFromErrno(EBADF);
  RaiseOnError();
  const bool readable = ready > 0 && LastSocketError == 0;
  if (readable) ReportStatus(kStatusReadable, "");
  return readable;
}

uint8_t TBlockingSocket::ReceiveByteWithin(int32_t limitMs) {
  if (!WaitReadable(limitMs)) {
    if (LastSocketError == 0) LastSocketError = kWsaTimedOut;
    RaiseOnError();
    return 0;
  }
  uint8_t byte = 0;
  ssize_t n;
  do {
    n = sockets::Recv(Handle, &byte, 1, 0);
  } while (n < 0 && errno == EINTR);
  if (n == 0) {
    LastSocketError = kWsaNotConnected;
  } else {
    CheckResult(n);
  }
  ReportStatus(kStatusReceived, "1");
  RaiseOnError();
  return n == 1 ? byte : 0;
}

bool TBlockingSocket::RefillPending(int32_t limitMs) {
  for (;;) {
    if (!WaitReadable(limitMs)) {
      if (LastSocketError == 0) LastSocketError = kWsaTimedOut;
      return false;
    }
    char* area = PendingInput.ReceiveArea(kLineRefillBytes);
    const ssize_t n = sockets::Recv(Handle, area, kLineRefillBytes, MSG_DONTWAIT);
    if (n > 0) {
      PendingInput.Received(static_cast<size_t>(n));
      ReportStatus(kStatusReceived, std::to_string(n));
      return true;
    }
    if (n == 0) {
      LastSocketError = kWsaNotConnected;
      return false;
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    CheckResult(n);
    return false;
  }
}

std::string_view TBlockingSocket::ReceiveRawLineView(int32_t limitMs, std::string& spill) {
  LastSocketError = 0;
  const size_t whole = PendingInput.find('\n');
  if (whole != std::string_view::npos) {
    const std::string_view line(PendingInput.data(), whole + 1);
    PendingInput.Consume(whole + 1);
    return line;
  }
  spill.clear();
  for (;;) {
    if (PendingInput.empty() && !RefillPending(limitMs)) break;
    const size_t lf = PendingInput.find('\n');
    const size_t take = lf == std::string::npos ? PendingInput.size() : lf + 1;
    spill.append(PendingInput.data(), take);
    PendingInput.Consume(take);
    if (spill.back() == '\n') break;
    if (spill.size() > std::min(MaxLineBytes, kMaxLineBytes)) {
      LastSocketError = kWsaMessageTooLong;
      break;
    }
  }
  RaiseOnError();
  return spill;
}

std::string_view TBlockingSocket::ReceiveLineView(int32_t limitMs, std::string& spill) {
  const std::string_view line = ReceiveRawLineView(limitMs, spill);
  if (LastSocketError != 0) return {};
  return TextBeforeBreak(line);
}

std::string TBlockingSocket::ReceiveRawLineWithin(int32_t limitMs) {
  std::string spill;
  const std::string_view line = ReceiveRawLineView(limitMs, spill);
  if (line.data() != spill.data()) spill.assign(line);
  return spill;
}

std::string TBlockingSocket::ReceiveLineWithin(int32_t limitMs) {
  std::string spill;
  const std::string_view line = ReceiveLineView(limitMs, spill);
  if (line.data() != spill.data()) return std::string(line);
  spill.resize(line.size());
  return spill;
}

long TBlockingSocket::ReceiveAppendWithin(std::string& target, size_t count, int32_t limitMs) {
  const size_t fromPending = std::min(count, PendingInput.size());
  if (fromPending > 0) {
    target.append(PendingInput.data(), fromPending);
    PendingInput.Consume(fromPending);
  }
  if (fromPending == count) {
    LastSocketError = 0;
    return static_cast<long>(count);
  }
  const size_t before = target.size();
  target.resize(before + (count - fromPending));
  const long got =
      ReceiveBufferWithin(target.data() + before, static_cast<long>(count - fromPending), limitMs);
  target.resize(before + static_cast<size_t>(std::max(0L, got)));
  return static_cast<long>(fromPending) + std::max(0L, got);
}

long TBlockingSocket::ReceiveBufferWithin(void* target, long count, int32_t limitMs) {
  LastSocketError = 0;
  if (count <= 0) return 0;
  char* out = static_cast<char*>(target);
  const size_t wanted = static_cast<size_t>(count);
  const size_t fromPending = std::min(wanted, PendingInput.size());
  if (fromPending > 0) {
    std::memcpy(out, PendingInput.data(), fromPending);
    PendingInput.Consume(fromPending);
  }
  size_t gathered = fromPending;
  if (gathered < wanted) {
    const size_t chunkMax = static_cast<size_t>(std::max<int32_t>(1, ReceiveBufferSize()));
    // Bytes that are already waiting are taken without a wait first; only an empty socket
    // is waited for.
    bool waitFirst = false;
    while (gathered < wanted) {
      if (waitFirst && !WaitReadable(limitMs)) {
        if (LastSocketError == 0) LastSocketError = kWsaTimedOut;
        break;
      }
      const size_t piece = std::min(chunkMax, wanted - gathered);
      const ssize_t n = sockets::Recv(Handle, out + gathered, piece, MSG_DONTWAIT);
      if (n > 0) {
        gathered += static_cast<size_t>(n);
        ReportStatus(kStatusReceived, std::to_string(n));
        waitFirst = false;
        continue;
      }
      if (n == 0) {
        LastSocketError = kWsaNotConnected;
        break;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waitFirst = true;
        continue;
      }
      CheckResult(n);
      break;
    }
  }
  RaiseOnError();
  return static_cast<long>(gathered);
}

bool TBlockingSocket::ConnectWithin(const sockaddr_in& address) {
  LastSocketError = 0;
  if (sockets::Connect(Handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return true;
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    CheckResult(-1);
    return false;
  }
  if (!WaitFor(POLLOUT, TransmitTimeout)) return false;
  int error = 0;
  socklen_t length = sizeof error;
  if (sockets::GetOption(Handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    CheckResult(-1);
  } else if (error != 0) {
    LastSocketError = WinsockErrorFromErrno(error);
  }
  return LastSocketError == 0;
}

void TBlockingSocket::ConnectTo(const std::string& host, const std::string& port) {
  sockaddr_in address{};
  const int32_t resolution = FillAddress(address, host, port);
  if (resolution != 0) {
    // Never connect to the all-ones address a failed lookup leaves behind.
    LastSocketError = resolution;
  } else if (ConnectWithin(address)) {
    RecordEndpoints();
  }
  PendingInput.clear();
  RaiseOnError();
  ReportStatus(kStatusConnected, host + ":" + port);
}

int32_t TBlockingSocket::FillAddress(sockaddr_in& address, const std::string& host,
                                     const std::string& port) {
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  // A number is never a service name; looking it up would read the services file each time.
  const bool numeric = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
  const uint16_t servicePort = numeric ? 0 : sockets::ServicePort(port, ProtocolNumber);
  address.sin_port = htons(servicePort != 0 ? servicePort : DecimalPort(port));
  ReportStatus(kStatusResolving, host + ":" + port);
  int32_t code = 0;
  if (host == "255.255.255.255") {
    address.sin_addr.s_addr = INADDR_BROADCAST;
  } else {
    code = sockets::ResolveIPv4(host, address.sin_addr);
    if (code != 0) address.sin_addr.s_addr = INADDR_NONE;
  }
  ReportStatus(kStatusResolved, host + ":" + port);
  return code;
}

void TBlockingSocket::RecordEndpoints() {
  socklen_t length = sizeof LocalAddress;
  sockets::GetSockName(Handle, reinterpret_cast<sockaddr*>(&LocalAddress), &length);
  length = sizeof PeerAddress;
  sockets::GetPeerName(Handle, reinterpret_cast<sockaddr*>(&PeerAddress), &length);
}

int32_t TBlockingSocket::PendingBytes() {
  int count = 0;
  if (sockets::BytesWaiting(Handle, &count) != 0) return 0;
  return count;
}

int32_t TBlockingSocket::ReceiveBufferSize() {
  if (receiveBufferSize_ > 0) {
    LastSocketError = 0;
    return receiveBufferSize_;
  }
  int size = 0;
  socklen_t length = sizeof size;
  const int result = sockets::GetOption(Handle, SOL_SOCKET, SO_RCVBUF, &size, &length);
  CheckResult(result);
  RaiseOnError();
  if (result == 0 && size > 0) {
    receiveBufferSize_ = size;
    return size;
  }
  return 1024;
}

void TBlockingSocket::SetReceiveBufferSize(int32_t size) {
  receiveBufferSize_ = 0;
  CheckResult(sockets::SetOption(Handle, SOL_SOCKET, SO_RCVBUF, &size, sizeof size));
  RaiseOnError();
}

void TBlockingSocket::SetSendBufferSize(int32_t size) {
  CheckResult(sockets::SetOption(Handle, SOL_SOCKET, SO_SNDBUF, &size, sizeof size));
  RaiseOnError();
}

void TBlockingSocket::CheckResult(long result) {
  LastSocketError = result == -1 ? sockets::LastError() : 0;
}

void TBlockingSocket::RaiseOnError() {
  if (!RaiseOnFailure || LastSocketError == 0) return;
  const std::string text = GetErrorDesc(LastSocketError);
  throw ESocketError("TCP/IP Socket error " + std::to_string(LastSocketError) + ": " + text,
                     LastSocketError, text);
}

void TBlockingSocket::ReportStatus(uint8_t reason, const std::string& value) {
  if (StatusHook) StatusHook(*this, reason, value);
}

std::string TBlockingSocket::GetErrorDesc(int32_t code) {
  return qm::GetErrorDesc(code);
}

TTcpSocket::~TTcpSocket() {
  if (Handle != kInvalidHandle) sockets::Shutdown(Handle, SHUT_WR);
}

void TTcpSocket::AllocateSocket() {
  if (Handle != kInvalidHandle) sockets::Close(Handle);
  // Non-blocking underneath, so that connecting and sending can be limited in time; every
  // operation that blocks by contract waits with poll.
  Handle = sockets::Socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, IPPROTO_TCP);
  ProtocolNumber = IPPROTO_TCP;
  TBlockingSocket::AllocateSocket();
}

void TTcpSocket::ReleaseSocket() {
  if (Handle != kInvalidHandle) sockets::Shutdown(Handle, SHUT_WR);
  TBlockingSocket::ReleaseSocket();
}

}  // namespace qm
