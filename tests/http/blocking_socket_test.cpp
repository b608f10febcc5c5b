#include "http/blocking_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "socket_test_support.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

struct LineRow {
  std::string sent;  // sent by the server, which then closes
  std::vector<std::string> lines;
};

TEST(ReceiveLineWithin, SplitsAtBreaksAndEndsWithNotConnected) {
  const LineRow rows[] = {
      {"ab\r\ncd\n", {"ab", "cd"}},
      {"ab\rcd\nef\r\n", {"ab", "ef"}},  // text after a lone CR is not part of the line
      {"\r\n\n", {"", ""}},
      {"abc", {}},  // no break before the close: the line is not delivered
      {std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
      {"\xc4\xe3\xba\xc3\r\n\xd6\xd0\n", {"\xc4\xe3\xba\xc3", "\xd6\xd0"}},
      {std::string(3000, 'x') + "\r\nz\n", {std::string(3000, 'x'), "z"}},
  };
  for (const LineRow& row : rows) {
    SCOPED_TRACE(row.sent.substr(0, 20));
    ScriptedServer server(SendAndClose(row.sent));
    auto socket = ConnectedSocket(server.Port());
    for (const std::string& expected : row.lines) {
      EXPECT_EQ(socket->ReceiveLineWithin(5000), expected);
      EXPECT_EQ(socket->LastSocketError, 0);
    }
    EXPECT_EQ(socket->ReceiveLineWithin(5000), "");
    EXPECT_EQ(socket->LastSocketError, 10057);
  }
}

TEST(ReceiveLineWithin, SilentPeerTimesOut) {
  ScriptedServer server(ScriptedServer::Silent());
  auto socket = ConnectedSocket(server.Port());
  EXPECT_EQ(socket->ReceiveLineWithin(50), "");
  EXPECT_EQ(socket->LastSocketError, 10060);
}

TEST(ReceiveLineWithin, LineArrivingInPiecesIsJoined) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.SendSlowly("hello world\r\n", 3, std::chrono::milliseconds(5));
  });
  auto socket = ConnectedSocket(server.Port());
  EXPECT_EQ(socket->ReceiveLineWithin(5000), "hello world");
}

// A line begun in the bytes already received and ended by the socket, near the limit.
TEST(ReceiveLineWithin, LineSplitBetweenPendingAndSocket) {
  struct Row {
    std::string pending;
    std::string sent;  // then the server closes
    std::vector<std::string> lines;
    int32_t error;  // of the read after the lines
  };
  const Row rows[] = {
      {"ab", "cd\r\nef\n", {"abcd", "ef"}, 10057},
      {"a\rb", "c\r\n", {"a"}, 10057},
      {"12345678", "\r\nz\n", {"12345678", "z"}, 10057},  // at the limit: still waited for
      {"1234", "56789012\n", {"123456789012"}, 10057},    // a piece with the break is taken
      {"123456789", "\r\n", {}, 10040},
      {"12345678\r\nab", "\n", {"12345678", "ab"}, 10057},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pending + "|" + row.sent);
    ScriptedServer server(SendAndClose(row.sent));
    auto socket = ConnectedSocket(server.Port());
    socket->MaxLineBytes = 8;
    socket->PendingInput.assign(row.pending.data(), row.pending.size());
    for (const std::string& expected : row.lines) {
      EXPECT_EQ(socket->ReceiveLineWithin(5000), expected);
      EXPECT_EQ(socket->LastSocketError, 0);
    }
    EXPECT_EQ(socket->ReceiveLineWithin(5000), "");
    EXPECT_EQ(socket->LastSocketError, row.error);
  }
}

TEST(ReceiveAppendWithin, AppendsPendingBytesThenTheSocketsWithinTheCapacity) {
  struct Row {
    std::string pending;
    std::string sent;  // then the server closes
    size_t count;
    std::string appended;
    int32_t error;
  };
  const Row rows[] = {
      {"abc", "", 2, "ab", 0},    {"abc", "defg", 5, "abcde", 0},
      {"", "de", 5, "de", 10057}, {"ab", "", 5, "ab", 10057},
      {"", "", 0, "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.pending + "|" + row.sent);
    ScriptedServer server(SendAndClose(row.sent));
    auto socket = ConnectedSocket(server.Port());
    socket->PendingInput.assign(row.pending.data(), row.pending.size());
    std::string target = "xx";
    target.reserve(64);
    const size_t capacity = target.capacity();
    EXPECT_EQ(socket->ReceiveAppendWithin(target, row.count, 5000),
              static_cast<long>(row.appended.size()));
    EXPECT_EQ(socket->LastSocketError, row.error);
    EXPECT_EQ(target, "xx" + row.appended);
    EXPECT_EQ(target.capacity(), capacity);
  }
}

TEST(ReceiveBufferWithin, HandsOutBytesTheLineReaderHoldsFirst) {
  ScriptedServer server(SendAndClose("line\r\n0123456789"));
  auto socket = ConnectedSocket(server.Port());
  ASSERT_EQ(socket->ReceiveLineWithin(5000), "line");
  char buffer[10] = {};
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 10, 5000), 10);
  EXPECT_EQ(socket->LastSocketError, 0);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
}

TEST(ReceiveBufferWithin, EarlyCloseDeliversWhatArrived) {
  ScriptedServer server(SendAndClose("abcd"));
  auto socket = ConnectedSocket(server.Port());
  char buffer[10] = {};
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 10, 5000), 4);
  EXPECT_EQ(socket->LastSocketError, 10057);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

TEST(ReceiveBufferWithin, SilenceAfterSomeBytesTimesOut) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.Send("ab");
    c.StaySilent();
  });
  auto socket = ConnectedSocket(server.Port());
  char buffer[10] = {};
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 10, 50), 2);
  EXPECT_EQ(socket->LastSocketError, 10060);
}

TEST(ReceiveBufferWithin, NonPositiveCountReadsNothing) {
  ScriptedServer server(SendAndClose("line\r\nrest"));
  auto socket = ConnectedSocket(server.Port());
  ASSERT_EQ(socket->ReceiveLineWithin(5000), "line");
  char buffer[4] = {};
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, -1, 5000), 0);
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 0, 5000), 0);
  EXPECT_EQ(socket->LastSocketError, 0);
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 4, 5000), 4);
  EXPECT_EQ(std::string(buffer, 4), "rest");
}

TEST(ReceiveByteWithin, ReadsOneByteThenReportsClose) {
  ScriptedServer server(SendAndClose("Z"));
  auto socket = ConnectedSocket(server.Port());
  EXPECT_EQ(socket->ReceiveByteWithin(5000), 'Z');
  EXPECT_EQ(socket->LastSocketError, 0);
  EXPECT_EQ(socket->ReceiveByteWithin(5000), 0);
  EXPECT_EQ(socket->LastSocketError, 10057);
}

TEST(WaitReadable, ClosedPeerIsReadableIdlePeerIsNot) {
  ScriptedServer closing(ScriptedServer::CloseAtOnce());
  auto closed = ConnectedSocket(closing.Port());
  ASSERT_TRUE(closing.WaitFinished(1));
  EXPECT_TRUE(closed->WaitReadable(5000));
  EXPECT_TRUE(closed->WaitReadable(0));
  EXPECT_EQ(closed->LastSocketError, 0);

  ScriptedServer silent(ScriptedServer::Silent());
  auto idle = ConnectedSocket(silent.Port());
  EXPECT_FALSE(idle->WaitReadable(0));
  EXPECT_EQ(idle->LastSocketError, 0);
}

TEST(WaitReadable, WithoutSocketFailsAtOnce) {
  TTcpSocket socket;
  EXPECT_FALSE(socket.WaitReadable(-1));
  EXPECT_NE(socket.LastSocketError, 0);
}

TEST(FillAddress, ServiceNamesNumbersAndBroadcast) {
  TTcpSocket socket;
  socket.AllocateSocket();
  sockaddr_in address{};
  EXPECT_EQ(socket.FillAddress(address, "127.0.0.1", "http"), 0);
  EXPECT_EQ(ntohs(address.sin_port), 80);
  EXPECT_EQ(address.sin_family, AF_INET);
  EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(socket.FillAddress(address, "127.0.0.1", "8080"), 0);
  EXPECT_EQ(ntohs(address.sin_port), 8080);
  EXPECT_EQ(socket.FillAddress(address, "127.0.0.1", "eighty"), 0);
  EXPECT_EQ(ntohs(address.sin_port), 0);
  EXPECT_EQ(socket.FillAddress(address, "127.0.0.1", "70000"), 0);
  EXPECT_EQ(ntohs(address.sin_port), 0);
  EXPECT_EQ(socket.FillAddress(address, "255.255.255.255", "80"), 0);
  EXPECT_EQ(address.sin_addr.s_addr, INADDR_BROADCAST);
  EXPECT_EQ(socket.FillAddress(address, "localhost", "80"), 0);
  EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
}

TEST(ConnectTo, UnresolvableHostIsHostNotFoundAndNothingIsConnected) {
  LookUpHostsInFilesOnly();
  TTcpSocket socket;
  socket.AllocateSocket();
  socket.ConnectTo("no-such-host.invalid", "80");
  EXPECT_EQ(socket.LastSocketError, 11001);
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  EXPECT_NE(getpeername(socket.Handle, reinterpret_cast<sockaddr*>(&peer), &length), 0);
}

TEST(ConnectTo, RefusedConnection) {
  ClosedPort closedPort;
  TTcpSocket socket;
  socket.AllocateSocket();
  socket.TransmitTimeout = 5000;
  socket.ConnectTo("127.0.0.1", std::to_string(closedPort.Port()));
  EXPECT_EQ(socket.LastSocketError, 10061);
  TTcpSocket blocking;  // the same without a limit
  blocking.AllocateSocket();
  blocking.ConnectTo("127.0.0.1", std::to_string(closedPort.Port()));
  EXPECT_EQ(blocking.LastSocketError, 10061);
}

TEST(ConnectTo, RecordsBothEndpoints) {
  ScriptedServer server(ScriptedServer::Silent());
  auto socket = ConnectedSocket(server.Port());
  EXPECT_EQ(ntohs(socket->PeerAddress.sin_port), server.Port());
  EXPECT_EQ(socket->PeerAddress.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  EXPECT_NE(socket->LocalAddress.sin_port, 0);
}

TEST(ConnectTo, UnansweredConnectionTimesOut) {
  // A listener whose accept queue is full drops further connection requests unanswered.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(fd);
  }
  TTcpSocket socket;
  socket.AllocateSocket();
  socket.TransmitTimeout = 200;
  const auto start = std::chrono::steady_clock::now();
  socket.ConnectTo("127.0.0.1", std::to_string(ntohs(address.sin_port)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(socket.LastSocketError, 10060);
  EXPECT_LT(took, std::chrono::seconds(5));
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST(TransmitText, SendToPeerThatNeverReadsTimesOut) {
  ScriptedServer server([](ScriptedConnection& c) { c.StaySilent(); });
  auto socket = ConnectedSocket(server.Port());
  socket->SetSendBufferSize(4096);
  socket->TransmitTimeout = 100;
  const std::string block(1 << 20, 'x');
  for (int i = 0; i < 256 && socket->LastSocketError == 0; ++i) socket->TransmitText(block);
  EXPECT_EQ(socket->LastSocketError, 10060);
}

TEST(TransmitText, SendsEveryByte) {
  const std::string text(300000, 'q');
  ScriptedServer server([&](ScriptedConnection& c) { c.ReadTotal(text.size()); });
  auto socket = ConnectedSocket(server.Port());
  socket->TransmitText(text);
  EXPECT_EQ(socket->LastSocketError, 0);
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(server.Received(0), text);
}

TEST(TransmitText, ClosedSocketIsAnErrorNotASignal) {
  TTcpSocket socket;
  socket.TransmitText("x");
  EXPECT_NE(socket.LastSocketError, 0);
}

TEST(ReleaseSocket, ForgetsTheHandle) {
  TTcpSocket socket;
  socket.AllocateSocket();
  ASSERT_NE(socket.Handle, TBlockingSocket::kInvalidHandle);
  socket.ReleaseSocket();
  EXPECT_EQ(socket.Handle, TBlockingSocket::kInvalidHandle);
  socket.ReleaseSocket();  // harmless
}

}  // namespace
}  // namespace qm::test
