#include "http/tls_socket.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

#include "http/socket_calls.h"
#include "http/socket_errors.h"
#include "http/tls_failure.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE when the peer has
// gone; this one goes through the program's socket entry points, which never do.
int BioWrite(BIO* bio, const char* data, int length) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = sockets::Send(fd, data, static_cast<size_t>(std::max(length, 0)), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int length) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = sockets::Recv(fd, data, static_cast<size_t>(std::max(length, 0)), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qm socket");
    if (m != nullptr) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_ctrl(m, BioControl);
      BIO_meth_set_create(m, BioCreate);
    }
    return m;
  }();
  return method;
}

std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

// Errors that say the peer does not speak TLS, or no version this side accepts.
bool IsProtocolReason(unsigned long error) {
  if (ERR_GET_LIB(error) != ERR_LIB_SSL) return false;
  switch (ERR_GET_REASON(error)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
      return true;
    default:
      return false;
  }
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

}  // namespace

std::shared_ptr<TTlsContext> TTlsContext::ForCaFile(const std::string& caFile,
                                                    std::string& failure) {
  static std::mutex lock;
  // Never destroyed: freeing a context after OpenSSL's own clean-up at exit is not allowed,
  // and a worker may still be fetching while the program ends.
  static auto* const contexts = new std::map<std::string, std::shared_ptr<TTlsContext>>();
  std::lock_guard<std::mutex> guard(lock);
  if (const auto found = contexts->find(caFile); found != contexts->end()) return found->second;

  ERR_clear_error();
  SSL_CTX* handle = SSL_CTX_new(TLS_client_method());
  if (handle == nullptr) {
    failure = "cannot create TLS context: " + OpenSslErrors();
    return nullptr;
  }
  auto context = std::make_shared<TTlsContext>(handle);
  SSL_CTX_set_min_proto_version(handle, TLS1_2_VERSION);
  SSL_CTX_set_verify(handle, SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_mode(handle, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  const int loaded = caFile.empty()
                         ? SSL_CTX_set_default_verify_paths(handle)
                         : SSL_CTX_load_verify_locations(handle, caFile.c_str(), nullptr);
  if (loaded != 1) {
    failure = "cannot load trust store " + caFile + ": " + OpenSslErrors();
    return nullptr;
  }
  contexts->emplace(caFile, context);
  return context;
}

TTlsContext::~TTlsContext() {
  SSL_CTX_free(handle_);
}

TTlsSocket::~TTlsSocket() {
  FreeSession(true);
}

void TTlsSocket::FreeSession(bool notifyPeer) {
  if (ssl_ == nullptr) return;
  if (notifyPeer) {
    // One try at close_notify; the socket is non-blocking, so this never waits.
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }
  SSL_free(ssl_);
  ssl_ = nullptr;
  outgoing_.clear();
  ERR_clear_error();
}

void TTlsSocket::AllocateSocket() {
  FreeSession(false);
  TTcpSocket::AllocateSocket();
}

void TTlsSocket::ReleaseSocket() {
  FreeSession(true);
  TTcpSocket::ReleaseSocket();
}

void TTlsSocket::RecordFailure(int sslError) {
  const int savedErrno = errno;
  switch (sslError) {
    case SSL_ERROR_ZERO_RETURN:
      LastSocketError = kWsaNotConnected;
      break;
    case SSL_ERROR_SYSCALL:
      LastSocketError = savedErrno != 0 ? WinsockErrorFromErrno(savedErrno) : kWsaNotConnected;
      break;
    case SSL_ERROR_SSL:
      if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        LastSocketError = kWsaNotConnected;
      } else {
        LastSocketError = kWsaConnectionAborted;
      }
      break;
    default:
      LastSocketError = kWsaConnectionAborted;
      break;
  }
  const std::string details = OpenSslErrors();
  if (!details.empty()) TlsFailure = details;
}

bool TTlsSocket::WaitForSession(int sslError, int32_t limitMs) {
  const short events = sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
  pollfd p{Handle, events, 0};
  limitMs = ClipToDeadline(limitMs);
  int ready;
  do {
    ready = sockets::Poll(&p, 1, limitMs < 0 ? -1 : limitMs);
  } while (ready < 0 && errno == EINTR);
  if (ready > 0) return true;
  LastSocketError = ready == 0 ? kWsaTimedOut : sockets::LastError();
  return false;
}

bool TTlsSocket::StartTls(const std::string& host, const std::shared_ptr<TTlsContext>& context,
                          int32_t limitMs) {
  FreeSession(false);
  LastSocketError = 0;
  TlsFailure.clear();
  BIO_METHOD* method = SocketBioMethod();
  if (!context || method == nullptr || Handle == kInvalidHandle) {
    LastSocketError = kWsaConnectionAborted;
    TlsFailure = "no TLS context or no connection";
    return false;
  }
  ERR_clear_error();
  ssl_ = SSL_new(context->Handle());
  BIO* bio = ssl_ != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) {
    RecordFailure(SSL_ERROR_SSL);
    FreeSession(false);
    return false;
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(Handle)));
  SSL_set_bio(ssl_, bio, bio);

  in_addr numeric{};
  bool named;
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
    // An address is checked against the certificate's IP entries and sent without SNI.
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named =
        SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1 && SSL_set1_host(ssl_, host.c_str()) == 1;
  }
  if (!named) {
    RecordFailure(SSL_ERROR_SSL);
    TlsFailure = "unusable host name for TLS: " + host;
    FreeSession(false);
    return false;
  }
  SSL_set_connect_state(ssl_);
  if (ResumeSession) SSL_set_session(ssl_, ResumeSession.get());

  const auto deadline =
      limitMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) break;
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (WaitForSession(error, limitMs < 0 ? -1 : RemainingMs(deadline))) continue;
      TlsFailure = TlsFailureText(TTlsFailureKind::TimedOut);
    } else {
      const long verified = SSL_get_verify_result(ssl_);
      const bool protocol = error == SSL_ERROR_SSL && IsProtocolReason(ERR_peek_last_error());
      RecordFailure(error);
      // Whatever the transport said, a handshake that did not finish is an aborted
      // connection unless the peer simply went away.
      if (LastSocketError == kWsaNotConnected || error == SSL_ERROR_SSL) {
        LastSocketError = kWsaConnectionAborted;
      }
      if (verified != X509_V_OK) {
        TlsFailure = TlsFailureText(CertificateFailureKind(verified),
                                    X509_verify_cert_error_string(verified));
      } else {
        TlsFailure = TlsFailureText(
            protocol ? TTlsFailureKind::Protocol : TTlsFailureKind::HandshakeFailure,
            TlsFailure.empty() ? "the connection was closed" : TlsFailure);
      }
    }
    FreeSession(false);
    return false;
  }
  PendingInput.clear();
  return true;
}

bool TTlsSocket::SessionResumed() const {
  return ssl_ != nullptr && SSL_session_reused(ssl_) == 1;
}

std::shared_ptr<ssl_session_st> TTlsSocket::ResumableSession() const {
  if (ssl_ == nullptr) return nullptr;
  SSL_SESSION* session = SSL_get1_session(ssl_);
  if (session == nullptr) return nullptr;
  if (SSL_SESSION_is_resumable(session) != 1) {
    SSL_SESSION_free(session);
    return nullptr;
  }
  return std::shared_ptr<ssl_session_st>(session, SSL_SESSION_free);
}

bool TTlsSocket::Flush() {
  LastSocketError = 0;
  size_t sent = 0;
  while (sent < outgoing_.size()) {
    ERR_clear_error();
    errno = 0;
    size_t written = 0;
    const int result =
        SSL_write_ex(ssl_, outgoing_.data() + sent, outgoing_.size() - sent, &written);
    if (result == 1) {
      sent += written;
      continue;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (WaitForSession(error, TransmitTimeout)) continue;
    } else {
      RecordFailure(error);
    }
    outgoing_.clear();
    return false;
  }
  outgoing_.clear();
  return true;
}

long TTlsSocket::TransmitBuffer(const void* data, long count, bool moreFollows) {
  if (ssl_ == nullptr) return TTcpSocket::TransmitBuffer(data, count, moreFollows);
  LastSocketError = 0;
  long result = 0;
  if (count > 0) {
    outgoing_.append(static_cast<const char*>(data), static_cast<size_t>(count));
    result = moreFollows || Flush() ? count : -1;
  }
  RaiseOnError();
  ReportStatus(kStatusSent, std::to_string(result));
  return result;
}

void TTlsSocket::TransmitByte(uint8_t byte) {
  if (ssl_ == nullptr) return TTcpSocket::TransmitByte(byte);
  const char c = static_cast<char>(byte);
  TransmitBuffer(&c, 1, false);
}

void TTlsSocket::TransmitText(const std::string& text, bool moreFollows) {
  if (ssl_ == nullptr) return TTcpSocket::TransmitText(text, moreFollows);
  LastSocketError = 0;
  outgoing_ += text;
  if (!moreFollows && !outgoing_.empty()) Flush();
  RaiseOnError();
  ReportStatus(kStatusSent, std::to_string(text.size()));
}

long TTlsSocket::ReadSome(void* target, size_t count, int32_t limitMs, bool peek) {
  count = std::min<size_t>(count, INT_MAX);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    size_t got = 0;
    const int result =
        peek ? SSL_peek_ex(ssl_, target, count, &got) : SSL_read_ex(ssl_, target, count, &got);
    if (result == 1) return static_cast<long>(got);
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      if (WaitForSession(error, limitMs)) continue;
      return -1;
    }
    RecordFailure(error);
    return -1;
  }
}

long TTlsSocket::ReceiveBuffer(void* target, long count) {
  if (ssl_ == nullptr) return TTcpSocket::ReceiveBuffer(target, count);
  LastSocketError = 0;
  long result = 0;
  if (count > 0) {
    const size_t fromPending = std::min(static_cast<size_t>(count), PendingInput.size());
    if (fromPending > 0) {
      std::memcpy(target, PendingInput.data(), fromPending);
      PendingInput.Consume(fromPending);
      result = static_cast<long>(fromPending);
    } else {
      result = ReadSome(target, static_cast<size_t>(count), -1);
    }
  }
  RaiseOnError();
  ReportStatus(kStatusReceived, std::to_string(result));
  return result;
}

long TTlsSocket::ReceiveBufferWithin(void* target, long count, int32_t limitMs) {
  if (ssl_ == nullptr) return TTcpSocket::ReceiveBufferWithin(target, count, limitMs);
  LastSocketError = 0;
  if (count <= 0) return 0;
  char* out = static_cast<char*>(target);
  const size_t wanted = static_cast<size_t>(count);
  size_t gathered = std::min(wanted, PendingInput.size());
  if (gathered > 0) {
    std::memcpy(out, PendingInput.data(), gathered);
    PendingInput.Consume(gathered);
  }
  while (gathered < wanted) {
    const long n = ReadSome(out + gathered, wanted - gathered, limitMs);
    if (n <= 0) break;
    gathered += static_cast<size_t>(n);
    ReportStatus(kStatusReceived, std::to_string(n));
  }
  RaiseOnError();
  return static_cast<long>(gathered);
}

uint8_t TTlsSocket::ReceiveByteWithin(int32_t limitMs) {
  if (ssl_ == nullptr) return TTcpSocket::ReceiveByteWithin(limitMs);
  uint8_t byte = 0;
  return ReceiveBufferWithin(&byte, 1, limitMs) == 1 ? byte : 0;
}

bool TTlsSocket::RefillPending(int32_t limitMs) {
  if (ssl_ == nullptr) return TTcpSocket::RefillPending(limitMs);
  constexpr long kRefillBytes = 16384;
  const long n = ReadSome(PendingInput.ReceiveArea(kRefillBytes), kRefillBytes, limitMs);
  if (n <= 0) {
    PendingInput.clear();
    return false;
  }
  PendingInput.Received(static_cast<size_t>(n));
  ReportStatus(kStatusReceived, std::to_string(n));
  return true;
}

long TTlsSocket::LookAheadBuffer(void* target, long count) {
  if (ssl_ == nullptr) return TTcpSocket::LookAheadBuffer(target, count);
  LastSocketError = 0;
  long result = 0;
  if (count > 0) {
    if (!PendingInput.empty()) {
      result = static_cast<long>(std::min(static_cast<size_t>(count), PendingInput.size()));
      std::memcpy(target, PendingInput.data(), static_cast<size_t>(result));
    } else {
      result = ReadSome(target, static_cast<size_t>(count), -1, true);
    }
  }
  RaiseOnError();
  return result;
}

uint8_t TTlsSocket::LookAheadByteWithin(int32_t limitMs) {
  if (ssl_ == nullptr) return TTcpSocket::LookAheadByteWithin(limitMs);
  LastSocketError = 0;
  uint8_t byte = 0;
  if (!PendingInput.empty()) {
    byte = static_cast<uint8_t>(PendingInput.front());
  } else if (ReadSome(&byte, 1, limitMs, true) != 1) {
    byte = 0;
  }
  RaiseOnError();
  return byte;
}

bool TTlsSocket::WaitReadable(int32_t limitMs) {
  if (ssl_ == nullptr) return TTcpSocket::WaitReadable(limitMs);
  LastSocketError = 0;
  bool readable = !PendingInput.empty() || SSL_pending(ssl_) > 0;
  const auto deadline =
      limitMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(limitMs);
  while (!readable) {
    if (!WaitForSession(SSL_ERROR_WANT_READ, limitMs < 0 ? -1 : RemainingMs(deadline))) {
      // Running out of time is no error here, as for the plain socket.
      if (LastSocketError == kWsaTimedOut) LastSocketError = 0;
      break;
    }
    uint8_t byte = 0;
    ERR_clear_error();
    errno = 0;
    size_t got = 0;
    const int result = SSL_peek_ex(ssl_, &byte, 1, &got);
    if (result == 1) {
      readable = true;
    } else {
      const int error = SSL_get_error(ssl_, result);
      // A record without data was taken in: wait on. Anything else (the peer closed, a
      // broken session) is for the next read to report.
      readable = error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
      ERR_clear_error();
    }
  }
  RaiseOnError();
  if (readable) ReportStatus(kStatusReadable, "");
  return readable;
}

}  // namespace qm
