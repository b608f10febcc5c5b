#pragma once
// A store's file opened with SQLite directly, to forge files the program did not write and
// to look at what it did write.
#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace qm::test {

class RawDatabase {
 public:
  explicit RawDatabase(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Fail("open");
  }
  ~RawDatabase() { sqlite3_close(db_); }
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  void Execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }

  // The first column of the first row, as text.
  std::string Text(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) Fail(sql);
    const int rc = sqlite3_step(statement);
    const auto* value = rc == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
    const std::string text = value ? reinterpret_cast<const char*>(value) : "";
    sqlite3_finalize(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(sql);
    return text;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_));
  }

  sqlite3* db_ = nullptr;
};

}  // namespace qm::test
