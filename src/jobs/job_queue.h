#pragma once
// A job shared by many machines through PostgreSQL: its lines are rows that workers claim
// with SELECT ... FOR UPDATE SKIP LOCKED under leases that expire, one machine at a time
// per site (a lease on the site's host), each line done once it is searched and its rows
// are stored, or failed after three tries.
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/pg_connection.h"

namespace qm {

// The tries a line gets before it is failed with the reason of the last.
inline constexpr int kLineAttempts = 3;

enum class TLineState { Pending = 0, Leased = 1, Done = 2, Failed = 3 };

struct TSubmittedJob {
  int64_t Id = 0;
  int64_t Lines = 0;
  int64_t Sites = 0;
  int64_t BlankLines = 0;
};

struct TClaimedLine {
  int32_t LineNumber = 0;
  std::string Address;
};

// A site of a claim: held by one worker at a time over the whole job, until its lines are
// all searched or given back, so that its search goes on from claim to claim.
struct TClaimedSite {
  std::string Name;
  // Hosts its listed pages redirected to, in this claim or earlier: their lines are its.
  std::vector<std::string> OtherHosts;
  // Followed pages of the site stored so far in the job, against its page limit, and their
  // addresses (with those they were redirected to), not to be fetched again.
  int32_t FollowedPages = 0;
  std::vector<std::string> FollowedAddresses;
};

// Lines of one job, claimed together with the leases of their sites.
struct TClaim {
  int64_t Job = 0;
  int64_t Run = 0;  // where the job's pages and rows are stored
  std::string Settings;
  std::vector<TClaimedLine> Lines;  // in list order
  std::vector<TClaimedSite> Sites;
};

// A host a listed page of the site redirected to.
struct TJoinedHost {
  std::string Site;
  std::string Host;
};

// What became of a claimed line.
struct TLineOutcome {
  int32_t LineNumber = 0;
  enum class TKind {
    Done,     // searched, its rows stored
    Retry,    // its listed page failed: tried again unless its tries are used up
    Failed,   // failed for good (an answer that asking again cannot change)
    Release,  // not searched (the worker stops): back to the job as it was
  } Kind = TKind::Done;
  std::string Reason;
};

struct TJobStatus {
  int64_t Id = 0;
  std::string ListFile;
  std::string Settings;
  bool Complete = false;
  int64_t Lines = 0;
  int64_t Pending = 0, InFlight = 0, Done = 0, Failed = 0;
  int64_t Pages = 0, FailedPages = 0, Rows = 0;
  double PagesPerSecond = 0;
  int64_t WorkersLastMinute = 0;
};

// A failure a user can act on (a job submitted twice, a job that does not exist).
class EJobError : public EStoreError {
 public:
  using EStoreError::EStoreError;
};

class TJobQueue {
 public:
  // `holder` names this worker in the leases; `lease` is how long a claim holds without
  // being renewed.
  TJobQueue(store::TPgConnection& db, std::string holder, std::chrono::seconds lease);

  // Reads the list (same line rules as a harvest) and makes it a job. A list whose bytes and
  // settings match an open job's is refused unless `again`.
  static TSubmittedJob Submit(store::TPgConnection& db, const std::string& listPath,
                              const std::string& settings, bool again);

  // In one transaction: records the outcomes of the last claim and the hosts its sites were
  // found to have, then claims up to `maxLines` lines, those of the sites this worker holds
  // first, then of open sites of `job` (or of the last claim's job, else the oldest open job
  // that has some). An empty claim when none is free now. With `maxLines` 0 the worker
  // gives back every site it holds.
  TClaim FinishAndClaim(const TClaim& last, const std::vector<TLineOutcome>& outcomes,
                        std::optional<int64_t> job, int maxLines,
                        const std::vector<TJoinedHost>& joined = {});
  // Extends the leases this worker holds and says it is alive.
  void Renew(int64_t job);
  // True when the job (or every job) has no line left pending or in flight; marks such a
  // job complete.
  bool Complete(std::optional<int64_t> job);

  static TJobStatus Status(store::TPgConnection& db, int64_t job);
  // Every job, oldest first.
  static std::vector<int64_t> Jobs(store::TPgConnection& db);
  // The job's run, or EJobError naming the database when there is no such job.
  static int64_t RunOfJob(store::TPgConnection& db, int64_t job);

  const std::string& Holder() const { return holder_; }

 private:
  void RecordOutcomes(const TClaim& last, const std::vector<TLineOutcome>& outcomes,
                      const std::vector<TJoinedHost>& joined, bool givingUp);
  void RecordJoinedHosts(int64_t job, const std::vector<TJoinedHost>& joined);
  // Sites named as another's redirect hosts, held by nobody, hand their open lines to it.
  void MergeRedirectHosts(int64_t job);
  TClaim ClaimFrom(int64_t job, int maxLines);
  void ReadFollowedAddresses(int64_t job, std::vector<TClaimedSite>& sites);
  // Leases up to `room` open lines of `sites` (in that order of sites) into `claim`.
  void ClaimLinesOf(int64_t job, const std::vector<TClaimedSite>& sites, int room, TClaim& claim,
                    std::set<std::string>& withLines);
  void FailExhaustedLines(int64_t job);

  store::TPgConnection& db_;
  const std::string holder_;
  const std::string lease_;  // seconds, as text
};

// The site a list line's address belongs to for the host leases: its host without "www.";
// an address without a host is a site of its own.
std::string JobSiteOf(std::string_view address, int32_t lineNumber);

}  // namespace qm
