#pragma once
// The result store on a PostgreSQL server: the SQLite store's runs, pages and rows, written
// by any number of machines at once.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "store/result_store.h"

namespace qm {

struct TPgStoreOptions {
  // Names this writer among the machines writing one run (its counts are kept apart).
  std::string WriterName;
  // How long a lost server is waited for before a write fails.
  std::chrono::milliseconds Patience = std::chrono::minutes(10);
  // Told of each loss of the server, before the store waits for it to come back.
  std::function<void(const std::string&)> OnLost;
  // Off for readers: a database without our tables is refused, never given them.
  bool Prepare = true;
};

// Connects to the server `url` (postgresql://USER@HOST:PORT/DATABASE, the password from
// PGPASSWORD or ~/.pgpass) and brings its tables up to date. Throws EStoreError.
std::unique_ptr<TResultStore> OpenPostgresStore(const std::string& url,
                                                const TPgStoreOptions& options = {});

// The name a machine's process goes by: host name and process id.
std::string DefaultWriterName();

}  // namespace qm
