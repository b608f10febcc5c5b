// qmharvest-cli job submit|work|status|export, and rows --db: a job shared by many
// machines through a PostgreSQL server.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/row_output.h"
#include "cli/store_option.h"
#include "engine/local_address.h"
#include "engine/main_form.h"
#include "jobs/job_queue.h"
#include "jobs/job_settings.h"
#include "jobs/job_worker.h"
#include "persistence/stored_rows_export.h"
#include "store/pg_connection.h"
#include "store/pg_schema.h"
#include "store/pg_store.h"
#include "text/errors.h"

namespace qm::cli {

const char* const kJobHelp =
    "Usage: qmharvest-cli job submit LIST --db URL [HARVEST OPTIONS] [--again]\n"
    "       qmharvest-cli job work --db URL [--job ID] [--threads N] [--in-flight K]\n"
    "                              [--memory-limit MB] [--lease SECONDS] [--no-online-check]\n"
    "       qmharvest-cli job status --db URL [--job ID]\n"
    "       qmharvest-cli job export --db URL --job ID --format txt|csv|xlsx --out PATH\n"
    "\n"
    "One URL list searched by any number of machines: the job and its lines are kept on a\n"
    "PostgreSQL server, and every machine running 'job work' claims lines there, searches\n"
    "them as harvest does and writes their pages and rows back. A site is worked by one\n"
    "machine at a time, from claim to claim, under one page limit for the whole job; a claim\n"
    "holds for --lease seconds (default 60) and is renewed while its machine works, so the\n"
    "lines of a machine that dies go to the others, and the site with them. A line whose\n"
    "page cannot be fetched is tried again, three times in all, then failed with its reason.\n"
    "\n"
    "URL is postgresql://USER@HOST:PORT/DATABASE. The password never goes on the command\n"
    "line: it is read from ~/.pgpass (or the file PGPASSFILE names) or from PGPASSWORD.\n"
    "\n"
    "submit   makes LIST a job and writes its id to standard output. HARVEST OPTIONS are\n"
    "         those of harvest that decide what a line yields: --email --mobile --qq\n"
    "         --wechat --phone --no-redirects --no-extended --no-unique --depth D\n"
    "         --page-limit N --no-robots.\n"
    "         The same list with the same settings is refused unless --again.\n"
    "work     works the open jobs (or job ID) until every line is done or failed; exit 0.\n"
    "         Ctrl-C stops it: the pages being fetched end, the rest goes back to the job.\n"
    "status   each job (or job ID), one tab-separated line after a header: id, state, lines,\n"
    "         pending, in flight, done, failed, pages, failed pages, rows, pages per second,\n"
    "         workers seen in the last minute, list.\n"
    "export   the job's rows as export writes a stored run's.\n"
    "\n"
    "Exit status: 0 done; 1 a failure named on standard error (an unreachable server, a\n"
    "refused password, a job submitted twice, a database of a newer program); 2 usage.\n";

namespace {

std::string DbOption(const ParsedCommand& parsed, const std::string& command) {
  const std::optional<std::string> url = parsed.Value("--db");
  if (!url || url->empty())
    throw UsageError(command + " needs --db postgresql://USER@HOST/DATABASE");
  // Said before anything connects: a password here is already in the process list.
  store::CheckNoPasswordIn(*url);
  return *url;
}

std::optional<int64_t> JobOption(const ParsedCommand& parsed) {
  return IdOption(parsed, "--job");
}

// A connection for readers: a database without our tables holds no job.
std::unique_ptr<store::TPgConnection> ReaderConnection(const std::string& url) {
  auto db = std::make_unique<store::TPgConnection>(url);
  if (!store::PgSchemaPresent(*db)) {
    throw EJobError("The PostgreSQL database " + store::ShownUrl(url) +
                    " holds no job: nothing was ever submitted there");
  }
  return db;
}

int64_t NewestJob(store::TPgConnection& db) {
  const std::vector<int64_t> jobs = TJobQueue::Jobs(db);
  if (jobs.empty()) {
    throw EJobError("The PostgreSQL database " + store::ShownUrl(db.Url()) + " holds no job");
  }
  return jobs.back();
}

int Submit(const std::vector<std::string>& args) {
  const ParsedCommand parsed =
      ParseCommand(args, {{"--email", "--mobile", "--qq", "--wechat", "--phone", "--no-redirects",
                           "--no-extended", "--no-unique", "--no-robots", "--again"},
                          {"--db", "--depth", "--page-limit"}});
  if (parsed.Operands().size() != 1) throw UsageError("job submit takes exactly one LIST");
  const std::string list = parsed.Operands().front();
  TJobSettings settings;
  const bool anyKind = parsed.Has("--email") || parsed.Has("--mobile") || parsed.Has("--qq") ||
                       parsed.Has("--wechat") || parsed.Has("--phone");
  settings.Email = parsed.Has("--email") || !anyKind;
  settings.Mobile = parsed.Has("--mobile");
  settings.QQ = parsed.Has("--qq");
  settings.WeChat = parsed.Has("--wechat");
  settings.Phone = parsed.Has("--phone");
  settings.Redirects = !parsed.Has("--no-redirects");
  settings.Extended = !parsed.Has("--no-extended");
  settings.Unique = !parsed.Has("--no-unique");
  settings.Robots = !parsed.Has("--no-robots");
  settings.Depth = NumberOption(parsed, "--depth", 0, 3, 1);
  settings.PageLimit = NumberOption(parsed, "--page-limit", 1, 1000, 20);
  const std::string url = DbOption(parsed, "job submit");

  store::TPgConnection db(url);
  store::PreparePgSchema(db);
  TSubmittedJob job;
  try {
    job = TJobQueue::Submit(db, list, JobSettingsText(settings), parsed.Has("--again"));
  } catch (const EInOutError& error) {
    throw std::runtime_error("the list " + list + " cannot be read: " + error.what());
  }
  std::printf("%lld\n", static_cast<long long>(job.Id));
  std::fprintf(stderr, "qmharvest-cli: job %lld: %lld lines of %lld sites%s\n",
               static_cast<long long>(job.Id), static_cast<long long>(job.Lines),
               static_cast<long long>(job.Sites),
               job.BlankLines > 0
                   ? (" (" + std::to_string(job.BlankLines) + " blank, done already)").c_str()
                   : "");
  return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
}

std::atomic<bool> stopRequested{false};

void OnStopSignal(int) {
  // A second signal ends at once; the leases of the lines in flight run out.
  if (stopRequested.exchange(true)) ::_exit(kExitFailure);
}

int Work(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{"--no-online-check"},
                                                   {"--db", "--job", "--threads", "--in-flight",
                                                    "--memory-limit", "--lease", "--batch"}});
  if (!parsed.Operands().empty()) throw UsageError("job work takes no operand");
  TJobWorkOptions options;
  options.Job = JobOption(parsed);
  options.Threads = NumberOption(parsed, "--threads", 1, kWorkerSlotCount, 1);
  if (parsed.Value("--in-flight")) {
    options.InFlight = NumberOption(parsed, "--in-flight", 1, kMaxPagesInFlight, 1);
  }
  options.MemoryLimitMb = NumberOption(parsed, "--memory-limit", 64, 1048576, 1024);
  options.Lease = std::chrono::seconds(NumberOption(parsed, "--lease", 2, 3600, 60));
  options.BatchLines = NumberOption(parsed, "--batch", 1, 100000, 0);
  options.Url = DbOption(parsed, "job work");
  if (!parsed.Has("--no-online-check") && GetLocalAddress() == "127.0.0.1") {
    // Every line it claimed would fail here and use up a try of the job's.
    std::fputs(
        "qmharvest-cli: this machine has no network address but 127.0.0.1: it would "
        "fail every line it claims (--no-online-check to work all the same)\n",
        stderr);
    return kExitFailure;
  }
  options.Stop = &stopRequested;
  options.Report = [](const std::string& message) {
    std::fprintf(stderr, "qmharvest-cli: %s\n", message.c_str());
  };
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  const TJobWorkResult result = WorkJobs(options);
  std::fprintf(stderr, "qmharvest-cli: %s: %lld lines searched here, %lld pages stored\n",
               result.Stopped ? "stopped; the lines not searched went back to the job"
                              : "no line left to work",
               static_cast<long long>(result.Lines), static_cast<long long>(result.Pages));
  return result.Stopped ? kExitFailure : kExitSuccess;
}

int Status(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{}, {"--db", "--job"}});
  if (!parsed.Operands().empty()) throw UsageError("job status takes no operand");
  const std::optional<int64_t> wanted = JobOption(parsed);
  const std::string url = DbOption(parsed, "job status");
  const std::unique_ptr<store::TPgConnection> db = ReaderConnection(url);
  const std::vector<int64_t> jobs = wanted ? std::vector<int64_t>{*wanted} : TJobQueue::Jobs(*db);
  std::printf(
      "job\tstate\tlines\tpending\tin_flight\tdone\tfailed\tpages\tfailed_pages\trows\t"
      "pages_per_second\tworkers\tlist\n");
  for (const int64_t job : jobs) {
    const TJobStatus s = TJobQueue::Status(*db, job);
    std::printf("%lld\t%s\t%lld\t%lld\t%lld\t%lld\t%lld\t%lld\t%lld\t%lld\t%.1f\t%lld\t%s\n",
                static_cast<long long>(s.Id), s.Complete ? "complete" : "open",
                static_cast<long long>(s.Lines), static_cast<long long>(s.Pending),
                static_cast<long long>(s.InFlight), static_cast<long long>(s.Done),
                static_cast<long long>(s.Failed), static_cast<long long>(s.Pages),
                static_cast<long long>(s.FailedPages), static_cast<long long>(s.Rows),
                s.PagesPerSecond, static_cast<long long>(s.WorkersLastMinute), s.ListFile.c_str());
  }
  return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
}

std::unique_ptr<TResultStore> ReaderStore(const std::string& url) {
  TPgStoreOptions options;
  options.Prepare = false;
  options.Patience = std::chrono::seconds(0);
  return OpenPostgresStore(url, options);
}

int Export(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(args, {{}, {"--db", "--job", "--format", "--out"}});
  if (!parsed.Operands().empty()) throw UsageError("job export takes no operand");
  const std::optional<int64_t> job = JobOption(parsed);
  if (!job) throw UsageError("job export needs --job ID");
  const TStoredRowsFormat chosen = FormatOption(parsed, "job export");
  const std::string out = OutOption(parsed, "job export");
  const std::string url = DbOption(parsed, "job export");
  const std::unique_ptr<store::TPgConnection> db = ReaderConnection(url);
  const int64_t run = TJobQueue::RunOfJob(*db, *job);
  const std::unique_ptr<TResultStore> store = ReaderStore(url);
  ExportStoredRows(*store, run, chosen, out);
  return kExitSuccess;
}

}  // namespace

int RunJob(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("job needs submit, work, status or export");
  const std::string action = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (action == "submit") return Submit(rest);
  if (action == "work") return Work(rest);
  if (action == "status") return Status(rest);
  if (action == "export") return Export(rest);
  throw UsageError("job takes submit, work, status or export, not '" + action + "'");
}

int WriteJobRows(const ParsedCommand& parsed, unsigned kinds) {
  if (parsed.Value("--store") || parsed.Value("--run") || parsed.Has("--all")) {
    throw UsageError("rows --db takes --job, not --store, --run or --all");
  }
  const std::optional<int64_t> wanted = JobOption(parsed);
  const std::string url = DbOption(parsed, "rows");
  const std::unique_ptr<store::TPgConnection> db = ReaderConnection(url);
  const int64_t run = TJobQueue::RunOfJob(*db, wanted ? *wanted : NewestJob(*db));
  const std::unique_ptr<TResultStore> store = ReaderStore(url);
  int writeError = 0;
  store->ForEachRow(run, kinds, [&writeError](const TStoredRow& row) {
    const std::string_view kind = RowKindName(row.Kind);
    if (kind.empty() || writeError != 0) return;
    errno = 0;
    WriteRow(stdout, kind, row.Value, row.Source);
    if (std::ferror(stdout)) writeError = errno != 0 ? errno : EIO;
  });
  if (writeError == 0 && std::fflush(stdout) != 0) writeError = errno != 0 ? errno : EIO;
  if (writeError != 0) {
    std::fprintf(stderr, "qmharvest-cli: cannot write the rows to standard output: %s\n",
                 std::strerror(writeError));
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
