#pragma once
// The blocking IPv4 TCP socket the HTTP client talks through. Every operation records a
// Winsock error code in `LastSocketError` (0 = success) instead of failing loudly, unless
// the owner sets `RaiseOnFailure`.
#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "http/pending_bytes.h"
#include "text/errors.h"

namespace qm {

// A socket failure raised because the owner set `RaiseOnFailure`; the message is the text
// the user sees.
class ESocketError : public EAppError {
 public:
  ESocketError(const std::string& message, int32_t code, std::string text)
      : EAppError(message), SocketErrorCode(code), SocketErrorText(std::move(text)) {}
  int32_t SocketErrorCode;
  std::string SocketErrorText;
};

// Reasons passed to `StatusHook`.
enum : uint8_t {
  kStatusResolving = 0,
  kStatusResolved = 1,
  kStatusAllocated = 2,
  kStatusReleased = 3,
  kStatusConnected = 5,
  kStatusReadable = 6,
  kStatusReceived = 10,
  kStatusSent = 11,
};

// What the socket layer's start-up filled in; kept for owners that show it.
struct TStartupInfo {
  uint16_t Version = 0x0101;
  uint16_t HighVersion = 0x0101;
  std::string Description = "POSIX sockets";
};

class TBlockingSocket {
 public:
  using TStatusHook =
      std::function<void(TBlockingSocket& socket, uint8_t reason, const std::string& value)>;

  static constexpr int kInvalidHandle = -1;
  // A line longer than this is not waited for to its end: the read fails with 10040, so a
  // peer that never sends a line break cannot exhaust memory.
  static constexpr size_t kMaxLineBytes = 64u << 20;

  TBlockingSocket();
  virtual ~TBlockingSocket();
  TBlockingSocket(const TBlockingSocket&) = delete;
  TBlockingSocket& operator=(const TBlockingSocket&) = delete;

  virtual void AllocateSocket();
  virtual void ReleaseSocket();
  // Sends all `count` bytes; returns the number sent, or -1 when the sending failed.
  // `moreFollows` lets the kernel hold a small piece back until the next send completes it.
  virtual long TransmitBuffer(const void* data, long count, bool moreFollows = false);
  virtual void TransmitByte(uint8_t byte);
  virtual void TransmitText(const std::string& text, bool moreFollows = false);
  // One receive straight from the socket (blocking), ignoring `PendingInput`.
  virtual long ReceiveBuffer(void* target, long count);
  virtual long ReceiveBufferWithin(void* target, long count, int32_t limitMs);
  virtual uint8_t ReceiveByteWithin(int32_t limitMs);
  virtual std::string ReceiveLineWithin(int32_t limitMs);
  virtual long LookAheadBuffer(void* target, long count);
  virtual uint8_t LookAheadByteWithin(int32_t limitMs);

  // The bytes of one line as they arrived, its break included. On error (LastSocketError
  // not 0) the bytes gathered so far, without a break.
  virtual std::string ReceiveRawLineWithin(int32_t limitMs);
  // The same line without a copy: a view of the pending bytes when the whole line is there,
  // else of `spill`, where it is gathered. Valid until the next read or change of `spill`.
  std::string_view ReceiveRawLineView(int32_t limitMs, std::string& spill);
  // The line as ReceiveLineWithin gives it, as a view like ReceiveRawLineView's.
  std::string_view ReceiveLineView(int32_t limitMs, std::string& spill);
  // Appends up to `count` bytes to `target` as ReceiveBufferWithin would write them there.
  // Pending bytes are appended as they are: room made in a string is zero-filled first, so
  // only what the socket has yet to bring gets such room.
  long ReceiveAppendWithin(std::string& target, size_t count, int32_t limitMs);

  void ConnectTo(const std::string& host, const std::string& port);
  // -1 waits without limit. A timeout is no error: false with `LastSocketError` 0.
  virtual bool WaitReadable(int32_t limitMs);
  // Fills `address` for host and port; returns 0, or the Winsock code of a failed lookup
  // (the address then stays 255.255.255.255 and must not be connected to).
  int32_t FillAddress(sockaddr_in& address, const std::string& host, const std::string& port);
  int32_t PendingBytes();
  int32_t ReceiveBufferSize();
  void SetReceiveBufferSize(int32_t size);
  void SetSendBufferSize(int32_t size);
  void CheckResult(long result);
  void RaiseOnError();
  void ReportStatus(uint8_t reason, const std::string& value);
  static std::string GetErrorDesc(int32_t code);

  TStatusHook StatusHook;
  TStartupInfo StartupInfo;
  sockaddr_in LocalAddress{};
  sockaddr_in PeerAddress{};
  int32_t LastSocketError = 0;
  TPendingBytes PendingInput;
  bool RaiseOnFailure = false;
  int Handle = kInvalidHandle;
  int32_t ProtocolNumber = 0;
  // The limit of connecting and of each wait while sending, in ms; -1 = none.
  int32_t TransmitTimeout = -1;
  // The longest line the line reads wait for (at most kMaxLineBytes).
  size_t MaxLineBytes = kMaxLineBytes;
  // Every wait ends by this moment, whatever its own limit says, and fails as a timeout:
  // the owner's bound on a whole exchange that a peer trickling bytes cannot stretch.
  std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();

  // `limitMs` (-1 = none) cut to the time left before `Deadline`.
  int32_t ClipToDeadline(int32_t limitMs) const;

 protected:
  void RecordEndpoints();
  // Refills the empty `PendingInput` for the line reader; false on error.
  virtual bool RefillPending(int32_t limitMs);

 private:
  long SendAll(const char* data, size_t count, bool moreFollows);
  bool ConnectWithin(const sockaddr_in& address);
  // Waits for `events` up to `limitMs` (-1 = no limit); on timeout or failure sets
  // LastSocketError and answers false.
  bool WaitFor(short events, int32_t limitMs);
  // recv on the non-blocking handle with the waiting of a blocking one.
  ssize_t RecvBlocking(void* target, size_t count, int flags);

  // SO_RCVBUF as last queried for the current handle; 0 = not known.
  int32_t receiveBufferSize_ = 0;
};

// The text of a received line before its first CR or LF.
std::string_view TextBeforeBreak(std::string_view line);

class TTcpSocket : public TBlockingSocket {
 public:
  TTcpSocket() = default;
  ~TTcpSocket() override;
  void AllocateSocket() override;
  void ReleaseSocket() override;
};

}  // namespace qm
