#include "http/socket_calls.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "http/socket_errors.h"

namespace qm::sockets {

bool PrepareEntryPoints() {
  return true;
}
bool ReleaseEntryPoints() {
  return true;
}

int32_t LastError() {
  const int32_t code = WinsockErrorFromErrno(errno);
  return code != 0 ? code : kWsaNoRecovery;
}

int Socket(int domain, int type, int protocol) {
  return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

int Close(int fd) {
  return ::close(fd);
}

int Shutdown(int fd, int how) {
  return ::shutdown(fd, how);
}

int Connect(int fd, const sockaddr* address, socklen_t length) {
  return ::connect(fd, address, length);
}

ssize_t Send(int fd, const void* data, size_t length, int flags) {
  // A peer that has gone must show as an error code, not as SIGPIPE ending the program.
  return ::send(fd, data, length, flags | MSG_NOSIGNAL);
}

ssize_t Recv(int fd, void* data, size_t length, int flags) {
  return ::recv(fd, data, length, flags);
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs) {
  return ::poll(fds, count, timeoutMs);
}

int SetOption(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}

int GetOption(int fd, int level, int name, void* value, socklen_t* length) {
  return ::getsockopt(fd, level, name, value, length);
}

int GetSockName(int fd, sockaddr* address, socklen_t* length) {
  return ::getsockname(fd, address, length);
}

int GetPeerName(int fd, sockaddr* address, socklen_t* length) {
  return ::getpeername(fd, address, length);
}

int BytesWaiting(int fd, int* count) {
  return ::ioctl(fd, FIONREAD, count);
}

int32_t ResolveIPv4(const std::string& host, in_addr& address) {
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  const int savedErrno = errno;
  if (result != 0) return WinsockErrorFromResolver(result, savedErrno);
  int32_t code = kWsaNoData;
  for (const addrinfo* entry = answer; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
      code = 0;
      break;
    }
  }
  ::freeaddrinfo(answer);
  return code;
}

uint16_t ServicePort(const std::string& name, int protocol) {
  char buffer[1024];
  protoent protocolEntry{};
  protoent* protocolFound = nullptr;
  if (::getprotobynumber_r(protocol, &protocolEntry, buffer, sizeof buffer, &protocolFound) != 0 ||
      !protocolFound || !protocolFound->p_name) {
    return 0;
  }
  const std::string protocolName = protocolFound->p_name;
  servent serviceEntry{};
  servent* serviceFound = nullptr;
  if (::getservbyname_r(name.c_str(), protocolName.c_str(), &serviceEntry, buffer, sizeof buffer,
                        &serviceFound) != 0 ||
      !serviceFound) {
    return 0;
  }
  return ntohs(static_cast<uint16_t>(serviceFound->s_port));
}

}  // namespace qm::sockets
