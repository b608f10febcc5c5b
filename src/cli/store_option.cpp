#include "cli/store_option.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <vector>

#include "cli/row_output.h"
#include "text/file_errors.h"

namespace qm::cli {

std::string StoreOption(const ParsedCommand& parsed, std::string_view command) {
  std::optional<std::string> path = parsed.Value("--store");
  if (!path) throw UsageError(std::string(command) + " needs --store FILE");
  return std::move(*path);
}

std::optional<int64_t> RunOption(const ParsedCommand& parsed) {
  return IdOption(parsed, "--run");
}

std::optional<int64_t> IdOption(const ParsedCommand& parsed, const std::string& option) {
  const std::optional<std::string> text = parsed.Value(option);
  if (!text) return std::nullopt;
  // Ids are 64-bit, beyond what NumberOption reads.
  int64_t value = 0;
  const char* const end = text->data() + text->size();
  const bool digits = !text->empty() && text->find_first_not_of("0123456789") == std::string::npos;
  const std::from_chars_result read = std::from_chars(text->data(), end, value);
  if (!digits || read.ec != std::errc() || read.ptr != end || value < 1) {
    throw UsageError("option " + option + " takes a whole number from 1 to " +
                     std::to_string(std::numeric_limits<int64_t>::max()) + ", not '" + *text + "'");
  }
  return value;
}

TStoredRowsFormat FormatOption(const ParsedCommand& parsed, std::string_view command) {
  const std::optional<std::string> format = parsed.Value("--format");
  if (!format) throw UsageError(std::string(command) + " needs --format txt, csv or xlsx");
  if (*format == "txt") return TStoredRowsFormat::Text;
  if (*format == "csv") return TStoredRowsFormat::Csv;
  if (*format == "xlsx") return TStoredRowsFormat::Workbook;
  throw UsageError("option --format takes txt, csv or xlsx, not '" + *format + "'");
}

std::string OutOption(const ParsedCommand& parsed, std::string_view command) {
  const std::optional<std::string> out = parsed.Value("--out");
  if (!out || out->empty()) throw UsageError(std::string(command) + " needs --out PATH");
  return *out;
}

OpenedStore OpenExistingStore(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) {
    throw std::runtime_error("Cannot open the result store " + path + ": " + InOutErrorText(errno));
  }
  // SQLite would make a store of an empty file, and write a journal beside a device.
  if (!S_ISREG(status.st_mode) || status.st_size == 0) {
    throw std::runtime_error(path + " is not a result store");
  }
  return {path, OpenSqliteStore(path)};
}

int64_t ChosenRun(const OpenedStore& opened, std::optional<int64_t> wanted) {
  const std::vector<TStoredRun> runs = opened.Store->Runs();
  if (!wanted) {
    if (runs.empty()) throw std::runtime_error("The result store " + opened.Path + " holds no run");
    return runs.back().Id;
  }
  for (const TStoredRun& run : runs) {
    if (run.Id == *wanted) return run.Id;
  }
  throw std::runtime_error("The result store " + opened.Path + " holds no run " +
                           std::to_string(*wanted));
}

std::string_view RowKindName(int kind) {
  switch (kind) {
    case 0:
      return kEmailKind;
    case 1:
      return kMobileKind;
    case 2:
      return kQQKind;
    case 3:
      return kWeChatKind;
    case 4:
      return kTelephoneKind;
    default:
      return {};
  }
}

}  // namespace qm::cli
