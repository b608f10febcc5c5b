// qmharvest-cli fetch on pages as the real web serves them: redirected, compressed and in a
// declared charset.
#include <gtest/gtest.h>

#include <string>

#include "cli_process.h"
#include "support/scripted_server.h"

namespace qm::test {
namespace {

// `data` as one stored block of a raw deflate stream.
std::string StoredDeflate(const std::string& data) {
  const auto n = static_cast<unsigned>(data.size());
  std::string out = "\x01";
  out += static_cast<char>(n & 0xFF);
  out += static_cast<char>(n >> 8);
  out += static_cast<char>(~n & 0xFF);
  out += static_cast<char>((~n >> 8) & 0xFF);
  return out + data;
}

std::string Answer(const std::string& status, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(CliFetch, FollowsDecodesAndTellsTheFinalAddress) {
  // "联系" in GBK, behind a redirect, compressed.
  const std::string page = StoredDeflate("\xC1\xAA\xCF\xB5 a@b.cn\r\nend");
  ScriptedServer server([&](ScriptedConnection& c) {
    c.ReadHead();
    if (c.Received().rfind("GET /start ", 0) == 0) {
      c.Send(Answer("301 Moved", "Location: /page\r\nConnection: close\r\n", "moved"));
      return;
    }
    c.Send(Answer("200 OK",
                  "Content-Encoding: deflate\r\nContent-Type: text/html; charset=gb2312\r\n",
                  page));
  });
  const struct {
    std::vector<std::string> options;
    std::string out;
    std::string finalPath;
    int status;
  } rows[] = {
      {{}, "联系 a@b.cn\nend\n", "page", 200},
      {{"--raw"}, page, "page", 200},
      {{"--no-redirects"}, "moved\n", "start", 301},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = {"fetch"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(server.Url("start"));
    SCOPED_TRACE(args[1]);
    const CliResult result = RunCli(args);
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, row.out);
    EXPECT_EQ(result.Err, "final address: " + server.Url(row.finalPath) +
                              "\nstatus: " + std::to_string(row.status) + "\n");
  }
}

TEST(CliFetch, ABodyCutAtTheSizeCapSaysSo) {
  const std::string body(65u << 20, 'x');
  ScriptedServer server([&](ScriptedConnection& c) {
    c.ReadHead();
    c.Send(Answer("200 OK", "", body));
  });
  const CliResult result = RunCli({"fetch", server.Url("big")});
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out.size(), (64u << 20) + 1);
  EXPECT_EQ(result.Err, "final address: " + server.Url("big") +
                            "\nstatus: 200\ncut at the size cap of 64 MiB\n");
}

TEST(CliFetch, RedirectLoopFailsNamingIt) {
  ScriptedServer server(
      ScriptedServer::Replay(Answer("302 Found", "Location: /again\r\nConnection: close\r\n", "")));
  const CliResult result = RunCli({"fetch", server.Url("again")});
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(result.Out.empty());
  EXPECT_NE(result.Err.find("too many redirects"), std::string::npos) << result.Err;
}

TEST(CliFetch, TlsRefusalNamesItsReason) {
  // A server that answers a TLS hello in plain HTTP.
  ScriptedServer server([](ScriptedConnection& c) {
    c.ReadTotal(1);
    c.Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    c.StaySilent();
  });
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
  const CliResult result = RunCli({"fetch", url});
  EXPECT_EQ(result.Status, 1);
  EXPECT_TRUE(result.Out.empty());
  EXPECT_NE(result.Err.find("cannot fetch " + url + ": TLS: protocol error"), std::string::npos)
      << result.Err;
}

}  // namespace
}  // namespace qm::test
