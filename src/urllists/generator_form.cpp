#include "urllists/generator_form.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/cp936.h"
#include "text/integer_syntax.h"
#include "urllists/output_file.h"

namespace qm {
namespace {

constexpr size_t kChunkBytes = size_t{1} << 16;
// The longest decimal text of a 64-bit value, sign included.
constexpr size_t kNumberBytes = 20;

char* PutText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* PutNumber(char* out, int64_t value) {
  return std::to_chars(out, out + kNumberBytes, value).ptr;
}

// Writes the lines for the counter offsets 0 .. last, each formed by formLine at most
// longestLine bytes long before its CR LF, in large pieces. The count label follows each
// piece, so it only ever counts lines the file has received, and a million lines cost a few
// hundred label updates instead of a million.
template <class FormLine>
void WriteLines(TOutputFile& file, int64_t last, size_t longestLine, ui::TLabelModel& countLabel,
                FormLine formLine) {
  std::string buffer(kChunkBytes + longestLine + 2, '\0');
  char* const begin = buffer.data();
  char* end = begin;
  for (int64_t offset = 0; offset <= last; ++offset) {
    end = formLine(end, offset);
    *end++ = '\r';
    *end++ = '\n';
    if (static_cast<size_t>(end - begin) >= kChunkBytes || offset == last) {
      file.WriteAll(std::string_view(begin, static_cast<size_t>(end - begin)));
      end = begin;
      countLabel.SetCaption(std::to_string(offset + 1));
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
    const size_t longest = prefix.size() + kNumberBytes + suffix.size();
    WriteLines(file, end - start, longest, Label2, [&](char* out, int64_t offset) {
      out = PutText(out, prefix);
      out = PutNumber(out, multiplier * (start + offset));
      return PutText(out, suffix);
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
    const size_t longest = front.size() + middle.size() + back.size() + 2 * kNumberBytes;
    WriteLines(file, end - start, longest, Label7, [&](char* out, int64_t offset) {
      out = PutText(out, front);
      out = PutNumber(out, start + offset);
      out = PutText(out, middle);
      out = PutNumber(out, secondStart + offset);
      return PutText(out, back);
    });
  }
  file.Close();
}

}  // namespace qm
