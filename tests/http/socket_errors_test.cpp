#include "http/socket_errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "http/blocking_socket.h"

namespace qm {
namespace {

TEST(GetErrorDesc, TableAndGaps) {
  const struct {
    int32_t code;
    const char* text;
  } rows[] = {
      {0, "OK"},
      {10004, "Interrupted system call"},
      {10035, "Operation would block"},
      {10041, "Protocol wrong type for Socket"},
      {10057, "Socket is not connected"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unusable"},
      {10093, "Winsock not initialized"},
      {10101, "WSAEDISCON-10101"},
      {11001, "Host not found"},
      {11004, "Valid name, no data record of requested type"},
      // Codes outside the table and in its gaps.
      {12345, "Not a Winsock error (12345)"},
      {10072, "Not a Winsock error (10072)"},
      {10090, "Not a Winsock error (10090)"},
      {10005, "Not a Winsock error (10005)"},
      {10094, "Not a Winsock error (10094)"},
      {11000, "Not a Winsock error (11000)"},
      {11005, "Not a Winsock error (11005)"},
      {-1, "Not a Winsock error (-1)"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(GetErrorDesc(row.code), row.text) << row.code;
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(row.code), row.text) << row.code;
  }
}

TEST(WinsockErrorFromErrno, TranslatesPlatformNumbers) {
  const struct {
    int error;
    int32_t code;
  } rows[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {EAGAIN, 10035},
      {EINPROGRESS, 10036},
      {ENOTSOCK, 10038},
      {EMSGSIZE, 10040},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETUNREACH, 10051},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {ENOBUFS, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {EPIPE, 10058},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {EHOSTUNREACH, 10065},
      {EREMOTE, 10071},
      {EIO, EIO},  // no counterpart: kept, and never 0
  };
  for (const auto& row : rows) EXPECT_EQ(WinsockErrorFromErrno(row.error), row.code) << row.error;
}

TEST(WinsockErrorFromResolver, TranslatesLookupFailures) {
  EXPECT_EQ(WinsockErrorFromResolver(0, 0), 0);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_NONAME, 0), 11001);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_FAIL, 0), 11003);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_SYSTEM, 0), 11003);
}

}  // namespace
}  // namespace qm
