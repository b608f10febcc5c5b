#pragma once
// The tables of a result store on a PostgreSQL server: those of the SQLite store (runs,
// pages, rows, same columns) and those of jobs shared by many machines.
#include "store/pg_connection.h"

namespace qm::store {

// The schema version this program writes; a database of a higher one is refused.
inline constexpr int kPgStoreSchemaVersion = 2;

// Brings the database up to the version this program writes, in one transaction under a
// lock that other programs migrating at the same moment wait for. Throws EStoreError for a
// database of a newer program or one whose tables are not ours.
void PreparePgSchema(TPgConnection& connection);

}  // namespace qm::store

namespace qm::store {

// For readers, which never make tables: true when the database holds this program's tables
// (of this version or an older one the reader still understands), false when it holds none.
// Throws EStoreError for a newer schema or tables not ours.
bool PgSchemaPresent(TPgConnection& connection);

}  // namespace qm::store
