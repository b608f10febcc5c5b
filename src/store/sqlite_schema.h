#pragma once
// The store's tables and the steps that bring an older file up to date.
#include "store/sqlite_connection.h"

namespace qm::store {

// Tells a store of ours (or a new, empty file) from anything else, before the file is changed:
// throws for a file that is not a database, another program's database, or a store of a
// newer schema.
void CheckStoreFile(TSqliteConnection& connection);

// Brings the schema up to the version this program writes, in one transaction.
void MigrateSchema(TSqliteConnection& connection);

}  // namespace qm::store
