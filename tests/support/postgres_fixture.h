#pragma once
// A PostgreSQL server of its own for a test: a cluster made by initdb in a temporary
// directory (as the postgres user when the test runs as root, which PostgreSQL refuses to
// be), started by pg_ctl on a free loopback port with password authentication, stopped and
// removed when the object goes. The password is in a password file that PGPASSFILE names
// for this process and the programs it starts.
#include <string>

#include "support/temp_dir.h"

namespace qm::test {

class PostgresServer {
 public:
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int Port() const { return port_; }
  // postgresql://qm@127.0.0.1:PORT/postgres
  std::string Url() const;
  const std::string& Password() const { return password_; }
  // Stops the server (at once, as a crash would) and starts it again on the same port.
  void Restart();
  void Stop();
  void Start();
  // Runs SQL through psql as the test's user; its output, or throws.
  std::string Psql(const std::string& sql) const;

 private:
  TempDir dir_;
  std::string data_;
  std::string bin_;
  std::string asUser_;  // "runuser -u postgres -- " when running as root
  std::string password_;
  int port_ = 0;
  bool running_ = false;
};

}  // namespace qm::test
