#pragma once
// The files the window saves from its result lists, written from the rows a result store
// keeps for a run.
#include <cstdint>
#include <string>

#include "store/result_store.h"

namespace qm {

enum class TStoredRowsFormat { Text, Csv, Workbook };

// Text: the non-empty lists as text files in the folder `path` (created when missing), named
// as the save dialog proposes them (电邮N.txt, 手机N.txt, QQ邮N.txt, 微信N.txt, 电话N.txt). Csv
// and Workbook: the one file `path` holding the lists, as the save dialog's spreadsheet types
// write it.
// Raises as the window's save does, and EStoreError when the store cannot be read. With
// `validOnly` ("只导出有效") rows whose checks find them no real contact are left out.
void ExportStoredRows(TResultStore& store, int64_t run, TStoredRowsFormat format,
                      const std::string& path, bool validOnly = false);

}  // namespace qm
