#include "store/sqlite_connection.h"

#include <sqlite3.h>

#include <cerrno>
#include <utility>

#include "text/file_errors.h"

namespace qm::store {

std::string StoreErrorText(const std::string& path, int code, int systemErrno,
                           const char* sqliteMessage) {
  const std::string store = "the result store " + path;
  const bool diskFull = systemErrno == ENOSPC || systemErrno == EDQUOT || systemErrno == EFBIG;
  switch (code & 0xff) {
    case SQLITE_NOTADB:
      return path + " is not a result store";
    case SQLITE_FULL:
      return "The disk is full: " + store + " cannot be written";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "The result store " + path + " is locked by another program";
    case SQLITE_READONLY:
      return "The result store " + path + " cannot be written: the file or its folder is read-only";
    case SQLITE_CANTOPEN:
      return "Cannot open " + store + ": " +
             (systemErrno != 0 ? InOutErrorText(systemErrno) : std::string(sqliteMessage));
    case SQLITE_CORRUPT:
      return "The result store " + path + " is damaged";
    case SQLITE_NOMEM:
      return "Out of memory using " + store;
    case SQLITE_IOERR:
      if (diskFull) return "The disk is full: " + store + " cannot be written";
      return "Cannot read or write " + store + ": " +
             (systemErrno != 0 ? InOutErrorText(systemErrno) : std::string(sqliteMessage));
    default:
      return "The result store " + path + " failed: " + sqliteMessage;
  }
}

// ---- TSqliteConnection -------------------------------------------------------------------

TSqliteConnection::TSqliteConnection(const std::string& path, bool create, int busyTimeoutMs)
    : path_(path) {
  // Only a name that starts "file:" could be read as a URI, should the library take URIs.
  std::string name = path;
  if (name.rfind("file:", 0) == 0) name = "./" + name;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (create) flags |= SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string text = StoreErrorText(path_, db_ ? sqlite3_extended_errcode(db_) : rc,
                                            db_ ? sqlite3_system_errno(db_) : 0,
                                            db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_close(db_);
    db_ = nullptr;
    throw EStoreError(text);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyTimeoutMs);
}

TSqliteConnection::~TSqliteConnection() {
  // Every statement is finalized by its owner before the connection goes.
  sqlite3_close(db_);
}

bool TSqliteConnection::ReadOnly() const {
  return sqlite3_db_readonly(db_, "main") == 1;
}

bool TSqliteConnection::InTransaction() const {
  return sqlite3_get_autocommit(db_) == 0;
}

int64_t TSqliteConnection::Changes() const {
  return sqlite3_changes64(db_);
}

int64_t TSqliteConnection::LastInsertId() const {
  return sqlite3_last_insert_rowid(db_);
}

void TSqliteConnection::Fail(int code) const {
  throw EStoreError(StoreErrorText(path_, code, sqlite3_system_errno(db_), sqlite3_errmsg(db_)));
}

void TSqliteConnection::Execute(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

int64_t TSqliteConnection::QueryInt(const char* sql) {
  TStatement statement(*this, sql);
  TResetOnExit reset(statement);
  return statement.Step() ? statement.Int(0) : 0;
}

std::string TSqliteConnection::QueryText(const char* sql) {
  TStatement statement(*this, sql);
  TResetOnExit reset(statement);
  return statement.Step() ? statement.Text(0) : std::string();
}

// ---- TStatement --------------------------------------------------------------------------

TStatement::TStatement(TSqliteConnection& connection, std::string_view sql)
    : connection_(&connection) {
  const int rc = sqlite3_prepare_v3(connection.Handle(), sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
  if (rc != SQLITE_OK) connection.Fail(rc);
}

TStatement::~TStatement() {
  sqlite3_finalize(statement_);
}

TStatement::TStatement(TStatement&& other) noexcept
    : connection_(other.connection_), statement_(std::exchange(other.statement_, nullptr)) {}

TStatement& TStatement::operator=(TStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    connection_ = other.connection_;
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

void TStatement::Bind(int index, int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) connection_->Fail(rc);
}

void TStatement::Bind(int index, std::string_view text) {
  // A null pointer would bind SQL NULL, not an empty text.
  const char* data = text.data() ? text.data() : "";
  const int rc =
      sqlite3_bind_text64(statement_, index, data, text.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (rc != SQLITE_OK) connection_->Fail(rc);
}

void TStatement::BindNull(int index) {
  const int rc = sqlite3_bind_null(statement_, index);
  if (rc != SQLITE_OK) connection_->Fail(rc);
}

bool TStatement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // The message is taken before the reset, which may replace it.
  const std::string text =
      StoreErrorText(connection_->Path(), rc, sqlite3_system_errno(connection_->Handle()),
                     sqlite3_errmsg(connection_->Handle()));
  sqlite3_reset(statement_);
  throw EStoreError(text);
}

void TStatement::Run() {
  TResetOnExit reset(*this);
  while (Step()) {
  }
}

void TStatement::Reset() {
  sqlite3_reset(statement_);
}

int64_t TStatement::Int(int column) const {
  return sqlite3_column_int64(statement_, column);
}

std::string TStatement::Text(int column) const {
  const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
  const int size = sqlite3_column_bytes(statement_, column);
  return data ? std::string(data, static_cast<size_t>(size)) : std::string();
}

// ---- TWriteTransaction -------------------------------------------------------------------

TWriteTransaction::TWriteTransaction(TSqliteConnection& connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

TWriteTransaction::~TWriteTransaction() {
  // A full disk or an I/O error may have rolled the transaction back already.
  if (open_ && connection_.InTransaction()) {
    sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void TWriteTransaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

}  // namespace qm::store
