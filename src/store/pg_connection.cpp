#include "store/pg_connection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <thread>

namespace qm::store {
namespace {

// A transaction that lost a lock conflict or a serialization check: tried again at once.
class EPgConflict : public EStoreError {
 public:
  using EStoreError::EStoreError;
};

std::string FirstLine(std::string text) {
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

void AppendArrayElement(std::string& array, std::string_view text) {
  array += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') array += '\\';
    array += c;
  }
  array += '"';
}

}  // namespace

TPgParams& TPgParams::Add(std::string_view text) {
  values_.emplace_back(StorableText(text));
  return *this;
}

TPgParams& TPgParams::AddNull() {
  values_.emplace_back(std::nullopt);
  return *this;
}

TPgParams& TPgParams::AddArray(const std::vector<std::string>& texts) {
  std::string array = "{";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) array += ',';
    AppendArrayElement(array, StorableText(texts[i]));
  }
  array += '}';
  values_.emplace_back(std::move(array));
  return *this;
}

TPgParams& TPgParams::AddArray(const std::vector<int64_t>& numbers) {
  std::string array = "{";
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) array += ',';
    array += std::to_string(numbers[i]);
  }
  array += '}';
  values_.emplace_back(std::move(array));
  return *this;
}

void TPgResult::Clear::operator()(pg_result* result) const {
  PQclear(result);
}

int TPgResult::Rows() const {
  return PQntuples(result_.get());
}

bool TPgResult::IsNull(int row, int column) const {
  return PQgetisnull(result_.get(), row, column) != 0;
}

std::string TPgResult::Text(int row, int column) const {
  return std::string(PQgetvalue(result_.get(), row, column),
                     static_cast<size_t>(PQgetlength(result_.get(), row, column)));
}

int64_t TPgResult::Int(int row, int column) const {
  if (IsNull(row, column)) return 0;
  return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

int64_t TPgResult::AffectedRows() const {
  return std::strtoll(PQcmdTuples(result_.get()), nullptr, 10);
}

std::string StorableText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size());
  auto escape = [&text](unsigned char byte) {
    text += '%';
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  };
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead == 0) {
      escape(lead);
      ++i;
      continue;
    }
    if (lead < 0x80) {
      text += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, least = 0x10000;
    }
    bool valid = length > 0 && i + length <= bytes.size();
    uint32_t code = length > 0 ? lead & (0x7F >> length) : 0;
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      escape(lead);
      ++i;
      continue;
    }
    text.append(bytes.substr(i, length));
    i += length;
  }
  return text;
}

void CheckNoPasswordIn(const std::string& url) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
  if (options == nullptr) {
    std::string reason = error != nullptr ? FirstLine(error) : "it cannot be read";
    PQfreemem(error);
    throw EStoreError("'" + ShownUrl(url) + "' is not a PostgreSQL connection string (" + reason +
                      "); write postgresql://USER@HOST:PORT/DATABASE");
  }
  bool password = false;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (std::string_view(option->keyword) == "password" && option->val != nullptr &&
        option->val[0] != '\0') {
      password = true;
    }
  }
  PQconninfoFree(options);
  if (password) {
    throw EStoreError(
        "the connection string " + ShownUrl(url) +
        " holds a password, which anyone on this machine could read in the process list: "
        "put it in ~/.pgpass (or the file PGPASSFILE names) or in the environment variable "
        "PGPASSWORD");
  }
}

std::string ShownUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    const size_t start = scheme + 3;
    const size_t at = url.find('@', start);
    const size_t slash = url.find('/', start);
    if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
      const size_t colon = url.find(':', start);
      if (colon != std::string::npos && colon < at) {
        return url.substr(0, colon + 1) + "***" + url.substr(at);
      }
    }
    return url;
  }
  // key=value form: the value of password= masked.
  std::string shown = url;
  const size_t key = shown.find("password=");
  if (key != std::string::npos) {
    const size_t value = key + 9;
    const size_t end = shown.find(' ', value);
    shown.replace(value, (end == std::string::npos ? shown.size() : end) - value, "***");
  }
  return shown;
}

TPgConnection::TPgConnection(std::string url) : url_(std::move(url)) {
  CheckNoPasswordIn(url_);
  Connect();
}

TPgConnection::~TPgConnection() {
  if (conn_ != nullptr) PQfinish(conn_);
}

void TPgConnection::Connect() {
  if (conn_ != nullptr) PQfinish(conn_);
  // Defaults the connection string may override: a server that does not answer is given
  // up within seconds, and a connection cut without a word is noticed by its keepalives.
  const char* keywords[] = {"connect_timeout",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "application_name",
                            "dbname",
                            nullptr};
  const char* values[] = {"10", "30", "10", "3", "qmharvest", url_.c_str(), nullptr};
  conn_ = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) {
    PQsetClientEncoding(conn_, "UTF8");
    // Notices (an index that exists already) are not for the user.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    return;
  }
  std::string reason = conn_ != nullptr ? PQerrorMessage(conn_) : "out of memory";
  // libpq names the address it tried first; what went wrong follows the colon.
  std::string detail = FirstLine(reason);
  const size_t failed = detail.find(" failed: ");
  if (failed != std::string::npos) detail = detail.substr(failed + 9);
  if (reason.find("password authentication failed") != std::string::npos) {
    detail +=
        " (the password is read from the environment variable PGPASSWORD or from "
        "~/.pgpass, or the file PGPASSFILE names)";
  } else if (reason.find("no password supplied") != std::string::npos) {
    detail =
        "the server asks for a password: put it in ~/.pgpass (or the file PGPASSFILE "
        "names) or in the environment variable PGPASSWORD";
  }
  PQfinish(conn_);
  conn_ = nullptr;
  throw EPgConnectionLost("Cannot connect to the PostgreSQL server " + ShownUrl(url_) + ": " +
                          detail);
}

void TPgConnection::Fail(pg_result* result, const std::string& sql) {
  std::string state;
  std::string message;
  if (result != nullptr) {
    if (const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE)) state = code;
    message = FirstLine(PQresultErrorMessage(result));
    PQclear(result);
  }
  if (message.empty() && conn_ != nullptr) message = FirstLine(PQerrorMessage(conn_));
  const bool lost = conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK ||
                    state.starts_with("08") || state == "57P01" || state == "57P02" ||
                    state == "57P03";
  if (lost) {
    throw EPgConnectionLost("The PostgreSQL server " + ShownUrl(url_) + " went away: " + message);
  }
  if (state == "40001" || state == "40P01") throw EPgConflict(message);
  (void)sql;
  throw EStoreError("The PostgreSQL server " + ShownUrl(url_) + " refused a statement: " + message);
}

TPgResult TPgConnection::Exec(const std::string& sql, const TPgParams& params) {
  if (conn_ == nullptr) Reconnect();
  std::vector<const char*> values;
  values.reserve(params.Size());
  for (const std::optional<std::string>& value : params.Values()) {
    values.push_back(value ? value->c_str() : nullptr);
  }
  pg_result* result = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0);
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(result, sql);
  return TPgResult(result);
}

void TPgConnection::ExecScript(const std::string& sql) {
  if (conn_ == nullptr) Reconnect();
  pg_result* result = PQexec(conn_, sql.c_str());
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(result, sql);
  PQclear(result);
}

void TPgConnection::Copy(const std::string& copySql, const std::string& lines) {
  if (conn_ == nullptr) Reconnect();
  pg_result* started = PQexec(conn_, copySql.c_str());
  if (started == nullptr || PQresultStatus(started) != PGRES_COPY_IN) Fail(started, copySql);
  PQclear(started);
  constexpr size_t kPiece = 1 << 20;
  bool sent = true;
  for (size_t at = 0; sent && at < lines.size(); at += kPiece) {
    const size_t size = std::min(kPiece, lines.size() - at);
    sent = PQputCopyData(conn_, lines.data() + at, static_cast<int>(size)) == 1;
  }
  if (PQputCopyEnd(conn_, sent ? nullptr : "sending failed") != 1) Fail(nullptr, copySql);
  pg_result* failure = nullptr;
  while (pg_result* result = PQgetResult(conn_)) {
    if (PQresultStatus(result) != PGRES_COMMAND_OK && failure == nullptr) {
      failure = result;
    } else {
      PQclear(result);
    }
  }
  if (failure != nullptr || !sent) Fail(failure, copySql);
}

void TPgConnection::Reconnect() {
  const auto deadline = std::chrono::steady_clock::now() + patience_;
  auto pause = std::chrono::milliseconds(100);
  for (;;) {
    try {
      Connect();
      return;
    } catch (const EStoreError&) {
      if (std::chrono::steady_clock::now() + pause > deadline) throw;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(5000));
  }
}

void TPgConnection::Transaction(const std::function<void()>& work) {
  int conflicts = 0;
  for (;;) {
    try {
      Exec("BEGIN");
      work();
      Exec("COMMIT");
      return;
    } catch (const EPgConnectionLost& lost) {
      // A COMMIT cut short may have been kept: what is written again must stand being
      // written twice.
      if (lost_) lost_(lost.what());
      if (conn_ != nullptr) PQfinish(conn_);
      conn_ = nullptr;
      Reconnect();
    } catch (const EPgConflict&) {
      if (conn_ != nullptr) PQclear(PQexec(conn_, "ROLLBACK"));
      if (++conflicts > 20) throw;
    } catch (...) {
      if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
      throw;
    }
  }
}

}  // namespace qm::store
