#include "engine/address_status.h"

namespace qm {

std::array<std::string, kStatusFieldCount> StatusFields(const TAddressStatus& status) {
  return {std::to_string(status.LineNumber),
          status.Url,
          status.FinalUrl,
          std::to_string(status.StatusCode),
          std::to_string(status.BytesReceived),
          std::to_string(status.Milliseconds),
          status.FailureReason,
          std::to_string(status.RowsAdded[0]),
          std::to_string(status.RowsAdded[1]),
          std::to_string(status.RowsAdded[2]),
          std::to_string(status.Depth),
          status.ListedUrl,
          std::to_string(status.RowsAdded[kWeChatList]),
          std::to_string(status.RowsAdded[kTelephoneList])};
}

std::string HttpStatusFailure(int32_t statusCode) {
  if (statusCode < 400) return {};
  return "HTTP status " + std::to_string(statusCode);
}

void TAddressStatusList::Clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  count_ = 0;
  failed_ = 0;
}

void TAddressStatusList::Add(TAddressStatus status) {
  std::lock_guard lock(mutex_);
  if (status.Failed()) ++failed_;
  ++count_;
  if (!keep_) {
    if (listener_) listener_(status);
    return;
  }
  records_.push_back(std::move(status));
  if (listener_) listener_(records_.back());
}

std::vector<TAddressStatus> TAddressStatusList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t TAddressStatusList::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

int32_t TAddressStatusList::FailedCount() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

void TAddressStatusList::SetListener(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace qm

namespace qm {

void TAddressStatusList::SetKeepRecords(bool keep) {
  std::lock_guard lock(mutex_);
  keep_ = keep;
}

}  // namespace qm
