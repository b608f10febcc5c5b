#pragma once
// Helpers shared by the socket and client tests of this folder.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nss.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "http/blocking_socket.h"
#include "support/closed_port.h"
#include "support/scripted_server.h"

namespace qm::test {

// Host names are looked up in /etc/hosts only, so a name that does not resolve fails here
// without a query leaving the machine.
inline void LookUpHostsInFilesOnly() {
  __nss_configure_lookup("hosts", "files");
}

inline std::unique_ptr<TTcpSocket> ConnectedSocket(int port) {
  auto socket = std::make_unique<TTcpSocket>();
  socket->AllocateSocket();
  socket->TransmitTimeout = 5000;
  socket->ConnectTo("127.0.0.1", std::to_string(port));
  EXPECT_EQ(socket->LastSocketError, 0);
  return socket;
}

// A script that sends `bytes` without reading and closes.
inline ScriptedServer::Script SendAndClose(std::string bytes) {
  return [bytes = std::move(bytes)](ScriptedConnection& c) { c.Send(bytes); };
}

}  // namespace qm::test
