#include "store/pg_schema.h"

#include <array>
#include <string>

namespace qm::store {
namespace {

// Held for the migration's transaction, so that workers starting together migrate once.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(1364546131)";

// kMigrations[v] takes a database from version v to v + 1.
constexpr std::array<const char*, kPgStoreSchemaVersion> kMigrations = {
    R"sql(
      CREATE TABLE qmharvest_schema (version integer NOT NULL);
      INSERT INTO qmharvest_schema VALUES (0);

      CREATE TABLE runs (
        id bigserial PRIMARY KEY,
        list_file text NOT NULL,
        settings text NOT NULL,
        started_ms bigint NOT NULL,
        ended_ms bigint NOT NULL DEFAULT 0,
        saved_position bigint NOT NULL,
        finished integer NOT NULL DEFAULT 0,
        page_count bigint NOT NULL DEFAULT 0,
        failed_page_count bigint NOT NULL DEFAULT 0,
        row_count bigint NOT NULL DEFAULT 0
      );
      CREATE INDEX runs_by_list_file ON runs (list_file, finished, id);

      -- Pages end in the order of one sequence for all the machines writing a run.
      CREATE SEQUENCE page_sequence;
      CREATE TABLE pages (
        id bigserial PRIMARY KEY,
        run bigint NOT NULL REFERENCES runs (id),
        sequence bigint NOT NULL DEFAULT nextval('page_sequence'),
        line_number integer NOT NULL,
        url text NOT NULL,
        final_url text NOT NULL,
        status_code integer NOT NULL,
        bytes_received bigint NOT NULL,
        milliseconds bigint NOT NULL,
        failure_reason text NOT NULL,
        email_rows integer NOT NULL,
        mobile_rows integer NOT NULL,
        qq_rows integer NOT NULL,
        wechat_rows integer NOT NULL DEFAULT 0,
        phone_rows integer NOT NULL DEFAULT 0,
        depth integer NOT NULL,
        listed_url text NOT NULL,
        skipped integer NOT NULL
      );
      CREATE UNIQUE INDEX pages_by_run ON pages (run, sequence);

      CREATE TABLE rows (
        id bigserial PRIMARY KEY,
        run bigint NOT NULL REFERENCES runs (id),
        kind integer NOT NULL,
        value text NOT NULL,
        source text NOT NULL,
        listed_url text NOT NULL,
        line_number integer NOT NULL,
        found_ms bigint NOT NULL,
        checks text NOT NULL DEFAULT ''
      );
      CREATE UNIQUE INDEX rows_unique_per_run ON rows (run, kind, value);
      CREATE INDEX rows_by_run ON rows (run, id);

      -- A run's counts as each writer adds them: machines writing one run never wait for
      -- each other on the run's own row.
      CREATE TABLE run_tallies (
        run bigint NOT NULL REFERENCES runs (id),
        writer text NOT NULL,
        page_count bigint NOT NULL DEFAULT 0,
        failed_page_count bigint NOT NULL DEFAULT 0,
        row_count bigint NOT NULL DEFAULT 0,
        updated_ms bigint NOT NULL DEFAULT 0,
        PRIMARY KEY (run, writer)
      );

      -- state: 0 open, 1 complete.
      CREATE TABLE jobs (
        id bigserial PRIMARY KEY,
        run bigint NOT NULL REFERENCES runs (id),
        list_file text NOT NULL,
        list_digest text NOT NULL,
        settings text NOT NULL,
        line_count bigint NOT NULL,
        state integer NOT NULL DEFAULT 0,
        created_ms bigint NOT NULL,
        first_claim_ms bigint NOT NULL DEFAULT 0,
        ended_ms bigint NOT NULL DEFAULT 0
      );
      CREATE INDEX jobs_by_digest ON jobs (list_digest);

      -- state: 0 pending, 1 leased (in flight), 2 done, 3 failed.
      CREATE TABLE job_lines (
        job bigint NOT NULL REFERENCES jobs (id),
        line_number integer NOT NULL,
        address text NOT NULL,
        site text NOT NULL,
        state smallint NOT NULL DEFAULT 0,
        lease_holder text NOT NULL DEFAULT '',
        lease_expiry timestamptz,
        attempts integer NOT NULL DEFAULT 0,
        reason text NOT NULL DEFAULT '',
        PRIMARY KEY (job, line_number)
      );
      CREATE INDEX job_lines_open ON job_lines (job, site, line_number) WHERE state < 2;
      CREATE INDEX job_lines_leased ON job_lines (job, lease_holder) WHERE state = 1;

      -- One machine at a time works a site: the holder of its lease.
      CREATE TABLE job_sites (
        job bigint NOT NULL REFERENCES jobs (id),
        site text NOT NULL,
        first_line integer NOT NULL,
        open boolean NOT NULL DEFAULT true,
        holder text NOT NULL DEFAULT '',
        lease_expiry timestamptz,
        PRIMARY KEY (job, site)
      );
      CREATE INDEX job_sites_open ON job_sites (job, first_line) WHERE open;
      CREATE INDEX job_sites_held ON job_sites (job, holder) WHERE holder <> '';

      CREATE TABLE job_workers (
        name text PRIMARY KEY,
        job bigint NOT NULL,
        last_seen timestamptz NOT NULL
      );
    )sql",
    R"sql(
      -- A page is recorded once for each search of its line: a worker that dies after
      -- storing some of a line's pages leaves them to the worker that searches the line
      -- again, while a search after a failed one records its pages anew. Records made
      -- before this version have no search and stay as they are.
      ALTER TABLE pages ADD COLUMN search integer;
      CREATE UNIQUE INDEX pages_once_per_search ON pages (run, line_number, search, md5(url));
      CREATE INDEX jobs_by_run ON jobs (run);
      -- The searches of a line that ended with its listed page failed.
      ALTER TABLE job_lines ADD COLUMN failed_searches integer NOT NULL DEFAULT 0;
      CREATE INDEX job_lines_by_site ON job_lines (job, site);
      -- The followed pages of a site over the whole job, counted as they are stored, so its
      -- page limit holds over claims and workers.
      ALTER TABLE job_sites ADD COLUMN followed_pages integer NOT NULL DEFAULT 0;
      -- The followed pages of a site (and where they were redirected to): a claim that goes
      -- on with the site fetches none of them again.
      CREATE TABLE job_site_pages (
        job bigint NOT NULL REFERENCES jobs (id),
        site text NOT NULL,
        url text NOT NULL,
        final_url text NOT NULL
      );
      CREATE INDEX job_site_pages_by_site ON job_site_pages (job, site);
      -- Hosts a listed page of a site redirected to: their lines are that site's. Settled
      -- once the host's own open lines (if it has any) have joined the site.
      CREATE TABLE job_site_hosts (
        job bigint NOT NULL REFERENCES jobs (id),
        host text NOT NULL,
        site text NOT NULL,
        settled boolean NOT NULL DEFAULT false,
        PRIMARY KEY (job, host)
      );
      CREATE INDEX job_site_hosts_by_site ON job_site_hosts (job, site);
      CREATE INDEX job_site_hosts_unsettled ON job_site_hosts (job) WHERE NOT settled;
    )sql",
};

[[noreturn]] void FailNewer(const TPgConnection& connection, int64_t version) {
  throw EStoreError("The PostgreSQL database " + ShownUrl(connection.Url()) +
                    " was prepared by a newer program (schema version " + std::to_string(version) +
                    ", this program knows up to " + std::to_string(kPgStoreSchemaVersion) +
                    "); update qmharvest on this machine before it works there");
}

// The version, -1 for an empty database; throws for one that holds tables not ours.
int64_t SchemaVersion(TPgConnection& connection) {
  const TPgResult found = connection.Exec(
      "SELECT to_regclass('qmharvest_schema') IS NOT NULL, to_regclass('runs') IS NOT NULL");
  if (found.Text(0, 0) == "t") {
    return connection.Exec("SELECT max(version) FROM qmharvest_schema").Int(0, 0);
  }
  if (found.Text(0, 1) == "t") {
    throw EStoreError("The PostgreSQL database " + ShownUrl(connection.Url()) +
                      " holds tables of another program (a table runs, but not ours)");
  }
  return -1;
}

}  // namespace

void PreparePgSchema(TPgConnection& connection) {
  const int64_t seen = SchemaVersion(connection);
  if (seen > kPgStoreSchemaVersion) FailNewer(connection, seen);
  if (seen == kPgStoreSchemaVersion) return;
  connection.Transaction([&connection] {
    connection.Exec(kMigrationLock);
    int64_t version = SchemaVersion(connection);
    if (version > kPgStoreSchemaVersion) FailNewer(connection, version);
    if (version < 0) version = 0;
    for (int64_t step = version; step < kPgStoreSchemaVersion; ++step) {
      connection.ExecScript(kMigrations[static_cast<size_t>(step)]);
    }
    connection.Exec("UPDATE qmharvest_schema SET version = " +
                    std::to_string(kPgStoreSchemaVersion));
  });
}

}  // namespace qm::store

namespace qm::store {

bool PgSchemaPresent(TPgConnection& connection) {
  const int64_t seen = SchemaVersion(connection);
  if (seen > kPgStoreSchemaVersion) FailNewer(connection, seen);
  return seen > 0;
}

}  // namespace qm::store
