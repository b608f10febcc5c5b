#include "engine/address_status.h"

namespace qm {

std::string HttpStatusFailure(int32_t statusCode) {
  if (statusCode < 400) return {};
  return "HTTP status " + std::to_string(statusCode);
}

void TAddressStatusList::Clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
  failed_ = 0;
}

void TAddressStatusList::Add(TAddressStatus status) {
  std::lock_guard lock(mutex_);
  if (status.Failed()) ++failed_;
  records_.push_back(std::move(status));
  if (listener_) listener_(records_.back());
}

std::vector<TAddressStatus> TAddressStatusList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t TAddressStatusList::Count() const {
  std::lock_guard lock(mutex_);
  return records_.size();
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
