#include "support/tls_certificates.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace qm::test {
namespace {

constexpr const char* kOpenssl = "openssl";

}  // namespace

TestCertificates::TestCertificates() {
  std::filesystem::create_directories(dir_.Path() / "issued");
  dir_.Write("index.txt", "");
  dir_.Write("serial", "1000\n");
  const std::string base = dir_.Path().string();
  dir_.Write("openssl.cnf",
             "[req]\ndistinguished_name = dn\nprompt = no\n"
             "[dn]\nCN = unused\n"
             "[v3_ca]\nbasicConstraints = critical,CA:TRUE\n"
             "keyUsage = critical,keyCertSign,cRLSign\nsubjectKeyIdentifier = hash\n"
             "[ca]\ndefault_ca = test_ca\n"
             "[test_ca]\ndatabase = " +
                 base +
                 "/index.txt\n"
                 "new_certs_dir = " +
                 base + "/issued\nserial = " + base +
                 "/serial\n"
                 "default_md = sha256\npolicy = any\nunique_subject = no\ncopy_extensions = none\n"
                 "[any]\ncommonName = supplied\n");
  Run({"req", "-x509", "-config", dir_.File("openssl.cnf"), "-extensions", "v3_ca", "-newkey", "ec",
       "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", dir_.File("ca.key"), "-out",
       CaFile(), "-days", "3", "-subj", "/CN=throwaway test CA"});
}

std::string TestCertificates::WriteExtensions(const std::string& name,
                                              const std::string& subjectAltNames) {
  return dir_.Write(name + ".ext",
                    "[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n"
                    "[server]\nbasicConstraints = CA:FALSE\n"
                    "keyUsage = critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage = serverAuth\nsubjectAltName = " +
                        subjectAltNames + "\n");
}

TestCertificates::Pair TestCertificates::Issue(const std::string& name,
                                               const std::string& subjectAltNames,
                                               Validity validity) {
  const Pair pair{dir_.File(name + ".pem"), dir_.File(name + ".key")};
  Run({"req", "-new", "-config", dir_.File("openssl.cnf"), "-newkey", "ec", "-pkeyopt",
       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", pair.Key, "-out",
       dir_.File(name + ".csr"), "-subj", "/CN=" + name});
  std::vector<std::string> args = {"ca",
                                   "-batch",
                                   "-notext",
                                   "-config",
                                   dir_.File("openssl.cnf"),
                                   "-in",
                                   dir_.File(name + ".csr"),
                                   "-out",
                                   pair.Certificate,
                                   "-cert",
                                   CaFile(),
                                   "-keyfile",
                                   dir_.File("ca.key"),
                                   "-extfile",
                                   WriteExtensions(name, subjectAltNames),
                                   "-extensions",
                                   "server"};
  switch (validity) {
    case Validity::Now:
      args.insert(args.end(), {"-days", "2"});
      break;
    case Validity::ExpiredLongAgo:
      args.insert(args.end(), {"-startdate", "20200101000000Z", "-enddate", "20200201000000Z"});
      break;
    case Validity::NotYetValid:
      args.insert(args.end(), {"-startdate", "20990101000000Z", "-enddate", "20990201000000Z"});
      break;
  }
  Run(args);
  return pair;
}

TestCertificates::Pair TestCertificates::SelfSigned(const std::string& name,
                                                    const std::string& subjectAltNames) {
  const Pair pair{dir_.File(name + ".pem"), dir_.File(name + ".key")};
  Run({"req", "-x509", "-config", WriteExtensions(name, subjectAltNames), "-extensions", "server",
       "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", pair.Key,
       "-out", pair.Certificate, "-days", "2", "-subj", "/CN=" + name});
  return pair;
}

void TestCertificates::Run(const std::vector<std::string>& args) {
  std::vector<std::string> all = {kOpenssl};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string log = dir_.File("openssl.log");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, kOpenssl, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run openssl");
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("openssl " + args.front() + " failed: " + TempDir::Read(log));
  }
}

}  // namespace qm::test
