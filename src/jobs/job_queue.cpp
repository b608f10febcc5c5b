#include "jobs/job_queue.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "crawl/crawl_address.h"
#include "engine/url_list_reader.h"
#include "text/errors.h"

namespace qm {
namespace {

using store::TPgConnection;
using store::TPgParams;
using store::TPgResult;

// Held while a job is submitted, so that the same list sent twice at once is one job.
constexpr const char* kSubmitLock = "SELECT pg_advisory_xact_lock(1364546132)";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    throw EStoreError("Cannot compute the digest of " + path);
  }
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    EVP_DigestUpdate(context, buffer, static_cast<size_t>(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(context, digest, &size);
  EVP_MD_CTX_free(context);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

// A field of COPY's text format.
void AppendCopyField(std::string& out, std::string_view text) {
  for (const char c : store::StorableText(text)) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

std::string Seconds(std::chrono::seconds lease) {
  return std::to_string(lease.count());
}

}  // namespace

std::string JobSiteOf(std::string_view address, int32_t lineNumber) {
  std::string site = SiteHostOf(WithDefaultScheme(address));
  if (site.empty()) site = "#" + std::to_string(lineNumber);
  return site;
}

TJobQueue::TJobQueue(TPgConnection& db, std::string holder, std::chrono::seconds lease)
    : db_(db), holder_(std::move(holder)), lease_(Seconds(lease)) {}

TSubmittedJob TJobQueue::Submit(TPgConnection& db, const std::string& listPath,
                                const std::string& settings, bool again) {
  // Read before anything is written: a list that cannot be read makes no job.
  std::unique_ptr<TUrlListReader> reader = TUrlListReader::Open(listPath);
  std::string copy;
  TSubmittedJob job;
  std::set<std::string> sites;
  std::string line;
  int32_t number = 0;
  while (reader->ReadLine(line)) {
    if (number == std::numeric_limits<int32_t>::max()) {
      throw EJobError(listPath + " has more lines than a job can hold (" + std::to_string(number) +
                      ")");
    }
    ++number;
    const std::string_view address = UrlOfLine(line);
    copy += std::to_string(number) + '\t';
    AppendCopyField(copy, address);
    copy += '\t';
    if (address.empty()) {
      copy += "\t2\tblank line\n";
      ++job.BlankLines;
      continue;
    }
    const std::string site = JobSiteOf(address, number);
    AppendCopyField(copy, site);
    copy += "\t0\t\n";
    sites.insert(site);
  }
  job.Lines = number;
  job.Sites = static_cast<int64_t>(sites.size());
  if (job.Lines == 0) throw EJobError(listPath + " has no line: there is nothing to submit");
  const std::string digest = FileDigest(listPath);

  db.Transaction([&] {
    db.Exec(kSubmitLock);
    const TPgResult earlier = db.Exec(
        "SELECT id, state, created_ms FROM jobs WHERE list_digest = $1 AND settings = $2 "
        "ORDER BY id DESC LIMIT 1",
        TPgParams().Add(digest).Add(settings));
    if (earlier.Rows() > 0 && !again) {
      throw EJobError(
          "this list was submitted already with the same settings, as job " + earlier.Text(0, 0) +
          (earlier.Int(0, 1) == 0 ? " (still open: its workers go on with it)" : " (complete)") +
          "; to submit it once more as a new job, add --again");
    }
    const int64_t run = db.Exec(
                              "INSERT INTO runs (list_file, settings, started_ms, saved_position) "
                              "VALUES ($1, $2, $3, 0) RETURNING id",
                              TPgParams().Add(listPath).Add(settings).Add(NowMs()))
                            .Int(0, 0);
    job.Id = db.Exec(
                   "INSERT INTO jobs (run, list_file, list_digest, settings, line_count, "
                   "created_ms) VALUES ($1, $2, $3, $4, $5, $6) RETURNING id",
                   TPgParams().Add(run).Add(listPath).Add(digest).Add(settings).Add(job.Lines).Add(
                       NowMs()))
                 .Int(0, 0);
    // COPY has no parameters: the job's id is filled in after.
    db.Exec(
        "CREATE TEMPORARY TABLE IF NOT EXISTS submitted_lines (line_number integer, "
        "address text, site text, state smallint, reason text) ON COMMIT DELETE ROWS");
    db.Copy("COPY submitted_lines FROM STDIN", copy);
    db.Exec(
        "INSERT INTO job_lines (job, line_number, address, site, state, reason) "
        "SELECT $1, line_number, address, site, state, reason FROM submitted_lines",
        TPgParams().Add(job.Id));
    db.Exec(
        "INSERT INTO job_sites (job, site, first_line) SELECT job, site, min(line_number) "
        "FROM job_lines WHERE job = $1 AND state = 0 GROUP BY job, site",
        TPgParams().Add(job.Id));
  });
  return job;
}

void TJobQueue::RecordOutcomes(const TClaim& last, const std::vector<TLineOutcome>& outcomes,
                               const std::vector<TJoinedHost>& joined, bool givingUp) {
  if (last.Job == 0) return;
  std::vector<int64_t> done, released, retried, failed;
  std::vector<std::string> retryReasons, failReasons;
  for (const TLineOutcome& outcome : outcomes) {
    switch (outcome.Kind) {
      case TLineOutcome::TKind::Done:
        done.push_back(outcome.LineNumber);
        break;
      case TLineOutcome::TKind::Release:
        released.push_back(outcome.LineNumber);
        break;
      case TLineOutcome::TKind::Retry:
        retried.push_back(outcome.LineNumber);
        retryReasons.push_back(outcome.Reason);
        break;
      case TLineOutcome::TKind::Failed:
        failed.push_back(outcome.LineNumber);
        failReasons.push_back(outcome.Reason);
        break;
    }
  }
  // Rows of a line are stored before it is done; a line another worker took over after
  // this one's lease ran out is done all the same, as its rows are.
  if (!done.empty()) {
    db_.Exec(
        "UPDATE job_lines SET state = 2, lease_holder = '', lease_expiry = NULL, "
        "reason = '' WHERE job = $1 AND line_number = ANY($2::int[]) AND state <> 2",
        TPgParams().Add(last.Job).AddArray(done));
  }
  if (!retried.empty()) {
    db_.Exec(
        "UPDATE job_lines l SET state = CASE WHEN l.attempts >= $4 THEN 3 ELSE 0 END, "
        "lease_holder = '', lease_expiry = NULL, reason = o.r, "
        "failed_searches = l.failed_searches + 1 FROM unnest($2::int[], "
        "$3::text[]) AS o(n, r) WHERE l.job = $1 AND l.line_number = o.n AND l.state < 2",
        TPgParams().Add(last.Job).AddArray(retried).AddArray(retryReasons).Add(kLineAttempts));
  }
  if (!failed.empty()) {
    db_.Exec(
        "UPDATE job_lines l SET state = 3, lease_holder = '', lease_expiry = NULL, "
        "reason = o.r FROM unnest($2::int[], $3::text[]) AS o(n, r) "
        "WHERE l.job = $1 AND l.line_number = o.n AND l.state < 2",
        TPgParams().Add(last.Job).AddArray(failed).AddArray(failReasons));
  }
  // A line this worker did not search does not count as one of its tries.
  if (!released.empty()) {
    db_.Exec(
        "UPDATE job_lines SET state = 0, lease_holder = '', lease_expiry = NULL, "
        "attempts = greatest(attempts - 1, 0) WHERE job = $1 AND "
        "line_number = ANY($2::int[]) AND state = 1 AND lease_holder = $3",
        TPgParams().Add(last.Job).AddArray(released).Add(holder_));
  }
  // Lines open again keep their sites open, whoever holds them now.
  std::vector<int64_t> reopened = retried;
  reopened.insert(reopened.end(), released.begin(), released.end());
  if (!reopened.empty()) {
    db_.Exec(
        "UPDATE job_sites s SET open = true WHERE s.job = $1 AND NOT s.open AND s.site IN "
        "(SELECT site FROM job_lines WHERE job = $1 AND line_number = ANY($2::int[]) AND "
        "state = 0)",
        TPgParams().Add(last.Job).AddArray(reopened));
  }
  RecordJoinedHosts(last.Job, joined);
  // A site with lines left stays with this worker, whose next claim goes on with it, unless
  // the worker gives up.
  std::vector<std::string> sites;
  for (const TClaimedSite& site : last.Sites) sites.push_back(site.Name);
  db_.Exec(
      "UPDATE job_sites s SET open = o.open, holder = CASE WHEN o.open AND NOT $4 THEN "
      "s.holder ELSE '' END, lease_expiry = CASE WHEN o.open AND NOT $4 THEN s.lease_expiry "
      "END FROM (SELECT x.site, EXISTS (SELECT 1 FROM job_lines l WHERE l.job = x.job AND "
      "l.site = x.site AND l.state < 2) AS open FROM job_sites x WHERE x.job = $1 AND "
      "x.holder = $3 AND ($4 OR x.site = ANY($2::text[]))) o WHERE s.job = $1 AND "
      "s.site = o.site",
      TPgParams().Add(last.Job).AddArray(sites).Add(holder_).Add(givingUp ? "true" : "false"));
}

void TJobQueue::RecordJoinedHosts(int64_t job, const std::vector<TJoinedHost>& joined) {
  if (joined.empty()) return;
  std::vector<std::string> sites, hosts;
  for (const TJoinedHost& join : joined) {
    sites.push_back(join.Site);
    hosts.push_back(join.Host);
  }
  // A site that is itself another's host hands its new host on to that one, so that every
  // host names the site that takes its lines directly.
  db_.Exec(
      "INSERT INTO job_site_hosts (job, host, site, settled) SELECT $1, j.h, "
      "coalesce(o.site, j.s), NOT EXISTS (SELECT 1 FROM job_sites s WHERE s.job = $1 AND "
      "s.site = j.h AND s.open) FROM unnest($2::text[], $3::text[]) AS j(s, h) LEFT JOIN "
      "job_site_hosts o ON o.job = $1 AND o.host = j.s WHERE j.h <> coalesce(o.site, j.s) "
      "ON CONFLICT (job, host) DO NOTHING",
      TPgParams().Add(job).AddArray(sites).AddArray(hosts));
}

void TJobQueue::MergeRedirectHosts(int64_t job) {
  const TPgResult found = db_.Exec(
      "SELECT s.site, h.site, s.first_line FROM job_site_hosts h JOIN job_sites s ON "
      "s.job = h.job AND s.site = h.host WHERE h.job = $1 AND NOT h.settled AND s.open AND "
      "h.site <> s.site AND "
      "(s.holder = '' OR s.lease_expiry < now()) FOR UPDATE OF s SKIP LOCKED",
      TPgParams().Add(job));
  if (found.Rows() == 0) return;
  std::vector<std::string> hosts, sites;
  std::vector<int64_t> firstLines;
  for (int i = 0; i < found.Rows(); ++i) {
    hosts.push_back(found.Text(i, 0));
    sites.push_back(found.Text(i, 1));
    firstLines.push_back(found.Int(i, 2));
  }
  const TPgParams moves = TPgParams().Add(job).AddArray(hosts).AddArray(sites).AddArray(firstLines);
  db_.Exec(
      "UPDATE job_lines l SET site = m.site FROM unnest($2::text[], $3::text[], $4::int[]) AS "
      "m(host, site, first) WHERE l.job = $1 AND l.site = m.host AND l.state < 2",
      moves);
  db_.Exec(
      "UPDATE job_sites SET open = false, holder = '', lease_expiry = NULL WHERE job = $1 AND "
      "site = ANY($2::text[])",
      TPgParams().Add(job).AddArray(hosts));
  // Its followed pages were of the site too.
  db_.Exec(
      "UPDATE job_sites t SET open = true, first_line = least(t.first_line, m.first), "
      "followed_pages = t.followed_pages + m.followed FROM (SELECT u.site, min(u.first) AS first, "
      "sum(h.followed_pages)::int AS followed FROM unnest($2::text[], $3::text[], $4::int[]) AS "
      "u(host, site, first) JOIN job_sites h ON h.job = $1 AND h.site = u.host GROUP BY u.site) "
      "m WHERE t.job = $1 AND t.site = m.site",
      moves);
  db_.Exec("UPDATE job_sites SET followed_pages = 0 WHERE job = $1 AND site = ANY($2::text[])",
           TPgParams().Add(job).AddArray(hosts));
  db_.Exec(
      "UPDATE job_site_pages p SET site = m.site FROM unnest($2::text[], $3::text[]) AS "
      "m(host, site) WHERE p.job = $1 AND p.site = m.host",
      TPgParams().Add(job).AddArray(hosts).AddArray(sites));
  // Hosts that named a merged site name the site it joined.
  db_.Exec(
      "UPDATE job_site_hosts h SET site = m.site FROM unnest($2::text[], $3::text[]) AS "
      "m(host, site) WHERE h.job = $1 AND h.site = m.host",
      TPgParams().Add(job).AddArray(hosts).AddArray(sites));
  db_.Exec("UPDATE job_site_hosts SET settled = true WHERE job = $1 AND host = ANY($2::text[])",
           TPgParams().Add(job).AddArray(hosts));
}

void TJobQueue::FailExhaustedLines(int64_t job) {
  // Lines whose workers ended (or lost the server) before finishing them, too often.
  db_.Exec(
      "UPDATE job_lines SET state = 3, reason = 'its worker ended before searching it, "
      "' || attempts || ' times (last: ' || lease_holder || ')', lease_holder = '', "
      "lease_expiry = NULL WHERE job = $1 AND state = 1 AND lease_expiry < now() AND "
      "attempts >= $2",
      TPgParams().Add(job).Add(kLineAttempts));
}

namespace {

// The columns every query that hands out sites returns: name, first line, followed pages
// and its other hosts, one a line.
constexpr const char* kSiteColumns =
    "s.site, s.first_line, s.followed_pages, coalesce((SELECT string_agg(h.host, E'\\n' "
    "ORDER BY h.host) FROM job_site_hosts h WHERE h.job = s.job AND h.site = s.site), '')";

std::vector<TClaimedSite> SitesOf(const TPgResult& result) {
  std::vector<std::pair<int64_t, TClaimedSite>> ordered;
  for (int i = 0; i < result.Rows(); ++i) {
    TClaimedSite site;
    site.Name = result.Text(i, 0);
    site.FollowedPages = static_cast<int32_t>(result.Int(i, 2));
    const std::string hosts = result.Text(i, 3);
    for (size_t start = 0; start < hosts.size();) {
      const size_t end = std::min(hosts.find('\n', start), hosts.size());
      site.OtherHosts.push_back(hosts.substr(start, end - start));
      start = end + 1;
    }
    ordered.emplace_back(result.Int(i, 1), std::move(site));
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TClaimedSite> sites;
  for (auto& [first, site] : ordered) sites.push_back(std::move(site));
  return sites;
}

std::vector<std::string> NamesOf(const std::vector<TClaimedSite>& sites) {
  std::vector<std::string> names;
  for (const TClaimedSite& site : sites) names.push_back(site.Name);
  return names;
}

}  // namespace

void TJobQueue::ClaimLinesOf(int64_t job, const std::vector<TClaimedSite>& sites, int room,
                             TClaim& claim, std::set<std::string>& withLines) {
  if (sites.empty() || room <= 0) return;
  const TPgResult lines = db_.Exec(
      "UPDATE job_lines l SET state = 1, lease_holder = $2, "
      "lease_expiry = now() + $5::int * interval '1 second', attempts = l.attempts + 1 "
      "FROM (SELECT line_number FROM job_lines WHERE job = $1 AND site = ANY($3::text[]) AND "
      "(state = 0 OR (state = 1 AND lease_expiry < now())) "
      "ORDER BY array_position($3::text[], site), line_number LIMIT $4 "
      "FOR UPDATE SKIP LOCKED) c "
      "WHERE l.job = $1 AND l.line_number = c.line_number RETURNING l.line_number, l.address, "
      "l.site",
      TPgParams().Add(job).Add(holder_).AddArray(NamesOf(sites)).Add(room).Add(lease_));
  for (int i = 0; i < lines.Rows(); ++i) {
    claim.Lines.push_back({static_cast<int32_t>(lines.Int(i, 0)), lines.Text(i, 1)});
    withLines.insert(lines.Text(i, 2));
  }
}

void TJobQueue::ReadFollowedAddresses(int64_t job, std::vector<TClaimedSite>& sites) {
  std::map<std::string, TClaimedSite*> searchedBefore;
  for (TClaimedSite& site : sites) {
    if (site.FollowedPages > 0) searchedBefore.emplace(site.Name, &site);
  }
  if (searchedBefore.empty()) return;
  std::vector<std::string> names;
  for (const auto& [name, site] : searchedBefore) names.push_back(name);
  const TPgResult pages = db_.Exec(
      "SELECT site, url, final_url FROM job_site_pages WHERE job = $1 AND site = ANY($2::text[])",
      TPgParams().Add(job).AddArray(names));
  for (int i = 0; i < pages.Rows(); ++i) {
    std::vector<std::string>& addresses = searchedBefore.at(pages.Text(i, 0))->FollowedAddresses;
    addresses.push_back(pages.Text(i, 1));
    if (pages.Text(i, 2) != pages.Text(i, 1)) addresses.push_back(pages.Text(i, 2));
  }
}

TClaim TJobQueue::ClaimFrom(int64_t job, int maxLines) {
  TClaim claim;
  const TPgResult jobRow =
      db_.Exec("SELECT run, settings FROM jobs WHERE id = $1 AND state = 0", TPgParams().Add(job));
  if (jobRow.Rows() == 0) return claim;
  FailExhaustedLines(job);
  MergeRedirectHosts(job);
  std::set<std::string> withLines;
  // The sites this worker holds go on first: a site is searched by one worker until its
  // lines are all searched.
  std::vector<TClaimedSite> sites = SitesOf(db_.Exec(
      std::string("UPDATE job_sites s SET lease_expiry = now() + $3::int * interval '1 second' "
                  "WHERE s.job = $1 AND s.holder = $2 AND s.open RETURNING ") +
          kSiteColumns,
      TPgParams().Add(job).Add(holder_).Add(lease_)));
  ClaimLinesOf(job, sites, maxLines, claim, withLines);
  const int room = maxLines - static_cast<int>(claim.Lines.size());
  if (room > 0) {
    std::vector<TClaimedSite> picked = SitesOf(db_.Exec(
        std::string("WITH picked AS (SELECT site FROM job_sites WHERE job = $1 AND open AND "
                    "(holder = '' OR lease_expiry < now()) ORDER BY first_line LIMIT $3 "
                    "FOR UPDATE SKIP LOCKED) "
                    "UPDATE job_sites s SET holder = $2, lease_expiry = now() + $4::int * interval "
                    "'1 second' FROM picked WHERE s.job = $1 AND s.site = picked.site RETURNING ") +
            kSiteColumns,
        TPgParams().Add(job).Add(holder_).Add(room).Add(lease_)));
    ClaimLinesOf(job, picked, room, claim, withLines);
    for (TClaimedSite& site : picked) sites.push_back(std::move(site));
  }
  std::vector<std::string> idle;
  for (TClaimedSite& site : sites) {
    if (withLines.count(site.Name) == 0) {
      idle.push_back(std::move(site.Name));
    } else {
      claim.Sites.push_back(std::move(site));
    }
  }
  // Sites picked beyond the lines claimed, or with nothing left to claim, go back at once.
  if (!idle.empty()) {
    db_.Exec(
        "UPDATE job_sites s SET holder = '', lease_expiry = NULL, open = EXISTS "
        "(SELECT 1 FROM job_lines l WHERE l.job = s.job AND l.site = s.site AND "
        "l.state < 2) WHERE s.job = $1 AND s.site = ANY($2::text[])",
        TPgParams().Add(job).AddArray(idle));
  }
  if (claim.Lines.empty()) return claim;
  ReadFollowedAddresses(job, claim.Sites);
  std::sort(
      claim.Lines.begin(), claim.Lines.end(),
      [](const TClaimedLine& a, const TClaimedLine& b) { return a.LineNumber < b.LineNumber; });
  db_.Exec("UPDATE jobs SET first_claim_ms = $2 WHERE id = $1 AND first_claim_ms = 0",
           TPgParams().Add(job).Add(NowMs()));
  // Seen with every claim, not only when its leases are renewed.
  db_.Exec(
      "INSERT INTO job_workers (name, job, last_seen) VALUES ($1, $2, now()) "
      "ON CONFLICT (name) DO UPDATE SET job = excluded.job, last_seen = now()",
      TPgParams().Add(holder_).Add(job));
  claim.Job = job;
  claim.Run = jobRow.Int(0, 0);
  claim.Settings = jobRow.Text(0, 1);
  return claim;
}

TClaim TJobQueue::FinishAndClaim(const TClaim& last, const std::vector<TLineOutcome>& outcomes,
                                 std::optional<int64_t> job, int maxLines,
                                 const std::vector<TJoinedHost>& joined) {
  TClaim claim;
  db_.Transaction([&] {
    claim = {};
    RecordOutcomes(last, outcomes, joined, maxLines <= 0);
    if (maxLines <= 0) return;
    if (job) {
      claim = ClaimFrom(*job, maxLines);
      return;
    }
    // The last claim's job first: the sites this worker holds there go on.
    if (last.Job != 0) claim = ClaimFrom(last.Job, maxLines);
    if (!claim.Lines.empty()) return;
    const TPgResult open = db_.Exec("SELECT id FROM jobs WHERE state = 0 ORDER BY id");
    for (int i = 0; i < open.Rows() && claim.Lines.empty(); ++i) {
      if (open.Int(i, 0) != last.Job) claim = ClaimFrom(open.Int(i, 0), maxLines);
    }
  });
  return claim;
}

void TJobQueue::Renew(int64_t job) {
  db_.Transaction([&] {
    db_.Exec(
        "WITH l AS (UPDATE job_lines SET lease_expiry = now() + $3::int * interval "
        "'1 second' WHERE job = $1 AND state = 1 AND lease_holder = $2 RETURNING 1), "
        "s AS (UPDATE job_sites SET lease_expiry = now() + $3::int * interval '1 second' "
        "WHERE job = $1 AND holder = $2 RETURNING 1) "
        "INSERT INTO job_workers (name, job, last_seen) VALUES ($2, $1, now()) "
        "ON CONFLICT (name) DO UPDATE SET job = excluded.job, last_seen = now()",
        TPgParams().Add(job).Add(holder_).Add(lease_));
  });
}

bool TJobQueue::Complete(std::optional<int64_t> job) {
  bool complete = true;
  db_.Transaction([&] {
    complete = true;
    const TPgResult open =
        job ? db_.Exec("SELECT id, run, line_count FROM jobs WHERE id = $1 AND state = 0",
                       TPgParams().Add(*job))
            : db_.Exec("SELECT id, run, line_count FROM jobs WHERE state = 0 ORDER BY id");
    for (int i = 0; i < open.Rows(); ++i) {
      const int64_t id = open.Int(i, 0);
      FailExhaustedLines(id);
      const bool left = db_.Exec("SELECT 1 FROM job_lines WHERE job = $1 AND state < 2 LIMIT 1",
                                 TPgParams().Add(id))
                            .Rows() > 0;
      if (left) {
        complete = false;
        continue;
      }
      db_.Exec("UPDATE jobs SET state = 1, ended_ms = $2 WHERE id = $1 AND state = 0",
               TPgParams().Add(id).Add(NowMs()));
      db_.Exec("UPDATE runs SET ended_ms = $2, saved_position = $3, finished = 1 WHERE id = $1",
               TPgParams().Add(open.Int(i, 1)).Add(NowMs()).Add(open.Int(i, 2)));
    }
  });
  return complete;
}

TJobStatus TJobQueue::Status(TPgConnection& db, int64_t job) {
  TJobStatus status;
  db.Transaction([&] {
    status = {};
    const TPgResult row = db.Exec(
        "SELECT list_file, settings, state, line_count, run, first_claim_ms, ended_ms "
        "FROM jobs WHERE id = $1",
        TPgParams().Add(job));
    if (row.Rows() == 0) {
      throw EJobError("There is no job " + std::to_string(job) + " in the PostgreSQL database " +
                      store::ShownUrl(db.Url()));
    }
    status.Id = job;
    status.ListFile = row.Text(0, 0);
    status.Settings = row.Text(0, 1);
    status.Complete = row.Int(0, 2) == 1;
    status.Lines = row.Int(0, 3);
    const int64_t run = row.Int(0, 4);
    const int64_t firstClaim = row.Int(0, 5);
    const int64_t ended = row.Int(0, 6);
    const TPgResult states =
        db.Exec("SELECT state, count(*) FROM job_lines WHERE job = $1 GROUP BY state",
                TPgParams().Add(job));
    for (int i = 0; i < states.Rows(); ++i) {
      const int64_t count = states.Int(i, 1);
      switch (states.Int(i, 0)) {
        case 0:
          status.Pending = count;
          break;
        case 1:
          status.InFlight = count;
          break;
        case 2:
          status.Done = count;
          break;
        default:
          status.Failed = count;
      }
    }
    const TPgResult tallies = db.Exec(
        "SELECT coalesce(sum(page_count), 0), coalesce(sum(failed_page_count), 0), "
        "coalesce(sum(row_count), 0), coalesce(max(updated_ms), 0) FROM run_tallies "
        "WHERE run = $1",
        TPgParams().Add(run));
    status.Pages = tallies.Int(0, 0);
    status.FailedPages = tallies.Int(0, 1);
    status.Rows = tallies.Int(0, 2);
    const int64_t lastWrite = tallies.Int(0, 3);
    const int64_t until =
        status.Complete ? std::max(ended > 0 ? std::min(ended, lastWrite) : 0, lastWrite) : NowMs();
    if (firstClaim > 0 && until > firstClaim) {
      status.PagesPerSecond =
          static_cast<double>(status.Pages) * 1000.0 / static_cast<double>(until - firstClaim);
    }
    status.WorkersLastMinute = db.Exec(
                                     "SELECT count(*) FROM job_workers WHERE job = $1 AND "
                                     "last_seen > now() - interval '1 minute'",
                                     TPgParams().Add(job))
                                   .Int(0, 0);
  });
  return status;
}

std::vector<int64_t> TJobQueue::Jobs(TPgConnection& db) {
  const TPgResult result = db.Exec("SELECT id FROM jobs ORDER BY id");
  std::vector<int64_t> jobs;
  for (int i = 0; i < result.Rows(); ++i) jobs.push_back(result.Int(i, 0));
  return jobs;
}

int64_t TJobQueue::RunOfJob(TPgConnection& db, int64_t job) {
  const TPgResult result = db.Exec("SELECT run FROM jobs WHERE id = $1", TPgParams().Add(job));
  if (result.Rows() == 0) {
    throw EJobError("There is no job " + std::to_string(job) + " in the PostgreSQL database " +
                    store::ShownUrl(db.Url()));
  }
  return result.Int(0, 0);
}

}  // namespace qm
