#include "jobs/job_queue.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <iterator>
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

void TJobQueue::RecordOutcomes(const TClaim& last, const std::vector<TLineOutcome>& outcomes) {
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
        "lease_holder = '', lease_expiry = NULL, reason = o.r FROM unnest($2::int[], "
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
  if (!last.Sites.empty()) {
    db_.Exec(
        "UPDATE job_sites s SET holder = '', lease_expiry = NULL, open = EXISTS "
        "(SELECT 1 FROM job_lines l WHERE l.job = s.job AND l.site = s.site AND "
        "l.state < 2) WHERE s.job = $1 AND s.site = ANY($2::text[]) AND s.holder = $3",
        TPgParams().Add(last.Job).AddArray(last.Sites).Add(holder_));
  }
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

TClaim TJobQueue::ClaimFrom(int64_t job, int maxLines) {
  TClaim claim;
  const TPgResult jobRow =
      db_.Exec("SELECT run, settings FROM jobs WHERE id = $1 AND state = 0", TPgParams().Add(job));
  if (jobRow.Rows() == 0) return claim;
  FailExhaustedLines(job);
  const TPgResult sites = db_.Exec(
      "WITH picked AS (SELECT site FROM job_sites WHERE job = $1 AND open AND "
      "(holder = '' OR lease_expiry < now()) ORDER BY first_line LIMIT $3 "
      "FOR UPDATE SKIP LOCKED) "
      "UPDATE job_sites s SET holder = $2, lease_expiry = now() + $4::int * interval '1 second' "
      "FROM picked WHERE s.job = $1 AND s.site = picked.site RETURNING s.site, s.first_line",
      TPgParams().Add(job).Add(holder_).Add(maxLines).Add(lease_));
  if (sites.Rows() == 0) return claim;
  std::vector<std::pair<int64_t, std::string>> ordered;
  for (int i = 0; i < sites.Rows(); ++i) ordered.emplace_back(sites.Int(i, 1), sites.Text(i, 0));
  std::sort(ordered.begin(), ordered.end());
  std::vector<std::string> picked;
  for (auto& [first, site] : ordered) picked.push_back(std::move(site));
  const TPgResult lines = db_.Exec(
      "UPDATE job_lines l SET state = 1, lease_holder = $2, "
      "lease_expiry = now() + $5::int * interval '1 second', attempts = l.attempts + 1 "
      "FROM (SELECT line_number FROM job_lines WHERE job = $1 AND site = ANY($3::text[]) AND "
      "(state = 0 OR (state = 1 AND lease_expiry < now())) "
      "ORDER BY array_position($3::text[], site), line_number LIMIT $4 "
      "FOR UPDATE SKIP LOCKED) c "
      "WHERE l.job = $1 AND l.line_number = c.line_number RETURNING l.line_number, l.address, "
      "l.site",
      TPgParams().Add(job).Add(holder_).AddArray(picked).Add(maxLines).Add(lease_));
  std::set<std::string> withLines;
  for (int i = 0; i < lines.Rows(); ++i) {
    claim.Lines.push_back({static_cast<int32_t>(lines.Int(i, 0)), lines.Text(i, 1)});
    withLines.insert(lines.Text(i, 2));
  }
  std::vector<std::string> idle;
  for (std::string& site : picked) {
    if (withLines.count(site) == 0) {
      idle.push_back(std::move(site));
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
                                 std::optional<int64_t> job, int maxLines) {
  TClaim claim;
  db_.Transaction([&] {
    claim = {};
    RecordOutcomes(last, outcomes);
    if (maxLines <= 0) return;
    if (job) {
      claim = ClaimFrom(*job, maxLines);
      return;
    }
    const TPgResult open = db_.Exec("SELECT id FROM jobs WHERE state = 0 ORDER BY id");
    for (int i = 0; i < open.Rows() && claim.Lines.empty(); ++i) {
      claim = ClaimFrom(open.Int(i, 0), maxLines);
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
