#include "persistence/status_export.h"

#include "persistence/export_results.h"
#include "text/cp936.h"

namespace qm {
namespace {

void AppendField(std::string& csv, std::string_view field) {
  const std::string text = IsValidUtf8(field) ? std::string(field) : Cp936ToUtf8(field);
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    csv += text;
    return;
  }
  csv += '"';
  for (const char c : text) {
    if (c == '"') csv += '"';
    csv += c;
  }
  csv += '"';
}

}  // namespace

std::string StatusListCsv(const std::vector<TAddressStatus>& records) {
  std::string csv = "\xEF\xBB\xBF";
  csv += "行号,网址,最终网址,HTTP状态,字节数,毫秒,失败原因,邮箱,手机,QQ号,深度,来源网址,微信,电话\r\n";
  for (const TAddressStatus& record : records) {
    const char* separator = "";
    for (const std::string& field : StatusFields(record)) {
      csv += separator;
      AppendField(csv, field);
      separator = ",";
    }
    csv += "\r\n";
  }
  return csv;
}

std::string ProposedStatusExportName(size_t recordCount) {
  return std::string(kStatusExportPrefix) + std::to_string(recordCount) + ".csv";
}

bool SaveStatusList(const TAddressStatusList& statuses, ui::Dialogs& dialogs,
                    const std::string& directory) {
  // Taken once: the file holds the records that the proposed name counts.
  const std::vector<TAddressStatus> records = statuses.Snapshot();
  if (records.empty()) return false;
  ui::FileDialogOptions options;
  options.Title = "网址状态保存为";
  options.Filter = "CSV files(*.csv)|*.csv|All files(*.*)|*.*";
  options.DefaultExtension = "csv";
  options.FileName = ProposedStatusExportName(records.size());
  options.InitialDir = directory;
  options.ConfirmOverwrite = true;
  const auto path = dialogs.SaveFile(options);
  if (!path) return false;
  WriteExportFile(*path, StatusListCsv(records));
  return true;
}

}  // namespace qm
