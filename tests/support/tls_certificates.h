#pragma once
// A throwaway certificate authority made with the openssl command in its own temporary
// directory, and server certificates issued by it (or self-signed) for TLS tests.
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qm::test {

class TestCertificates {
 public:
  struct Pair {
    std::string Certificate;  // PEM file
    std::string Key;          // PEM file
  };

  // Makes the authority; throws when the openssl command fails.
  TestCertificates();

  // The authority's certificate, the CA file a client trusts.
  std::string CaFile() const { return dir_.File("ca.pem"); }
  enum class Validity { Now, ExpiredLongAgo, NotYetValid };
  // A server certificate for `subjectAltNames` (e.g. "DNS:localhost,IP:127.0.0.1"), valid
  // now, or one that expired long ago, or one valid only in years to come.
  Pair Issue(const std::string& name, const std::string& subjectAltNames,
             Validity validity = Validity::Now);
  // A certificate signed by its own key, trusted by nobody.
  Pair SelfSigned(const std::string& name, const std::string& subjectAltNames);

 private:
  void Run(const std::vector<std::string>& args);
  std::string WriteExtensions(const std::string& name, const std::string& subjectAltNames);

  TempDir dir_;
};

}  // namespace qm::test
