#include "urllists/generator_form.h"

#include <charconv>
#include <cstdint>

#include "text/cp936.h"
#include "text/integer_syntax.h"
#include "urllists/output_file.h"

namespace qm {
namespace {

constexpr size_t kChunkBytes = size_t{1} << 16;

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// Writes the lines for the counter offsets 0 .. last, formed by appendLine, in large pieces.
// The count label follows each piece, so it only ever counts lines the file has received,
// and a million lines cost a few hundred label updates instead of a million.
template <class AppendLine>
void WriteLines(TOutputFile& file, int64_t last, ui::TLabelModel& countLabel,
                AppendLine appendLine) {
  std::string chunk;
  chunk.reserve(kChunkBytes + 256);
  int64_t written = 0;
  for (int64_t offset = 0; offset <= last; ++offset) {
    appendLine(chunk, offset);
    chunk.append("\r\n");
    if (chunk.size() >= kChunkBytes || offset == last) {
      file.WriteAll(chunk);
      chunk.clear();
      written = offset + 1;
      countLabel.SetCaption(std::to_string(written));
    }
  }
}

}  // namespace

TbbsForm::TbbsForm(ui::Dialogs& dialogs) : dialogs_(dialogs) {}

std::optional<std::string> TbbsForm::ChooseFile() {
  ui::FileDialogOptions options;
  options.Title = "BBS页面地址列表";
  options.Filter = "Text files|*.txt|All files|*.*";
  options.DefaultExtension = "txt";
  options.FileName = fileName_;
  options.ConfirmOverwrite = true;
  auto path = dialogs_.SaveFile(options);
  if (path) fileName_ = *path;
  return path;
}

void TbbsForm::SpeedButton1Click() {
  const auto path = ChooseFile();
  if (!path) return;
  // Every number is read before the file is created, so a typo leaves an existing file as it was.
  const int64_t start = StrToInt(Edit2.Text());
  const int64_t end = StrToInt(Edit3.Text());
  const int64_t multiplier = end >= start ? StrToInt(Edit12.Text()) : 0;
  const std::string prefix = Utf8ToCp936(Edit1.Text());
  const std::string suffix = Utf8ToCp936(Edit4.Text());

  TOutputFile file(*path);
  if (end >= start) {
    WriteLines(file, end - start, Label2, [&](std::string& out, int64_t offset) {
      out.append(prefix);
      AppendNumber(out, multiplier * (start + offset));
      out.append(suffix);
    });
  }
  file.Close();
}

void TbbsForm::SpeedButton2Click() {
  const auto path = ChooseFile();
  if (!path) return;
  const int64_t secondStart = StrToInt(Edit10.Text());
  const int64_t start = StrToInt(Edit6.Text());
  const int64_t end = StrToInt(Edit7.Text());
  const std::string front = Utf8ToCp936(Edit5.Text());
  const std::string middle = Utf8ToCp936(Edit9.Text());
  const std::string back = Utf8ToCp936(Edit8.Text());

  TOutputFile file(*path);
  if (end >= start) {
    WriteLines(file, end - start, Label7, [&](std::string& out, int64_t offset) {
      out.append(front);
      AppendNumber(out, start + offset);
      out.append(middle);
      AppendNumber(out, secondStart + offset);
      out.append(back);
    });
  }
  file.Close();
}

}  // namespace qm
