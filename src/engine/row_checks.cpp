// The run's checks of its rows: made as a run begins, asked for lookups as pages end, looked
// at without waiting by the store writer, waited for by exports and at a run's end, never by
// a worker.
#include <utility>

#include "engine/main_form.h"
#include "persistence/export_results.h"

namespace qm {
namespace {

int KindOfSpreadsheetName(std::string_view name) {
  if (name == SpreadsheetKindName(kEmailExportPrefix)) return verify::kEmailRow;
  if (name == SpreadsheetKindName(kMobileExportPrefix)) return verify::kMobileRow;
  if (name == SpreadsheetKindName(kQQExportPrefix)) return verify::kQQRow;
  return -1;
}

// Every lookup asked for first, then each waited for: all within one deadline from now.
template <typename Rows, typename KindOf, typename Apply>
void CheckAll(verify::TContactVerifier& verifier, Rows& rows, KindOf kindOf, Apply apply) {
  for (auto& row : rows) verifier.Request(kindOf(row), row.Value);
  const auto until = verify::TContactVerifier::Clock::now() + verifier.Options().Deadline;
  for (auto& row : rows) apply(row, verifier.Check(kindOf(row), row.Value, until));
}

}  // namespace

void TForm1::BeginChecks() {
  verify::TVerifyOptions options;
  options.Lookups = CheckBoxVerify.Checked();
  options.Resolver = VerifyResolver;
  options.Deadline = VerifyDeadline;
  auto verifier = std::make_shared<verify::TContactVerifier>(std::move(options));
  std::lock_guard lock(verifierMutex_);
  verifier_ = std::move(verifier);
}

std::shared_ptr<verify::TContactVerifier> TForm1::Verifier() {
  {
    std::lock_guard lock(verifierMutex_);
    if (verifier_) return verifier_;
  }
  BeginChecks();
  std::lock_guard lock(verifierMutex_);
  return verifier_;
}

std::optional<verify::TRowCheck> TForm1::RowCheckIfSettled(int kind, std::string_view row) {
  try {
    return Verifier()->CheckIfSettled(kind, row);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

TExportChecks TForm1::ExportChecks() {
  TExportChecks checks;
  checks.ValidOnly = CheckBoxValidOnly.Checked();
  checks.Fill = [verifier = Verifier()](std::string_view kindName,
                                        std::vector<TResultEntry>& entries) {
    const int kind = KindOfSpreadsheetName(kindName);
    if (kind < 0) return;
    CheckAll(
        *verifier, entries, [kind](const TResultEntry&) { return kind; },
        [](TResultEntry& entry, verify::TRowCheck check) { entry.Checks = std::move(check.Flags); });
  };
  return checks;
}

TStoreWriter::TRowChecker TForm1::StoreRowChecker() {
  const std::shared_ptr<verify::TContactVerifier> verifier = Verifier();
  TStoreWriter::TRowChecker checker;
  checker.Settled = [verifier](int kind, std::string_view value) -> std::optional<std::string> {
    std::optional<verify::TRowCheck> check = verifier->CheckIfSettled(kind, value);
    if (!check) return std::nullopt;
    return std::move(check->Flags);
  };
  checker.Wait = [verifier](int kind, std::string_view value,
                            verify::TContactVerifier::Clock::time_point until)
      -> std::optional<std::string> {
    verifier->Check(kind, value, until);
    std::optional<verify::TRowCheck> check = verifier->CheckIfSettled(kind, value);
    if (!check) return std::nullopt;
    return std::move(check->Flags);
  };
  return checker;
}

}  // namespace qm
