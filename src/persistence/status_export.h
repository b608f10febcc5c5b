#pragma once
// Saving the status list of a run: a CSV file in UTF-8 with a byte-order mark, so that
// spreadsheet programs read its Chinese header and addresses right, one row per address.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/address_status.h"
#include "ui/dialogs.h"

namespace qm {

inline constexpr std::string_view kStatusExportPrefix = "网址状态";

// The whole file: the mark, a header row and one row per record, each ending in CR LF.
// Fields holding a comma, a quote or a line break are quoted; text that is not UTF-8 is
// read as code page 936, as the list file it came from is.
std::string StatusListCsv(const std::vector<TAddressStatus>& records);

// The name the save dialog proposes: prefix, record count in decimal, ".csv".
std::string ProposedStatusExportName(size_t recordCount);

// Offers the status list in the save dialog and writes it; an empty list is passed over
// without a dialog. True when a file was written; errors propagate as for the result lists.
bool SaveStatusList(const TAddressStatusList& statuses, ui::Dialogs& dialogs,
                    const std::string& directory);

}  // namespace qm
