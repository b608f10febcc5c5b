// The row checks on the command line: harvest's fourth column and store asking a real
// dnsmasq, --no-verify asking nobody, --resolver checked before anything runs.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "store/sqlite_store.h"
#include "support/dnsmasq_fixture.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace {

// Each output line's row and its fourth column.
std::map<std::string, std::string> ChecksByRow(const std::string& out) {
  std::map<std::string, std::string> checks;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string field; std::getline(cells, field, '\t');) fields.push_back(field);
    if (fields.size() == 3) fields.emplace_back();  // an empty last column
    EXPECT_EQ(fields.size(), 4u) << line;
    if (fields.size() == 4) checks[fields[1]] = fields[3];
  }
  return checks;
}

TEST(CliVerify, HarvestWritesAndStoresEachRowsChecks) {
  DnsmasqServer dns("local=/com/\nmx-host=mx-one.com,mail.mx-one.com,10\n"
                    "host-record=a-only.com,127.0.0.2\ndns-rr=null-mx.com,15,000000\n");
  NginxServer nginx;
  nginx.WriteFile("a.html", "anna@mx-one.com info@mx-one.com bob@a-only.com 13812345678\n");
  nginx.WriteFile("b.html", "carol@null-mx.com dave@missing.com x@mailinator.com 15412345678\n");
  TempDir dir;
  const std::string list = dir.Write("list.txt", nginx.Url("a.html") + "\n" + nginx.Url("b.html") + "\n");
  const std::string store = dir.File("results.db");
  const CliResult result =
      RunCli({"harvest", "--no-online-check", "--email", "--mobile", "--depth", "0", "--quiet",
              "--resolver", dns.Address(), "--store", store, list});
  ASSERT_EQ(result.Status, 0) << result.Err;
  const std::map<std::string, std::string> expected = {
      {"anna@mx-one.com", "ok"},        {"info@mx-one.com", "role"},
      {"bob@a-only.com", "ok"},         {"carol@null-mx.com", "no-mail"},
      {"dave@missing.com", "no-mail"},  {"x@mailinator.com", "disposable"},
      {"13812345678", "ok"},            {"15412345678", "bad-range"},
  };
  EXPECT_EQ(ChecksByRow(result.Out), expected) << result.Out;

  std::map<std::string, std::string> stored;
  OpenSqliteStore(store)->ForEachRow(std::nullopt, 7, [&](const TStoredRow& row) {
    stored[row.Value] = row.Checks;
  });
  EXPECT_EQ(stored, expected);
  const CliResult rows = RunCli({"rows", "--store", store});
  EXPECT_EQ(ChecksByRow(rows.Out), expected) << rows.Out;

  // Nobody is asked: what needs no lookup still flags, the rest is unchecked.
  const CliResult off = RunCli({"harvest", "--no-online-check", "--email", "--depth", "0",
                                "--quiet", "--no-verify", "--resolver", "127.0.0.1:9", list});
  ASSERT_EQ(off.Status, 0) << off.Err;
  const std::map<std::string, std::string> unchecked = {
      {"anna@mx-one.com", "unchecked"},   {"info@mx-one.com", "role,unchecked"},
      {"bob@a-only.com", "unchecked"},    {"carol@null-mx.com", "unchecked"},
      {"dave@missing.com", "unchecked"},  {"x@mailinator.com", "disposable"},
  };
  EXPECT_EQ(ChecksByRow(off.Out), unchecked) << off.Out;
}

TEST(CliVerify, AResolverThatIsNoAddressAndPortIsAUsageError) {
  TempDir dir;
  const std::string list = dir.Write("list.txt", "http://127.0.0.1:9/\n");
  for (const char* resolver : {"localhost:53", "127.0.0.1", "127.0.0.1:99999", "[::1]"}) {
    for (const char* command : {"harvest", "scan"}) {
      const CliResult result = RunCli({command, "--resolver", resolver, list});
      EXPECT_EQ(result.Status, 2) << command << " " << resolver;
      EXPECT_NE(result.Err.find("--resolver takes ADDR:PORT"), std::string::npos) << result.Err;
      EXPECT_EQ(result.Out, "");
    }
  }
}

}  // namespace
}  // namespace qm::test
