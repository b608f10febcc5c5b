// The two test servers themselves, driven by a plain socket, so that a fault in them is not
// mistaken for a fault in the client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/nginx_fixture.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

// Sends `request`, reads to the close.
std::string Exchange(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
      reply.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return reply;
}

TEST(TestServers, ScriptedServerReplaysAndRecords) {
  ScriptedServer server(ScriptedServer::Replay("HTTP/1.0 200 OK\r\n\r\nbody"));
  EXPECT_EQ(Exchange(server.Port(), "GET / HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\r\n\r\nbody");
  ASSERT_TRUE(server.WaitFinished(1));
  EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(TestServers, SilentScriptEndsWhenServerIsDestroyed) {
  auto server = std::make_unique<ScriptedServer>(ScriptedServer::Silent());
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server->Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_TRUE(server->WaitReceived(0, ""));
  server.reset();  // must not hang on the silent connection
  char byte;
  EXPECT_EQ(recv(fd, &byte, 1, 0), 0);
  close(fd);
}

TEST(TestServers, NginxServesWrittenFiles) {
  NginxServer nginx;
  nginx.WriteFile("dir/a.html", "hello");
  const std::string reply =
      Exchange(nginx.Port(), "GET /dir/a.html HTTP/1.0\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.substr(reply.size() - 5), "hello");
  EXPECT_EQ(nginx.Url("a.html"), "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/a.html");
}

}  // namespace
}  // namespace qm::test
