#pragma once
// What the commands reading a result store share: the store named by --store and the run
// chosen by --run.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "persistence/stored_rows_export.h"
#include "store/result_store.h"

namespace qm::cli {

// The path --store gives; a usage error without it.
std::string StoreOption(const ParsedCommand& parsed, std::string_view command);
// The run id --run gives, if any; a usage error for anything but a run id.
std::optional<int64_t> RunOption(const ParsedCommand& parsed);
// The id `option` (--run, --job) gives, if any: a whole number from 1 up, 64 bits wide.
std::optional<int64_t> IdOption(const ParsedCommand& parsed, const std::string& option);
// The file format --format names (txt, csv, xlsx) and the path --out gives, both required.
TStoredRowsFormat FormatOption(const ParsedCommand& parsed, std::string_view command);
std::string OutOption(const ParsedCommand& parsed, std::string_view command);

struct OpenedStore {
  std::string Path;
  std::unique_ptr<TResultStore> Store;
};

// A file that is not there is a failure: reading never creates a store.
OpenedStore OpenExistingStore(const std::string& path);

// The run `wanted`, else the newest run; a failure naming the store when there is none.
int64_t ChosenRun(const OpenedStore& opened, std::optional<int64_t> wanted);

// "email", "mobile" or "qq" for a stored row's kind; empty for a kind unknown here.
std::string_view RowKindName(int kind);

}  // namespace qm::cli
