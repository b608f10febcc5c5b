#pragma once
// The socket layer's entry points: every platform socket, resolver and poll call of the
// program goes through these functions, and platform error numbers become Winsock codes here
// and nowhere else.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::sockets {

// Makes the entry points ready; false when the socket layer is unavailable. On this platform
// the entry points are the C library's functions, always present.
bool PrepareEntryPoints();
// The counterpart run when a socket object goes; nothing to undo here.
bool ReleaseEntryPoints();

// The Winsock code of the last failed call on this thread.
int32_t LastError();

int Socket(int domain, int type, int protocol);
int Close(int fd);
int Shutdown(int fd, int how);
int Connect(int fd, const sockaddr* address, socklen_t length);
ssize_t Send(int fd, const void* data, size_t length, int flags);
ssize_t Recv(int fd, void* data, size_t length, int flags);
int Poll(pollfd* fds, nfds_t count, int timeoutMs);
int SetOption(int fd, int level, int name, const void* value, socklen_t length);
int GetOption(int fd, int level, int name, void* value, socklen_t* length);
int GetSockName(int fd, sockaddr* address, socklen_t* length);
int GetPeerName(int fd, sockaddr* address, socklen_t* length);
// FIONREAD: bytes waiting to be read; -1 on failure.
int BytesWaiting(int fd, int* count);

// Resolves an IPv4 host name (thread-safe). 0 and the address in network order on success,
// else the Winsock code of the failure.
int32_t ResolveIPv4(const std::string& host, in_addr& address);
// The port of a TCP/UDP service name from the services database, in host order; 0 when the
// name is unknown. `protocol` is an IP protocol number.
uint16_t ServicePort(const std::string& name, int protocol);

}  // namespace qm::sockets
