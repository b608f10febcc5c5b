#pragma once
// TLS over the blocking TCP socket. Until `StartTls` succeeds the socket is the plain one;
// afterwards every send and receive goes through the TLS session with the same operations,
// the same limits on every wait and the same Winsock-numbered codes in `LastSocketError`.
#include <cstdint>
#include <memory>
#include <string>

#include "http/blocking_socket.h"

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace qm {

// A failed handshake or certificate check, and any later TLS protocol failure.
constexpr int32_t kWsaConnectionAborted = 10053;

// Peer verification set up once: the system's trust store, or a CA file (tests only).
// Contexts are shared by every socket and thread that verifies against the same store.
class TTlsContext {
 public:
  // The context for `caFile` (empty: the system's trust store), made on first use; null
  // when it cannot be made, with the reason in `failure`.
  static std::shared_ptr<TTlsContext> ForCaFile(const std::string& caFile, std::string& failure);

  explicit TTlsContext(ssl_ctx_st* handle) : handle_(handle) {}
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;
  ssl_ctx_st* Handle() const { return handle_; }

 private:
  ssl_ctx_st* handle_;
};

class TTlsSocket : public TTcpSocket {
 public:
  TTlsSocket() = default;
  ~TTlsSocket() override;

  void AllocateSocket() override;
  void ReleaseSocket() override;

  // Runs the handshake on the connected socket: SNI and certificate checks for `host`
  // (a name or a dotted address). The whole handshake is limited to `limitMs`. False with
  // `LastSocketError` set (10060 when the time ran out, else 10053 or the socket's code),
  // and the reason in `TlsFailure`.
  bool StartTls(const std::string& host, const std::shared_ptr<TTlsContext>& context,
                int32_t limitMs);
  bool TlsActive() const { return ssl_ != nullptr; }
  // True when the last handshake resumed `ResumeSession`.
  bool SessionResumed() const;
  // The session of the open connection when it can be resumed; null otherwise.
  std::shared_ptr<ssl_session_st> ResumableSession() const;

  long TransmitBuffer(const void* data, long count, bool moreFollows = false) override;
  void TransmitByte(uint8_t byte) override;
  void TransmitText(const std::string& text, bool moreFollows = false) override;
  long ReceiveBuffer(void* target, long count) override;
  long ReceiveBufferWithin(void* target, long count, int32_t limitMs) override;
  uint8_t ReceiveByteWithin(int32_t limitMs) override;
  long LookAheadBuffer(void* target, long count) override;
  uint8_t LookAheadByteWithin(int32_t limitMs) override;
  // Readable means application data waiting or the session ended; records that carry no
  // data (such as session tickets) are taken in and the wait goes on.
  bool WaitReadable(int32_t limitMs) override;

  std::string TlsFailure;
  // Offered to the server by the next handshake, which then skips the key exchange.
  std::shared_ptr<ssl_session_st> ResumeSession;

 protected:
  bool RefillPending(int32_t limitMs) override;

 private:
  void FreeSession(bool notifyPeer);
  // Sends `outgoing_` whole; false with LastSocketError on failure.
  bool Flush();
  // One SSL_read (or peek) of up to `count` bytes, waiting up to `limitMs` for each piece of
  // input; > 0 bytes, or -1 with LastSocketError set.
  long ReadSome(void* target, size_t count, int32_t limitMs, bool peek = false);
  // Waits for what the last call said it needs (read or write); false with
  // LastSocketError on timeout or failure.
  bool WaitForSession(int sslError, int32_t limitMs);
  void RecordFailure(int sslError);

  ssl_st* ssl_ = nullptr;
  // Header lines sent with `moreFollows` are gathered and go out as one record.
  std::string outgoing_;
};

}  // namespace qm
