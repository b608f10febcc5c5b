#pragma once
// Why a TLS connection was refused, in words a user can act on.
#include <string>

namespace qm {

enum class TTlsFailureKind {
  CertificateExpired,
  CertificateNotYetValid,
  UntrustedIssuer,  // self-signed, or an issuer the trust store does not know
  HostNameMismatch,
  CertificateRejected,  // any other reason the certificate check gave
  HandshakeFailure,
  Protocol,  // the peer does not speak TLS, or not a version both sides accept
  TimedOut,
};

// The reason of a failed certificate check from its verification result (X509_V_ERR_*).
TTlsFailureKind CertificateFailureKind(long verifyResult);

// "TLS: certificate expired" and the like, with the library's own words after a colon
// when there are any.
std::string TlsFailureText(TTlsFailureKind kind, const std::string& details = {});

}  // namespace qm
