#include "verify/contact_verifier.h"

#include "verify/check_flags.h"
#include "verify/disposable_domains.h"
#include "verify/email_checks.h"
#include "verify/mobile_ranges.h"

namespace qm::verify {

TContactVerifier::TContactVerifier(TVerifyOptions options)
    : options_(std::move(options)), suffixes_(TPublicSuffixList::Load(options_.PublicSuffixFile)) {
  if (options_.Lookups) {
    TMailDomainResolver::Options resolverOptions;
    resolverOptions.Server = options_.Resolver;
    resolverOptions.Deadline = options_.Deadline;
    resolver_ = std::make_unique<TMailDomainResolver>(resolverOptions);
  }
}

uint32_t TContactVerifier::StaticFlags(int kind, std::string_view row,
                                       std::string_view& lookup) const {
  lookup = {};
  if (kind == kMobileRow) return InMobileNumberPlan(row) ? 0 : kBadRange;
  if (kind != kEmailRow) return 0;
  TEmailParts parts;
  if (!SplitEmail(row, parts)) return kNoMail;
  uint32_t flags = 0;
  if (EmailTooLong(row, parts)) flags |= kTooLong;
  flags |= DomainFlags(parts.Domain);
  if (IsRoleLocalPart(parts.Local)) flags |= kRole;
  // A domain that cannot exist or only throws mail away is not worth a question.
  if ((flags & (kTooLong | kBadTld | kDisposable)) == 0) lookup = parts.Domain;
  return flags;
}

uint32_t TContactVerifier::DomainFlags(std::string_view domain) const {
  {
    std::lock_guard lock(domainLock_);
    if (const auto found = domainFlags_.find(domain); found != domainFlags_.end()) {
      return found->second;
    }
  }
  uint32_t flags = 0;
  // Without the list (no publicsuffix installed) no domain is called bad.
  if (!suffixes_.Empty() &&
      (!suffixes_.KnownTopLevel(domain) || suffixes_.IsPublicSuffix(domain))) {
    flags |= kBadTld;
  }
  if (IsDisposableDomain(domain)) flags |= kDisposable;
  std::lock_guard lock(domainLock_);
  domainFlags_.emplace(domain, flags);
  return flags;
}

TRowCheck TContactVerifier::Combine(uint32_t flags, const TDomainResult& mail) const {
  switch (mail.Answer) {
    case TMailAnswer::Mail:
      return {FlagsText(flags), {}};
    case TMailAnswer::NoMail:
      return {FlagsText(flags | kNoMail), mail.Reason};
    case TMailAnswer::Unchecked:
      return {FlagsText(flags | kUnchecked), mail.Reason};
    case TMailAnswer::Pending:
      break;
  }
  return {FlagsText(flags | kUnchecked), "no answer yet"};
}

void TContactVerifier::Request(int kind, std::string_view row) {
  if (!resolver_) return;
  std::string_view domain;
  StaticFlags(kind, row, domain);
  if (!domain.empty()) resolver_->Request(domain);
}

TRowCheck TContactVerifier::Check(int kind, std::string_view row, Clock::time_point until) {
  std::string_view domain;
  const uint32_t flags = StaticFlags(kind, row, domain);
  if (domain.empty()) return {FlagsText(flags), {}};
  if (!resolver_) return {FlagsText(flags | kUnchecked), "lookups are off"};
  return Combine(flags, resolver_->Wait(domain, until));
}

std::optional<TRowCheck> TContactVerifier::CheckIfSettled(int kind, std::string_view row) {
  std::string_view domain;
  const uint32_t flags = StaticFlags(kind, row, domain);
  if (domain.empty()) return TRowCheck{FlagsText(flags), {}};
  if (!resolver_) return TRowCheck{FlagsText(flags | kUnchecked), "lookups are off"};
  const TDomainResult mail = resolver_->Request(domain);
  if (mail.Answer == TMailAnswer::Pending) return std::nullopt;
  return Combine(flags, mail);
}

std::optional<std::string_view> TContactVerifier::SettledFlags(int kind, std::string_view row) {
  std::string_view domain;
  uint32_t flags = StaticFlags(kind, row, domain);
  if (domain.empty()) return FlagsWords(flags);
  if (!resolver_) return FlagsWords(flags | kUnchecked);
  switch (resolver_->RequestAnswer(domain)) {
    case TMailAnswer::Pending:
      return std::nullopt;
    case TMailAnswer::Mail:
      break;
    case TMailAnswer::NoMail:
      flags |= kNoMail;
      break;
    case TMailAnswer::Unchecked:
      flags |= kUnchecked;
      break;
  }
  return FlagsWords(flags);
}

}  // namespace qm::verify
