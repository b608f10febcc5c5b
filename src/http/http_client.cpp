#include "http/http_client.h"

#include <algorithm>
#include <chrono>

#include "http/base64.h"
#include "http/connection_pool.h"
#include "http/proxy_tunnel.h"
#include "http/socket_errors.h"
#include "http/url_parts.h"
#include "text/integer_syntax.h"
#include "text/trim.h"

namespace qm {
namespace {

constexpr int32_t kSocketBufferBytes = 65536;
// Pieces in which a body is taken into the document, so that a large announced length
// costs memory only as its bytes arrive.
constexpr size_t kBodyPieceBytes = 1u << 20;
// Empty lines skipped while looking for a status line; bounds a peer that sends nothing else.
constexpr size_t kMaxSkippedLines = 64u << 20;
// The piece asked for while reading to the close; the document grows by what arrives.
constexpr size_t kToClosePieceBytes = 64u << 10;
// The least step of a body's buffer whose growth is counted, so that a page does not ask
// its budget for every piece; a body that needs less gets what it needs.
constexpr size_t kCountedStepBytes = 256u << 10;

constexpr char AsciiUpperChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// `text` begins with `upper` (no small letters) once its small ASCII letters are capitals.
bool StartsWithUpper(std::string_view text, std::string_view upper) {
  if (text.size() < upper.size()) return false;
  for (size_t i = 0; i < upper.size(); ++i) {
    if (AsciiUpperChar(text[i]) != upper[i]) return false;
  }
  return true;
}

bool ContainsUpper(std::string_view text, std::string_view upper) {
  for (size_t at = 0; at + upper.size() <= text.size(); ++at) {
    if (StartsWithUpper(text.substr(at), upper)) return true;
  }
  return false;
}

// TextAfter without a copy.
std::string_view ViewAfter(std::string_view value, std::string_view delimiter) {
  const size_t at = value.find(delimiter);
  return TrimView(at == std::string_view::npos ? value : value.substr(at + delimiter.size()));
}

// TextBefore without a copy.
std::string_view ViewBefore(std::string_view value, std::string_view delimiter) {
  return TrimView(value.substr(0, value.find(delimiter)));
}

}  // namespace

void ApplyHeaderLine(std::string_view line, THeaderFacts& facts) {
  if (StartsWithUpper(line, "CONTENT-LENGTH:")) {
    facts.Length = ParseHttpNumber(ViewAfter(line, " ")).value_or(-1);
    facts.BodyMode = TBodyMode::ByLength;
  } else if (StartsWithUpper(line, "CONTENT-TYPE:")) {
    facts.MimeType.assign(ViewAfter(line, " "));
    facts.MimeTypeSeen = true;
  } else if (StartsWithUpper(line, "TRANSFER-ENCODING:")) {
    if (ContainsUpper(ViewAfter(line, " "), "CHUNKED")) facts.BodyMode = TBodyMode::Chunked;
  } else if (StartsWithUpper(line, "CONNECTION: CLOSE")) {
    facts.CloseAfter = true;
  }
}

int32_t ParseChunkSize(std::string_view line) {
  return ParseHttpNumber("$" + TextBefore(line, " ")).value_or(0);
}

THttpClient::THttpClient() : Socket(std::make_unique<TTlsSocket>()) {
  ResetDocument();
}

THttpClient::~THttpClient() {
  DropRoom();
}

void THttpClient::ResetDocument() {
  Document.Clear();
  Headers.clear();
  MimeType = "text/html";
}

void THttpClient::ParseStatusLine(std::string_view line) {
  const std::string_view rest = ViewAfter(line, " ");
  StatusCode = ParseHttpNumber(ViewBefore(rest, " ")).value_or(0);
  const std::string_view text = ViewAfter(rest, " ");
  if (text == rest) {
    StatusText.clear();
  } else {
    StatusText.assign(text);
  }
}

bool THttpClient::Connect() {
  Socket->ReleaseSocket();
  Socket->AllocateSocket();
  if (Socket->LastSocketError == 0) {
    Socket->SetSendBufferSize(kSocketBufferBytes);
    Socket->SetReceiveBufferSize(kSocketBufferBytes);
    Socket->TransmitTimeout = Timeout;
    Socket->ConnectTo(ServerHost, ServerPort);
  }
  if (Socket->LastSocketError == 0 && !tlsTarget_.empty()) StartTls();
  if (Socket->LastSocketError != 0) {
    if (!tlsTarget_.empty()) Socket->ReleaseSocket();
    connectedTls_.clear();
    // The socket is gone; nothing may be reused under the old name.
    ConnectedHost.clear();
    ConnectedPort.clear();
    DropRoom();
    return false;
  }
  ConnectedHost = ServerHost;
  ConnectedPort = ServerPort;
  connectedTls_ = tlsTarget_;
  connectionRequests_ = 0;
  return true;
}

void THttpClient::DropRoom() {
  if (!holdsRoom_) return;
  holdsRoom_ = false;
  Pool->Closed(poolHost_);
}

void THttpClient::CloseConnection() {
  Socket->ReleaseSocket();
  ConnectedHost.clear();
  ConnectedPort.clear();
  connectedTls_.clear();
  DropRoom();
}

bool THttpClient::OpenConnection() {
  reusedConnection_ = false;
  const bool sameServer = !ConnectedHost.empty() && ConnectedHost == ServerHost &&
                          ConnectedPort == ServerPort && connectedTls_ == tlsTarget_;
  // A kept connection that is readable before the request was closed by its server, or
  // holds bytes nobody asked for.
  if (sameServer && !forceNew_ && !Socket->WaitReadable(0)) {
    reusedConnection_ = true;
    return true;
  }
  if (Pool == nullptr) return Connect();
  CloseConnection();
  const std::string key = (tlsTarget_.empty() ? "http://" : "https://" + tlsTarget_ + "@") +
                          AsciiLower(ServerHost) + ":" + ServerPort;
  TConnectionPool::TLease lease = Pool->Acquire(key, targetHost_, requestDeadline_);
  if (!lease.Granted) {
    Socket->LastSocketError = kWsaTimedOut;
    return false;
  }
  holdsRoom_ = true;
  poolKey_ = key;
  poolHost_ = targetHost_;
  if (lease.Socket && !forceNew_) {
    Socket = std::move(lease.Socket);
    Socket->Deadline = requestDeadline_;
    Socket->MaxLineBytes = kMaxHeaderBytes;
    Socket->TlsFailure.clear();
    ConnectedHost = ServerHost;
    ConnectedPort = ServerPort;
    connectedTls_ = tlsTarget_;
    connectionRequests_ = lease.Requests;
    reusedConnection_ = true;
    return true;
  }
  // The room of a kept connection not taken is ours for the new one.
  lease.Socket.reset();
  Socket->Deadline = requestDeadline_;
  Socket->MaxLineBytes = kMaxHeaderBytes;
  return Connect();
}

void THttpClient::ReturnConnection() {
  if (!holdsRoom_ || ConnectedHost.empty() || !Pool->Options().KeepAlive) return;
  if (Socket->TlsActive()) Pool->KeepSession(poolKey_, Socket->ResumableSession());
  holdsRoom_ = false;
  Pool->GiveBack(poolKey_, poolHost_, std::move(Socket), connectionRequests_);
  Socket = std::make_unique<TTlsSocket>();
  ConnectedHost.clear();
  ConnectedPort.clear();
  connectedTls_.clear();
}

bool THttpClient::StartTls() {
  if (!ProxyHost.empty() &&
      !OpenProxyTunnel(*Socket, tlsHost_, tlsPort_, ProxyUser, ProxyPassword, Timeout)) {
    return false;
  }
  std::string failure;
  const std::shared_ptr<TTlsContext> context = TTlsContext::ForCaFile(TlsCaFile, failure);
  Socket->ResumeSession = holdsRoom_ ? Pool->Session(poolKey_) : nullptr;
  const bool started = Socket->StartTls(tlsHost_, context, Timeout);
  Socket->ResumeSession = nullptr;
  if (!started && !failure.empty()) Socket->TlsFailure = failure;
  if (started && holdsRoom_ && Socket->SessionResumed()) Pool->NoteResumed();
  return Socket->LastSocketError == 0;
}

bool THttpClient::SendHeaders() {
  // The head in one send: one segment, and one system call rather than one a line.
  const size_t count = ProtocolVersion == "0.9" ? 1 : Headers.size();
  std::string head;
  for (size_t i = 0; i < count; ++i) head.append(Headers[i]).append("\r\n");
  Socket->TransmitText(head);
  return Socket->LastSocketError == 0;
}

size_t THttpClient::BodyRoom() const {
  return Document.Size() >= MaxBodyBytes ? 0 : MaxBodyBytes - Document.Size();
}

size_t THttpClient::MakeBodyRoom(size_t piece) {
  std::string& data = Document.Data;
  const size_t before = data.size();
  if (!BodyGrowth) {
    if (before + piece > data.capacity() && data.capacity() >= kBodyPieceBytes) {
      // A large body gets room for the whole cap at once: pages are only taken up as bytes
      // arrive, and no doubling ever holds an old copy next to the new one.
      data.reserve(std::min(MaxBodyBytes, std::max(kMaxBodyBytes, 2 * data.capacity())) + 2);
    }
    return piece;
  }
  // Counted growth: the capacity is ours to choose, in steps, with room for the break a body
  // read to the close gets at its end; the piece is what fits.
  const size_t needed = before + piece + 2;
  if (needed <= data.capacity()) return piece;
  // A small body (most pages, sent with their length) gets the buffer it needs: a whole
  // step would be mapped and unmapped for every page, and copied to shrink it.
  const size_t step = needed < kCountedStepBytes ? needed : kCountedStepBytes;
  const size_t capacity = std::min(MaxBodyBytes + 2, std::max(2 * data.capacity(), step));
  // A buffer that has grown big is held twice while it moves: both are asked for.
  const size_t moving = data.capacity() >= kCountedStepBytes ? data.capacity() : 0;
  if (capacity > data.capacity() && BodyGrowth(moving + capacity)) {
    data.reserve(capacity);
    if (BodyGrown) BodyGrown(data.capacity());
  }
  // What is left of the buffer is still filled when it may not grow.
  return data.capacity() >= before + 2 ? std::min(piece, data.capacity() - before - 2) : 0;
}

bool THttpClient::AppendFromSocket(size_t count) {
  while (count > 0) {
    const size_t room = BodyRoom();
    if (room == 0) {
      BodyCutShort = true;
      return false;
    }
    const size_t piece = MakeBodyRoom(std::min({count, room, kBodyPieceBytes}));
    if (piece == 0) {
      BodyCutForMemory = true;
      return false;
    }
    const long got = Socket->ReceiveAppendWithin(Document.Data, piece, Timeout);
    count -= static_cast<size_t>(std::max(0L, got));
    if (Socket->LastSocketError != 0) return false;
  }
  return true;
}

bool THttpClient::ReadBodyToClose() {
  // Raw bytes to the end of the stream: the last line is kept even without a break, and
  // a lone CR or a NUL inside a line loses nothing.
  while (AppendFromSocket(kToClosePieceBytes)) {
  }
  // The end of the stream closes the last line, as a line read there always did.
  Document.Write("\r\n");
  return true;
}

bool THttpClient::ReadBodyOfLength(int32_t length) {
  if (length <= 0) return true;
  AppendFromSocket(static_cast<size_t>(length));
  return Socket->LastSocketError == 0 && !BodyStopped();
}

bool THttpClient::ReadBodyChunked() {
  bool followable = true;
  for (;;) {
    std::string line = Socket->ReceiveLineWithin(Timeout);
    if (Socket->LastSocketError != 0) break;
    if (line.empty()) {
      line = Socket->ReceiveLineWithin(Timeout);
      if (Socket->LastSocketError != 0) break;
    }
    const int32_t size = ParseChunkSize(line);
    if (size == 0) break;
    if (size < 0) {
      // A size beyond the 32-bit range: the stream cannot be followed any further.
      followable = false;
      break;
    }
    if (!ReadBodyOfLength(size)) break;
  }
  return Socket->LastSocketError == 0 && !BodyStopped() && followable;
}

bool THttpClient::PerformRequest(const std::string& method, const std::string& url) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      std::min(PageDeadline, PageTimeLimit < 0
                                 ? Clock::time_point::max()
                                 : Clock::now() + std::chrono::milliseconds(PageTimeLimit));
  // The socket outlives the request (a kept connection): its limits are ours only meanwhile.
  // A connection taken from the pool gets them as it is taken.
  struct RequestLimits {
    THttpClient& client;
    RequestLimits(THttpClient& c, Clock::time_point deadline) : client(c) {
      client.requestDeadline_ = deadline;
      client.Socket->Deadline = deadline;
      client.Socket->MaxLineBytes = kMaxHeaderBytes;
    }
    ~RequestLimits() {
      client.requestDeadline_ = Clock::time_point::max();
      client.Socket->Deadline = Clock::time_point::max();
      client.Socket->MaxLineBytes = TBlockingSocket::kMaxLineBytes;
    }
  } limits(*this, deadline);
  // Only a request that may safely be sent twice is sent again.
  const bool repeatable = method == "GET" || method == "HEAD";
  std::vector<std::string> requestHeaders;
  std::string requestBody;
  if (repeatable) {
    requestHeaders = Headers;
    requestBody = Document.Data;
  }
  const std::string requestMime = MimeType;
  staleReuse_ = false;
  forceNew_ = false;
  bool performed = PerformRequestInTime(method, url);
  if (staleReuse_ && repeatable && Clock::now() < deadline) {
    Headers = std::move(requestHeaders);
    Document.Clear();
    Document.Write(requestBody);
    MimeType = requestMime;
    if (Pool != nullptr) Pool->NoteRetry();
    forceNew_ = true;
    performed = PerformRequestInTime(method, url);
    forceNew_ = false;
  }
  staleReuse_ = false;
  if (Pool != nullptr) ReturnConnection();
  PageTimedOut = Clock::now() >= deadline;
  return performed;
}

bool THttpClient::PerformRequestInTime(const std::string& method, const std::string& url) {
  StatusCode = 500;
  StatusText.clear();
  BodyCutShort = false;
  BodyCutForMemory = false;
  const TUrlParts parts = SplitUrl(url);
  const bool secure = AsciiUpper(parts.Protocol) == "HTTPS";
  tlsHost_ = secure ? parts.Host : std::string();
  tlsPort_ = secure ? parts.Port : std::string();
  tlsTarget_ = secure ? parts.Host + ":" + parts.Port : std::string();
  // Through a tunnel the proxy sees only the CONNECT: the request is the one the server
  // itself would get, and the proxy's credentials stay with the CONNECT.
  const bool viaProxy = !ProxyHost.empty() && !secure;

  const bool hasBody = Document.Size() > 0;
  const bool expecting = hasBody && ProtocolVersion == "1.1";
  std::vector<std::string> head;
  if (expecting) head.push_back("Expect: 100-continue");
  if (hasBody) {
    head.push_back("Content-Length: " + std::to_string(Document.Size()));
    if (!MimeType.empty()) head.push_back("Content-Type: " + MimeType);
  }
  if (!KeepAlive) head.push_back("Connection: close");
  if (!parts.User.empty()) {
    head.push_back("Authorization: Basic " + EncodeBase64(parts.User + ":" + parts.Password));
  }
  if (viaProxy && !ProxyUser.empty()) {
    head.push_back("Proxy-Authorization: Basic " + EncodeBase64(ProxyUser + ":" + ProxyPassword));
  }
  // Whatever an address holds, no blank or control byte reaches the request line.
  const std::string host = EncodeRequestHost(parts.Host);
  head.push_back("Host: " + host + ":" + EncodeRequestHost(parts.Port));
  std::string requestUri = EncodeRequestTarget(parts.RequestUri);
  if (viaProxy) {
    requestUri = EncodeRequestHost(parts.Protocol) + "://" + host + ":" +
                 EncodeRequestHost(parts.Port) + requestUri;
  }
  if (requestUri == "/*") requestUri = "*";
  head.push_back(ProtocolVersion == "0.9"
                     ? AsciiUpper(method) + " " + requestUri
                     : AsciiUpper(method) + " " + requestUri + " HTTP/" + ProtocolVersion);
  // Each line above went to the top in turn, so they read in reverse before the caller's.
  std::reverse(head.begin(), head.end());
  Headers.insert(Headers.begin(), head.begin(), head.end());
  if (!Headers.back().empty()) Headers.emplace_back();

  ServerHost = ProxyHost.empty() ? parts.Host : ProxyHost;
  ServerPort = ProxyHost.empty() ? parts.Port : ProxyPort;
  targetHost_ = AsciiLower(parts.Host);

  if (!OpenConnection()) return false;
  ++connectionRequests_;

  if (!SendHeaders()) {
    if (reusedConnection_) {
      CloseConnection();
      staleReuse_ = true;
    }
    return false;
  }

  std::string status;
  if (expecting) {
    std::string line;
    size_t skipped = 0;
    do {
      line = Socket->ReceiveLineWithin(Timeout);
    } while (line.empty() && Socket->LastSocketError == 0 && ++skipped < kMaxSkippedLines);
    ParseStatusLine(line);
    if (StatusCode < 100 || StatusCode > 199) {
      status = line;
    } else {
      size_t dropped = 0;
      while (!Socket->ReceiveLineWithin(Timeout).empty() && Socket->LastSocketError == 0 &&
             ++dropped < kMaxSkippedLines) {
      }
      Socket->TransmitBuffer(Document.Data.data(), static_cast<long>(Document.Size()));
      if (Socket->LastSocketError != 0) return false;
    }
  } else if (hasBody) {
    Socket->TransmitBuffer(Document.Data.data(), static_cast<long>(Document.Size()));
    if (Socket->LastSocketError != 0) return false;
  }

  ResetDocument();
  BodyMode = TBodyMode::UntilClose;
  THeaderFacts facts;
  // Where a line that did not arrive whole is gathered.
  std::string spill;
  if (!status.empty()) {
    Headers.push_back(status);
  } else {
    std::string_view raw;
    std::string_view line;
    size_t skipped = 0;
    do {
      raw = Socket->ReceiveRawLineView(Timeout, spill);
      line = TextBeforeBreak(raw);
    } while (line.empty() && Socket->LastSocketError == 0 && ++skipped < kMaxSkippedLines);
    if (raw.empty() && skipped == 0 && Socket->LastSocketError == kWsaTimedOut) {
      // Not one byte of an answer within the limit: waiting a second time for a body to
      // the close would only double what a silent server costs.
      CloseConnection();
      Socket->LastSocketError = kWsaTimedOut;
      StatusCode = 0;
      return false;
    }
    if (raw.empty() && skipped == 0 && reusedConnection_ && Socket->LastSocketError != 0) {
      // A kept connection the server closed as the request went out: no answer was begun.
      const int32_t error = Socket->LastSocketError;
      CloseConnection();
      Socket->LastSocketError = error;
      staleReuse_ = true;
      StatusCode = 0;
      return false;
    }
    if (StartsWithUpper(line, "HTTP/") && Socket->LastSocketError == 0) {
      Headers.emplace_back(line);
      ParseStatusLine(line);
    } else {
      // No status line: what came is the body's first line, kept whole.
      Document.Write(raw);
      if (raw.empty() || raw.back() != '\n') Document.Write("\r\n");
      StatusCode = 0;
    }
  }

  facts.CloseAfter = ProtocolVersion != "1.1";
  bool headersCutShort = false;
  if (!Headers.empty()) {
    size_t headerBytes = 0;
    for (;;) {
      const std::string_view line = Socket->ReceiveLineView(Timeout, spill);
      headerBytes += line.size() + 2;
      const bool end = line.empty();
      if (Socket->LastSocketError == kWsaMessageTooLong) {
        // The rest of that line must not be taken for the body.
        headersCutShort = true;
        break;
      }
      Headers.emplace_back(line);
      if (end || Socket->LastSocketError != 0) break;
      ApplyHeaderLine(line, facts);
      if (headerBytes > kMaxHeaderBytes || Headers.size() > kMaxHeaderLines) {
        headersCutShort = true;
        break;
      }
    }
  }
  BodyMode = facts.BodyMode;
  if (facts.MimeTypeSeen) MimeType = facts.MimeType;

  bool bodyComplete = true;
  if (headersCutShort) {
    bodyComplete = false;
  } else if (method != "HEAD" && StatusCode != 204 && StatusCode != 304) {
    switch (BodyMode) {
      case TBodyMode::UntilClose:
        ReadBodyToClose();
        bodyComplete = false;
        break;
      case TBodyMode::ByLength:
        bodyComplete = ReadBodyOfLength(facts.Length);
        break;
      case TBodyMode::Chunked:
        bodyComplete = ReadBodyChunked();
        break;
    }
  }

  Document.Position = 0;
  // A connection whose response was not read to its end cannot carry another request.
  if (facts.CloseAfter || !bodyComplete) CloseConnection();
  return true;
}

}  // namespace qm
