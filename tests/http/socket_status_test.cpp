// The raise flag, the progress hook and the socket operations the page fetch does not use.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "http/blocking_socket.h"
#include "socket_test_support.h"
#include "support/scripted_server.h"
#include "support/wait_until.h"

namespace qm::test {
namespace {

using Report = std::pair<int, std::string>;

// Records every report of a socket.
struct Recorder {
  std::vector<Report> reports;
  void Attach(TBlockingSocket& socket) {
    socket.StatusHook = [this](TBlockingSocket&, uint8_t reason, const std::string& value) {
      reports.emplace_back(reason, value);
    };
  }
  std::vector<int> Reasons() const {
    std::vector<int> reasons;
    for (const auto& report : reports) reasons.push_back(report.first);
    return reasons;
  }
};

TEST(StatusHook, ReportsInTheOrderOfTheOperations) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadUntil("two");
    c.Send("hello\r\n");
    c.ReadToClose();
  });
  const std::string where = "127.0.0.1:" + std::to_string(server.Port());
  Recorder recorder;
  {
    TTcpSocket socket;
    recorder.Attach(socket);
    socket.ReleaseSocket();
    socket.AllocateSocket();
    socket.ConnectTo("127.0.0.1", std::to_string(server.Port()));
    socket.TransmitText("one");
    socket.TransmitText("two");
    EXPECT_EQ(socket.ReceiveLineWithin(5000), "hello");
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{3, ""},
                                                     {2, ""},
                                                     {0, where},
                                                     {1, where},
                                                     {5, where},
                                                     {11, "3"},
                                                     {11, "3"},
                                                     {6, ""},
                                                     {10, "7"}}));
    recorder.reports.clear();
  }
  EXPECT_EQ(recorder.Reasons(), std::vector<int>{3});
}

TEST(StatusHook, OtherOperationsReport) {
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadTotal(1);
    c.Send("xy");
  });
  Recorder recorder;  // outlives the socket, which reports when it goes
  auto socket = ConnectedSocket(server.Port());
  recorder.Attach(*socket);
  socket->TransmitByte('!');
  EXPECT_EQ(socket->TransmitBuffer("abc", 3), 3);
  EXPECT_EQ(socket->ReceiveByteWithin(5000), 'x');
  char c = 0;
  EXPECT_EQ(socket->ReceiveBuffer(&c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(socket->ReceiveBuffer(&c, 1), 0);  // the server has closed
  EXPECT_EQ(recorder.reports,
            (std::vector<Report>{{11, "1"}, {11, "3"}, {6, ""}, {10, "1"}, {10, "1"}, {10, "0"}}));
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(server.Received(0).substr(0, 1), "!");
}

TEST(StatusHook, TimedOutWaitReportsNothing) {
  ScriptedServer server(ScriptedServer::Silent());
  Recorder recorder;  // outlives the socket, which reports when it goes
  auto socket = ConnectedSocket(server.Port());
  recorder.Attach(*socket);
  EXPECT_FALSE(socket->WaitReadable(10));
  EXPECT_EQ(socket->ReceiveByteWithin(10), 0);
  EXPECT_EQ(socket->LastSocketError, 10060);
  EXPECT_TRUE(recorder.reports.empty());
}

TEST(RaiseOnFailure, ClosedPeerRaisesNotConnected) {
  ScriptedServer server(ScriptedServer::CloseAtOnce());
  Recorder recorder;  // outlives the socket, which reports when it goes
  auto socket = ConnectedSocket(server.Port());
  recorder.Attach(*socket);
  socket->RaiseOnFailure = true;
  try {
    socket->ReceiveLineWithin(5000);
    FAIL() << "no exception";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.SocketErrorCode, 10057);
    EXPECT_EQ(error.SocketErrorText, "Socket is not connected");
    EXPECT_STREQ(error.what(), "TCP/IP Socket error 10057: Socket is not connected");
  }
  EXPECT_EQ(recorder.Reasons(), std::vector<int>{6});  // readable, then nothing received
}

TEST(RaiseOnFailure, TimedOutWaitRaises) {
  ScriptedServer server(ScriptedServer::Silent());
  auto socket = ConnectedSocket(server.Port());
  socket->RaiseOnFailure = true;
  try {
    socket->ReceiveByteWithin(10);
    FAIL() << "no exception";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.SocketErrorCode, 10060);
    EXPECT_EQ(error.SocketErrorText, "Connection timed out");
    EXPECT_STREQ(error.what(), "TCP/IP Socket error 10060: Connection timed out");
  }
  // A wait that simply runs out is no error of its own.
  EXPECT_FALSE(socket->WaitReadable(10));
}

TEST(RaiseOnFailure, RaisedErrorSuppressesTheReport) {
  ClosedPort closedPort;
  Recorder recorder;
  TTcpSocket socket;
  recorder.Attach(socket);
  socket.AllocateSocket();
  socket.RaiseOnFailure = true;
  EXPECT_THROW(socket.ConnectTo("127.0.0.1", std::to_string(closedPort.Port())), ESocketError);
  EXPECT_EQ(recorder.Reasons(), (std::vector<int>{2, 0, 1}));  // no 5
  EXPECT_EQ(socket.LastSocketError, 10061);
}

TEST(RaiseOnFailure, ReceiveByteReportsBeforeRaising) {
  ScriptedServer server(ScriptedServer::CloseAtOnce());
  Recorder recorder;  // outlives the socket, which reports when it goes
  auto socket = ConnectedSocket(server.Port());
  ASSERT_TRUE(server.WaitFinished(1));
  recorder.Attach(*socket);
  socket->RaiseOnFailure = true;
  EXPECT_THROW(socket->ReceiveByteWithin(5000), ESocketError);
  EXPECT_EQ(recorder.reports, (std::vector<Report>{{6, ""}, {10, "1"}}));
}

TEST(ReceiveBuffer, DoesNotHandOutWhatTheLineReaderHolds) {
  ScriptedServer server(SendAndClose("line\r\nrest"));
  auto socket = ConnectedSocket(server.Port());
  ASSERT_TRUE(WaitUntil([&] { return socket->PendingBytes() == 10; }));
  ASSERT_EQ(socket->ReceiveLineWithin(5000), "line");
  ASSERT_EQ(socket->PendingInput, "rest");
  char buffer[8] = {};
  EXPECT_EQ(socket->ReceiveBuffer(buffer, 8), 0);
  EXPECT_EQ(socket->LastSocketError, 10057);
  EXPECT_EQ(socket->ReceiveBufferWithin(buffer, 4, 5000), 4);
  EXPECT_EQ(std::string(buffer, 4), "rest");
}

TEST(LookAhead, LeavesTheBytesInTheSocket) {
  ScriptedServer server(SendAndClose("peek"));
  auto socket = ConnectedSocket(server.Port());
  ASSERT_TRUE(WaitUntil([&] { return socket->PendingBytes() == 4; }));
  EXPECT_EQ(socket->LookAheadByteWithin(5000), 'p');
  char buffer[4] = {};
  EXPECT_EQ(socket->LookAheadBuffer(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "peek");
  EXPECT_EQ(socket->ReceiveLineWithin(5000), "");  // no break: the close ends it
  EXPECT_EQ(socket->LastSocketError, 10057);
}

TEST(LookAhead, ClosedPeer) {
  ScriptedServer server(ScriptedServer::CloseAtOnce());
  auto socket = ConnectedSocket(server.Port());
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(socket->LookAheadByteWithin(5000), 0);
  EXPECT_EQ(socket->LastSocketError, 10057);
  char buffer[4];
  EXPECT_EQ(socket->LookAheadBuffer(buffer, 4), 0);
  EXPECT_EQ(socket->LastSocketError, 0);
}

TEST(LookAhead, SilentPeerTimesOut) {
  ScriptedServer server(ScriptedServer::Silent());
  auto socket = ConnectedSocket(server.Port());
  EXPECT_EQ(socket->LookAheadByteWithin(10), 0);
  EXPECT_EQ(socket->LastSocketError, 10060);
}

}  // namespace
}  // namespace qm::test
