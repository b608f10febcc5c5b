#pragma once
// Socket error codes in Winsock numbering, which the whole program speaks, and their texts.
#include <cstdint>
#include <string>

namespace qm {

// The codes the program itself sets or tests by name.
constexpr int32_t kWsaMessageTooLong = 10040;
constexpr int32_t kWsaNoBufferSpace = 10055;
constexpr int32_t kWsaNotConnected = 10057;
constexpr int32_t kWsaTimedOut = 10060;
constexpr int32_t kWsaConnectionRefused = 10061;
constexpr int32_t kWsaHostNotFound = 11001;
constexpr int32_t kWsaTryAgain = 11002;
constexpr int32_t kWsaNoRecovery = 11003;
constexpr int32_t kWsaNoData = 11004;

// The Winsock code for a POSIX errno value; an errno without a counterpart is returned as it
// stands (never 0), so GetErrorDesc shows it as "Not a Winsock error (n)".
int32_t WinsockErrorFromErrno(int error);

// The Winsock code for a getaddrinfo failure (EAI_*); `savedErrno` is used for EAI_SYSTEM.
int32_t WinsockErrorFromResolver(int eaiCode, int savedErrno);

// The text of a Winsock code, "Not a Winsock error (n)" for any code outside the table.
std::string GetErrorDesc(int32_t code);

}  // namespace qm
