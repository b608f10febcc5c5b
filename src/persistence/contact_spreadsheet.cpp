#include "persistence/contact_spreadsheet.h"

#include <unistd.h>
#include <xlsxwriter.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>

#include "text/cp936.h"
#include "text/errors.h"
#include "text/file_errors.h"

namespace qm {
namespace {

constexpr std::string_view kKindHeader = "类型";
constexpr std::string_view kValueHeader = "联系方式";
constexpr std::string_view kSourceHeader = "来源网址";
constexpr std::string_view kTimeHeader = "发现时间";
constexpr std::string_view kChecksHeader = "检查";

std::string Utf8Text(std::string_view text) {
  return IsValidUtf8(text) ? std::string(text) : Cp936ToUtf8(text);
}

bool DigitsAndDashes(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    // A telephone number's dashes too: 0755-12345678 is no sum, 2024-06-12 no date.
    if ((c < '0' || c > '9') && (c != '-' || text[0] == '-')) return false;
  }
  return true;
}

void AppendCsvField(std::string& out, std::string_view rawText) {
  const std::string text = Utf8Text(rawText);
  if (DigitsAndDashes(text)) {
    out += "=\"";
    out += text;
    out += '"';
    return;
  }
  std::string field;
  // A field a spreadsheet would take for a formula is kept as text.
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@')) {
    field += '\'';
  }
  field += text;
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::tm LocalTime(int64_t foundAtMs) {
  const std::time_t seconds = static_cast<std::time_t>(foundAtMs / 1000);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  return parts;
}

// A temporary folder for the workbook library's files, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/qmharvest-workbook-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw InOutError(errno);
    path_ = pattern;
  }
  ~TemporaryFolder() {
    ::unlink(File().c_str());
    ::rmdir(path_.c_str());
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File() const { return path_ + "/book.xlsx"; }

 private:
  std::string path_;
};

// Fills a workbook and closes it; the library frees the workbook on closing.
class WorkbookWriter {
 public:
  WorkbookWriter(const std::string& file, const std::string& tmpdir) {
    lxw_workbook_options options{};
    options.tmpdir = const_cast<char*>(tmpdir.c_str());
    workbook_ = workbook_new_opt(file.c_str(), &options);
    if (workbook_ == nullptr) throw InOutError(errno != 0 ? errno : EIO);
    header_ = workbook_add_format(workbook_);
    format_set_bold(header_);
    time_ = workbook_add_format(workbook_);
    format_set_num_format(time_, "yyyy-mm-dd hh:mm:ss");
  }
  ~WorkbookWriter() {
    if (workbook_ != nullptr) workbook_close(workbook_);
  }
  WorkbookWriter(const WorkbookWriter&) = delete;
  WorkbookWriter& operator=(const WorkbookWriter&) = delete;

  void AddKind(const TExportedKind& kind) {
    // A sheet holds at most 1048576 rows; a longer list goes on in further sheets.
    constexpr size_t kRowsPerSheet = 1048575;
    size_t written = 0;
    int part = 1;
    do {
      std::string name(kind.Name);
      if (part > 1) name += "(" + std::to_string(part) + ")";
      lxw_worksheet* sheet = AddSheet(name);
      const size_t count = std::min(kRowsPerSheet, kind.Entries.size() - written);
      for (size_t i = 0; i < count; ++i) {
        WriteEntry(sheet, static_cast<lxw_row_t>(i + 1), kind.Entries[written + i]);
      }
      written += count;
      ++part;
    } while (written < kind.Entries.size());
  }

  void Close() {
    lxw_workbook* workbook = workbook_;
    workbook_ = nullptr;
    if (const lxw_error error = workbook_close(workbook); error != LXW_NO_ERROR) {
      throw EInOutError(lxw_strerror(error), EIO);
    }
  }

 private:
  lxw_worksheet* AddSheet(const std::string& name) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
    if (sheet == nullptr) throw EInOutError("Cannot add the sheet " + name, EIO);
    worksheet_set_column(sheet, 0, 0, 28, nullptr);
    worksheet_set_column(sheet, 1, 1, 48, nullptr);
    worksheet_set_column(sheet, 2, 2, 20, nullptr);
    worksheet_set_column(sheet, 3, 3, 24, nullptr);
    worksheet_write_string(sheet, 0, 0, std::string(kValueHeader).c_str(), header_);
    worksheet_write_string(sheet, 0, 1, std::string(kSourceHeader).c_str(), header_);
    worksheet_write_string(sheet, 0, 2, std::string(kTimeHeader).c_str(), header_);
    worksheet_write_string(sheet, 0, 3, std::string(kChecksHeader).c_str(), header_);
    worksheet_freeze_panes(sheet, 1, 0);
    return sheet;
  }

  void WriteEntry(lxw_worksheet* sheet, lxw_row_t row, const TResultEntry& entry) {
    worksheet_write_string(sheet, row, 0, Utf8Text(entry.Value).c_str(), nullptr);
    if (!entry.Source.empty()) {
      worksheet_write_string(sheet, row, 1, Utf8Text(entry.Source).c_str(), nullptr);
    }
    const std::tm parts = LocalTime(entry.FoundAtMs);
    lxw_datetime when{};
    when.year = parts.tm_year + 1900;
    when.month = parts.tm_mon + 1;
    when.day = parts.tm_mday;
    when.hour = parts.tm_hour;
    when.min = parts.tm_min;
    when.sec = parts.tm_sec;
    worksheet_write_datetime(sheet, row, 2, &when, time_);
    if (!entry.Checks.empty()) worksheet_write_string(sheet, row, 3, entry.Checks.c_str(), nullptr);
  }

  lxw_workbook* workbook_ = nullptr;
  lxw_format* header_ = nullptr;
  lxw_format* time_ = nullptr;
};

}  // namespace

std::string FoundTimeText(int64_t foundAtMs) {
  const std::tm parts = LocalTime(foundAtMs);
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return std::string(text, length);
}

std::string ContactListsCsv(const std::vector<TExportedKind>& kinds) {
  std::string out = "\xEF\xBB\xBF";
  for (std::string_view header : {kKindHeader, kValueHeader, kSourceHeader, kTimeHeader}) {
    out += header;
    out += ',';
  }
  out += kChecksHeader;
  out += "\r\n";
  for (const TExportedKind& kind : kinds) {
    for (const TResultEntry& entry : kind.Entries) {
      AppendCsvField(out, kind.Name);
      out += ',';
      AppendCsvField(out, entry.Value);
      out += ',';
      AppendCsvField(out, entry.Source);
      out += ',';
      out += FoundTimeText(entry.FoundAtMs);
      out += ',';
      AppendCsvField(out, entry.Checks);
      out += "\r\n";
    }
  }
  return out;
}

std::string ContactListsWorkbook(const std::vector<TExportedKind>& kinds) {
  const TemporaryFolder folder;
  {
    WorkbookWriter writer(folder.File(), folder.Path());
    for (const TExportedKind& kind : kinds) writer.AddKind(kind);
    writer.Close();
  }
  std::ifstream in(folder.File(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw InOutError(EIO);
  return bytes;
}

}  // namespace qm
