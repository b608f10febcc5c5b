#include "http/tls_failure.h"

#include <openssl/x509_vfy.h>

namespace qm {

TTlsFailureKind CertificateFailureKind(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return TTlsFailureKind::CertificateExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return TTlsFailureKind::CertificateNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return TTlsFailureKind::UntrustedIssuer;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return TTlsFailureKind::HostNameMismatch;
    default:
      return TTlsFailureKind::CertificateRejected;
  }
}

std::string TlsFailureText(TTlsFailureKind kind, const std::string& details) {
  const char* reason = "";
  switch (kind) {
    case TTlsFailureKind::CertificateExpired:
      reason = "certificate expired";
      break;
    case TTlsFailureKind::CertificateNotYetValid:
      reason = "certificate not yet valid";
      break;
    case TTlsFailureKind::UntrustedIssuer:
      reason = "self-signed certificate or unknown issuer";
      break;
    case TTlsFailureKind::HostNameMismatch:
      reason = "certificate does not match the host name";
      break;
    case TTlsFailureKind::CertificateRejected:
      reason = "certificate rejected";
      break;
    case TTlsFailureKind::HandshakeFailure:
      reason = "handshake failure";
      break;
    case TTlsFailureKind::Protocol:
      reason = "protocol error";
      break;
    case TTlsFailureKind::TimedOut:
      reason = "handshake timed out";
      break;
  }
  std::string text = std::string("TLS: ") + reason;
  if (!details.empty()) text += " (" + details + ")";
  return text;
}

}  // namespace qm
