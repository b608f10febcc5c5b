#pragma once
// The check of every row of a run: an e-mail address's lengths, top-level domain, local part,
// throwaway domain and mail servers; a mobile number's range. Lookups are asynchronous (the
// resolver's thread), so finding rows never waits for DNS; whoever needs a row's flags asks
// for them, waiting at most until the lookup's deadline.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "verify/mail_domain_resolver.h"
#include "verify/public_suffixes.h"

namespace qm::verify {

// Which list a row is of, in the order of the result lists.
inline constexpr int kEmailRow = 0;
inline constexpr int kMobileRow = 1;
inline constexpr int kQQRow = 2;

struct TVerifyOptions {
  bool Lookups = true;  // off: no DNS at all; e-mails that pass the rest are "unchecked"
  std::string Resolver;  // "ADDR:PORT"; empty: the system's resolvers
  std::chrono::milliseconds Deadline{5000};
  std::string PublicSuffixFile = kDebianPublicSuffixList;
};

struct TRowCheck {
  std::string Flags;   // as FlagsText writes them
  std::string Reason;  // why the domain takes no mail or was not checked; else empty
};

class TContactVerifier {
 public:
  using Clock = TMailDomainResolver::Clock;

  // Throws EVerifyError for a resolver that is no ADDR:PORT.
  explicit TContactVerifier(TVerifyOptions options);

  // Starts what the row's check needs (its domain's lookup); never waits.
  void Request(int kind, std::string_view row);
  // The row's check, waiting for its lookup until `until` at most: a lookup still pending
  // then leaves the row "unchecked".
  TRowCheck Check(int kind, std::string_view row, Clock::time_point until = Clock::time_point::max());
  // The check when nothing is left to wait for; nullopt while its lookup is pending (asked
  // for here when it was not yet).
  std::optional<TRowCheck> CheckIfSettled(int kind, std::string_view row);
  // CheckIfSettled's flags alone, as FlagsWords keeps them: nothing built for a row that
  // only shows its flags.
  std::optional<std::string_view> SettledFlags(int kind, std::string_view row);

  const TVerifyOptions& Options() const { return options_; }
  // Null when lookups are off.
  const TMailDomainResolver* Resolver() const { return resolver_.get(); }

 private:
  // The flags that need no lookup; `lookup` gets the domain to ask about, if any.
  uint32_t StaticFlags(int kind, std::string_view row, std::string_view& lookup) const;
  TRowCheck Combine(uint32_t flags, const TDomainResult& mail) const;
  // kBadTld and kDisposable of a domain, looked up in their lists once per domain.
  uint32_t DomainFlags(std::string_view domain) const;

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  TVerifyOptions options_;
  TPublicSuffixList suffixes_;
  std::unique_ptr<TMailDomainResolver> resolver_;
  // The rows of a site share a few domains.
  mutable std::mutex domainLock_;
  mutable std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>> domainFlags_;
};

}  // namespace qm::verify
