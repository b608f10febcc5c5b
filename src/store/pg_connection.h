#pragma once
// One connection to a PostgreSQL server over libpq: statements with text parameters, their
// results, transactions, and the way back after the server went away.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/result_store.h"

struct pg_conn;
struct pg_result;

namespace qm::store {

// The server went away (restart, shutdown, a cut connection): the work of the transaction
// may be tried again on a new connection.
class EPgConnectionLost : public EStoreError {
 public:
  using EStoreError::EStoreError;
};

// Parameters of one statement, all sent as text.
class TPgParams {
 public:
  TPgParams& Add(std::string_view text);
  TPgParams& Add(int64_t number) { return Add(std::to_string(number)); }
  TPgParams& Add(int number) { return Add(std::to_string(number)); }
  TPgParams& AddNull();
  // A PostgreSQL array of texts or numbers.
  TPgParams& AddArray(const std::vector<std::string>& texts);
  TPgParams& AddArray(const std::vector<int64_t>& numbers);
  size_t Size() const { return values_.size(); }
  const std::vector<std::optional<std::string>>& Values() const { return values_; }

 private:
  std::vector<std::optional<std::string>> values_;
};

class TPgResult {
 public:
  explicit TPgResult(pg_result* result) : result_(result) {}
  int Rows() const;
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  int64_t Int(int row, int column) const;  // 0 for NULL
  int64_t AffectedRows() const;

 private:
  struct Clear {
    void operator()(pg_result* result) const;
  };
  std::unique_ptr<pg_result, Clear> result_;
};

// The text PostgreSQL keeps: valid UTF-8 without NUL. Bytes that are not (a list in another
// code page, a hostile page's address) are written as %XX, as an address would carry them.
std::string StorableText(std::string_view bytes);

// A connection string names no password: it would be seen in the process list and in the
// shell's history. Throws EStoreError saying where the password goes instead.
void CheckNoPasswordIn(const std::string& url);
// The connection string without any password, for messages.
std::string ShownUrl(const std::string& url);

class TPgConnection {
 public:
  // Connects, or throws EStoreError naming the server and the reason (an unreachable
  // server, a refused password, a missing database).
  explicit TPgConnection(std::string url);
  ~TPgConnection();
  TPgConnection(const TPgConnection&) = delete;
  TPgConnection& operator=(const TPgConnection&) = delete;

  const std::string& Url() const { return url_; }

  // One statement. Throws EPgConnectionLost when the server went away, EStoreError for any
  // other failure.
  TPgResult Exec(const std::string& sql, const TPgParams& params = {});
  // Statements without parameters, separated by semicolons.
  void ExecScript(const std::string& sql);
  // Sends rows to COPY ... FROM STDIN (text format; each line ends in \n).
  void Copy(const std::string& copySql, const std::string& lines);

  // Runs `work` in a transaction, committed when it returns. When the server goes away
  // (or the transaction loses to another), it is tried again, on a new connection once the
  // server answers; `lost` is told of each loss. Gives up (rethrows) once `patience` has
  // passed without a connection.
  void Transaction(const std::function<void()>& work);
  void SetPatience(std::chrono::milliseconds patience) { patience_ = patience; }
  void OnLost(std::function<void(const std::string&)> lost) { lost_ = std::move(lost); }
  // Connects again, waiting with a growing pause, until `patience` has passed.
  void Reconnect();

 private:
  void Connect();
  [[noreturn]] void Fail(pg_result* result, const std::string& sql);

  std::string url_;
  pg_conn* conn_ = nullptr;
  std::chrono::milliseconds patience_ = std::chrono::minutes(10);
  std::function<void(const std::string&)> lost_;
};

}  // namespace qm::store
