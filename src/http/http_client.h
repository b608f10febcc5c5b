#pragma once
// The HTTP/1.x client: one request per PerformRequest, the response's status line and
// headers in `Headers`, its body in `Document`. Before a request, `Headers` holds extra
// request lines and `Document` the request body; a client used again must have them reset
// (ResetDocument) or set anew, or the last response would be sent back.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/blocking_socket.h"
#include "http/tls_socket.h"

namespace qm {

class TConnectionPool;

// A growable byte buffer with a read position.
struct TMemoryStream {
  std::string Data;
  size_t Position = 0;

  size_t Size() const { return Data.size(); }
  void Clear() {
    Data.clear();
    Position = 0;
  }
  void Write(std::string_view bytes) {
    Data.append(bytes);
    Position = Data.size();
  }
  // The bytes from the position to the end.
  std::string_view Remaining() const {
    return std::string_view(Data).substr(std::min(Position, Data.size()));
  }
};

enum class TBodyMode : uint8_t { UntilClose = 0, ByLength = 1, Chunked = 2 };

// What the response's header lines say about the body and the connection.
struct THeaderFacts {
  TBodyMode BodyMode = TBodyMode::UntilClose;
  int32_t Length = -1;
  std::string MimeType;
  bool MimeTypeSeen = false;
  bool CloseAfter = false;
};

// Applies one response header line (as received, without its break) to `facts`.
void ApplyHeaderLine(std::string_view line, THeaderFacts& facts);
// The chunk size of a chunk-size line read as hexadecimal; 0 when it is not a number.
int32_t ParseChunkSize(std::string_view line);

class THttpClient {
 public:
  // One response body is never held beyond this; the rest is not read.
  static constexpr size_t kMaxBodyBytes = 64u << 20;
  // A response head beyond these is not read further: the body is then not read either.
  static constexpr size_t kMaxHeaderLines = 1000;
  static constexpr size_t kMaxHeaderBytes = 1u << 20;
  // The most one request may take, from connecting to the end of the body.
  static constexpr int32_t kPageTimeLimitMs = 60000;

  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  void ResetDocument();
  void ParseStatusLine(std::string_view line);
  // False when connecting or sending failed, or when not one byte of an answer came within
  // `Timeout` (LastSocketError 10060); true in every other case.
  bool PerformRequest(const std::string& method, const std::string& url);
  bool ReadBodyToClose();
  bool ReadBodyOfLength(int32_t length);
  bool ReadBodyChunked();
  // Closes a connection that holds room under its pool's host limit, so that the client
  // holds none while it waits for something else.
  void ReleaseConnection() {
    if (Pool != nullptr) CloseConnection();
  }

  // Plain TCP for http addresses; TLS once the connection for an https address is made.
  std::unique_ptr<TTlsSocket> Socket;
  TBodyMode BodyMode = TBodyMode::UntilClose;
  std::string ConnectedHost;
  std::string ConnectedPort;
  std::vector<std::string> Headers;
  TMemoryStream Document;
  std::string MimeType = "text/html";
  std::string ProtocolVersion = "1.1";
  bool KeepAlive = true;
  int32_t Timeout = 6000;
  std::string ServerHost = "localhost";
  std::string ServerPort = "80";
  std::string ProxyHost;
  std::string ProxyPort = "8080";
  std::string ProxyUser;
  std::string ProxyPassword;
  int32_t StatusCode = 0;
  std::string StatusText;
  // The body cap; a body that reaches it is delivered cut short and the connection closed.
  size_t MaxBodyBytes = kMaxBodyBytes;
  // True when the last response's body stopped at `MaxBodyBytes`.
  bool BodyCutShort = false;
  // When set, asked before the body's buffer grows, with the capacity it is to have (double
  // what it had, at least 256 KiB or else what the piece needs, at most the cap); false
  // stops the body there once what it had is full. Unset, the buffer grows as it needs
  // within the cap.
  std::function<bool(size_t capacity)> BodyGrowth;
  // Told the buffer's capacity once a growth is over: while the body moves to its larger
  // buffer, both are held, and growth asks room for both.
  std::function<void(size_t capacity)> BodyGrown;
  // True when the last response's body stopped because `BodyGrowth` refused it room.
  bool BodyCutForMemory = false;
  // Every wait of a request ends by this many ms after it began, however slowly the server
  // sends: what arrived by then is kept, as a read to the close keeps it. -1 = no limit.
  int32_t PageTimeLimit = kPageTimeLimitMs;
  // A moment no request may wait past either, for a caller whose page takes several
  // requests (redirects); none by default.
  std::chrono::steady_clock::time_point PageDeadline = std::chrono::steady_clock::time_point::max();
  // True when the last request ran into `PageTimeLimit` or `PageDeadline`.
  bool PageTimedOut = false;
  // For tests only: a CA file that replaces the system's trust store for https addresses.
  std::string TlsCaFile;
  // Where connections come from and go back to between requests, under its limit per host;
  // none: the client keeps its one connection for as long as the next request may use it.
  TConnectionPool* Pool = nullptr;

 private:
  bool PerformRequestInTime(const std::string& method, const std::string& url);
  // The connection for the request: the open one when it serves the same server and was
  // not closed meanwhile, a kept one of the pool, or a new one.
  bool OpenConnection();
  // Closes the connection, giving its room under the host limit back.
  void CloseConnection();
  // The room under the host limit, when the connection is gone.
  void DropRoom();
  // After a request: a connection the pool keeps goes back to it.
  void ReturnConnection();
  bool Connect();
  // The TLS part of connecting to an https address: the proxy tunnel, then the handshake.
  bool StartTls();
  bool SendHeaders();
  // Appends up to `count` bytes from the socket to `Document`, within the body cap.
  bool AppendFromSocket(size_t count);
  size_t BodyRoom() const;
  // How much of a `piece` the document's buffer takes now, grown as needed; 0 when
  // `BodyGrowth` refused it room.
  size_t MakeBodyRoom(size_t piece);
  bool BodyStopped() const { return BodyCutShort || BodyCutForMemory; }

  // "host:port" of the https page being fetched; empty for plain HTTP.
  std::string tlsTarget_;
  std::string tlsHost_;
  std::string tlsPort_;
  // `tlsTarget_` of the open connection; a plain connection is never reused for TLS.
  std::string connectedTls_;
  // The pool's key and host of the connection's room, while the client holds room.
  std::string poolKey_;
  std::string poolHost_;
  std::string targetHost_;
  bool holdsRoom_ = false;
  // Requests the open connection has carried.
  int connectionRequests_ = 0;
  // The request went out on a connection that had carried others; it closed before a byte
  // of the answer came, so the request may go once more on a new one.
  bool reusedConnection_ = false;
  bool staleReuse_ = false;
  bool forceNew_ = false;
  std::chrono::steady_clock::time_point requestDeadline_ =
      std::chrono::steady_clock::time_point::max();
};

}  // namespace qm
