#pragma once
// The SQLite backend's own knobs, beyond what OpenSqliteStore(path) chooses.
#include <cstdint>
#include <memory>
#include <string>

#include "store/result_store.h"

namespace qm {

struct TSqliteStoreOptions {
  // How long a store another program is writing is waited for before giving up.
  int BusyTimeoutMs = 5000;
  // A cap on the file's size in database pages, 0 for none: reaching it is a full disk.
  int64_t MaxPages = 0;
};

// The schema version this program writes; a store of a higher one is refused.
inline constexpr int kSqliteStoreSchemaVersion = 4;

std::unique_ptr<TResultStore> OpenSqliteStore(const std::string& path,
                                              const TSqliteStoreOptions& options);

}  // namespace qm
