#pragma once
// A thin owner of one SQLite connection and its prepared statements, turning every failure
// into an EStoreError that names the file.
#include <cstdint>
#include <string>
#include <string_view>

#include "store/result_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qm::store {

class TSqliteConnection;

// A statement prepared once and run many times. Text is bound without a copy: it must stay
// alive until the statement has been stepped.
class TStatement {
 public:
  TStatement() = default;
  TStatement(TSqliteConnection& connection, std::string_view sql);
  ~TStatement();
  TStatement(TStatement&& other) noexcept;
  TStatement& operator=(TStatement&& other) noexcept;
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  void Bind(int index, int64_t value);
  void Bind(int index, std::string_view text);
  void BindNull(int index);
  // True while there is a row to read; throws on a failure.
  bool Step();
  // Steps a statement that returns no rows, then resets it.
  void Run();
  void Reset();

  int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  TSqliteConnection* connection_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

// Resets a statement when it goes out of scope, so that a read that stops early (or
// throws) does not keep its snapshot of the database open.
class TResetOnExit {
 public:
  explicit TResetOnExit(TStatement& statement) : statement_(statement) {}
  ~TResetOnExit() { statement_.Reset(); }
  TResetOnExit(const TResetOnExit&) = delete;
  TResetOnExit& operator=(const TResetOnExit&) = delete;

 private:
  TStatement& statement_;
};

class TSqliteConnection {
 public:
  // Opens `path` for reading and writing; `create` makes the file when it is missing.
  TSqliteConnection(const std::string& path, bool create, int busyTimeoutMs);
  ~TSqliteConnection();
  TSqliteConnection(const TSqliteConnection&) = delete;
  TSqliteConnection& operator=(const TSqliteConnection&) = delete;

  sqlite3* Handle() const { return db_; }
  const std::string& Path() const { return path_; }
  bool ReadOnly() const;
  bool InTransaction() const;
  int64_t Changes() const;
  int64_t LastInsertId() const;

  // Runs SQL that returns no rows (or whose rows are not wanted).
  void Execute(const char* sql);
  // The first column of the first row of `sql`, as an integer.
  int64_t QueryInt(const char* sql);
  std::string QueryText(const char* sql);

  // The failure `code` of the last call on this connection, as the user reads it.
  [[noreturn]] void Fail(int code) const;

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
};

// The user's text for an SQLite failure on the store at `path`.
std::string StoreErrorText(const std::string& path, int code, int systemErrno,
                           const char* sqliteMessage);

// Rolls back on leaving its scope unless committed. BEGIN IMMEDIATE takes the write lock at
// once, so that a busy store fails before any work rather than at the commit.
class TWriteTransaction {
 public:
  explicit TWriteTransaction(TSqliteConnection& connection);
  ~TWriteTransaction();
  TWriteTransaction(const TWriteTransaction&) = delete;
  TWriteTransaction& operator=(const TWriteTransaction&) = delete;
  void Commit();

 private:
  TSqliteConnection& connection_;
  bool open_ = true;
};

}  // namespace qm::store
