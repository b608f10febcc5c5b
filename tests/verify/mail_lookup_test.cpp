// Mail servers looked up against a real dnsmasq on a loopback port, and against resolvers
// that never answer, answer garbage or fail.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/dnsmasq_fixture.h"
#include "support/loopback_udp.h"
#include "verify/contact_verifier.h"
#include "verify/mail_domain_resolver.h"

namespace qm::verify {
namespace {

using Clock = std::chrono::steady_clock;

// Names below com that no line gives do not exist.
constexpr const char* kRecords =
    "log-queries\n"
    "local=/com/\n"
    "mx-host=mx-one.com,mail.mx-one.com,10\n"
    "host-record=mail.mx-one.com,127.0.0.3\n"
    "host-record=a-only.com,127.0.0.2\n"
    "dns-rr=null-mx.com,15,000000\n"  // preference 0, exchange "."
    "txt-record=text-only.com,\"nothing else\"\n";

TVerifyOptions Asking(const std::string& resolver, std::chrono::milliseconds deadline) {
  TVerifyOptions options;
  options.Resolver = resolver;
  options.Deadline = deadline;
  return options;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(MailLookup, MxARecordsNullMxAndMissingDomainsEachAskedOnce) {
  test::DnsmasqServer dns(kRecords);
  TContactVerifier verifier(Asking(dns.Address(), std::chrono::seconds(10)));
  struct Case {
    const char* Row;
    const char* Flags;
    const char* Reason;
  } cases[] = {
      {"alice@mx-one.com", "ok", ""},
      {"bob@a-only.com", "ok", ""},
      {"carol@null-mx.com", "no-mail", "a null MX"},
      {"dave@missing.com", "no-mail", "no such domain"},
      {"erin@text-only.com", "no-mail", "neither MX nor A records"},
      {"info@mx-one.com", "role", ""},
      {"sales@missing.com", "no-mail,role", "no such domain"},
  };
  for (const Case& c : cases) verifier.Request(kEmailRow, c.Row);
  for (const Case& c : cases) {
    const TRowCheck check = verifier.Check(kEmailRow, c.Row);
    EXPECT_EQ(check.Flags, c.Flags) << c.Row;
    EXPECT_EQ(check.Reason, c.Reason) << c.Row;
    EXPECT_EQ(verifier.SettledFlags(kEmailRow, c.Row), std::optional<std::string_view>(c.Flags))
        << c.Row;
  }
  // Asked again: answered from what this run knows.
  EXPECT_EQ(verifier.Check(kEmailRow, "frank@mx-one.com").Flags, "ok");
  const std::string log = dns.Log();
  EXPECT_EQ(Count(log, "query[MX] mx-one.com "), 1u) << log;
  EXPECT_EQ(Count(log, "query[MX] missing.com "), 1u) << log;
  EXPECT_EQ(Count(log, "query[A] mx-one.com "), 0u) << log;
  EXPECT_EQ(Count(log, "query[A] a-only.com "), 1u) << log;
  // Bad names are never asked about.
  EXPECT_EQ(verifier.Check(kEmailRow, "x@mailinator.com").Flags, "disposable");
  EXPECT_EQ(verifier.Check(kEmailRow, "x@example.notatld").Flags, "bad-tld");
  EXPECT_EQ(Count(dns.Log(), "mailinator"), 0u);
  EXPECT_EQ(verifier.Resolver()->Statistics().Requested, 5u);
}

TEST(MailLookup, ManyDomainsAtOnceAreAllAnswered) {
  std::string records = kRecords;
  for (int i = 0; i < 300; ++i) {
    records += "mx-host=d" + std::to_string(i) + ".com,mx.d" + std::to_string(i) + ".com,5\n";
  }
  test::DnsmasqServer dns(records);
  TMailDomainResolver::Options options;
  options.Server = dns.Address();
  options.Deadline = std::chrono::seconds(20);
  options.MaxInFlight = 16;
  TMailDomainResolver resolver(options);
  for (int i = 0; i < 300; ++i) resolver.Request("d" + std::to_string(i) + ".com");
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(resolver.Wait("d" + std::to_string(i) + ".com").Answer, TMailAnswer::Mail) << i;
  }
  EXPECT_EQ(resolver.Statistics().Queries, 300u);
}

// A UDP "resolver" on a loopback port that answers each question as `reply` says (nothing
// when it gives no bytes).
class ScriptedResolver {
 public:
  explicit ScriptedResolver(std::function<std::string(const std::string&)> reply)
      : reply_(std::move(reply)) {
    fd_ = test::BindLoopbackUdp(port_);
    if (pipe(stop_) != 0) {
      close(fd_);
      throw std::runtime_error("cannot open a pipe");
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedResolver() {
    [[maybe_unused]] const ssize_t written = write(stop_[1], "x", 1);
    thread_.join();
    close(fd_);
    close(stop_[0]);
    close(stop_[1]);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  int Questions() const { return questions_.load(); }

 private:
  void Serve() {
    while (true) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
      char buffer[1500];
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      const ssize_t got =
          recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &length);
      if (got <= 0) continue;
      ++questions_;
      const std::string answer = reply_(std::string(buffer, static_cast<size_t>(got)));
      if (!answer.empty()) {
        sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer), length);
      }
    }
  }

  std::function<std::string(const std::string&)> reply_;
  int fd_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> questions_{0};
  std::thread thread_;
};

// The question echoed as an answer header with `rcode`, no records.
std::string Rcode(const std::string& question, int rcode) {
  std::string answer = question;
  answer[2] = static_cast<char>(0x81);  // a response, recursion desired
  answer[3] = static_cast<char>(0x80 | rcode);
  return answer;
}

TEST(MailLookup, AResolverThatFailsOrAnswersGarbageLeavesRowsUncheckedWithinTheDeadline) {
  struct Case {
    const char* Name;
    std::function<std::string(const std::string&)> Reply;
    const char* Reason;  // null: any reason that says there was no answer
  } cases[] = {
      {"silent", [](const std::string&) { return std::string(); }, nullptr},
      {"servfail", [](const std::string& q) { return Rcode(q, 2); },
       "the resolver failed (SERVFAIL)"},
      {"refused", [](const std::string& q) { return Rcode(q, 5); },
       "the resolver refused the question (REFUSED)"},
      // Not even a header: c-ares drops it and waits on.
      {"noise", [](const std::string&) { return std::string("\x01\x02\x03", 3); }, nullptr},
      // The right id, then one answer record that runs past the end.
      {"garbled",
       [](const std::string& q) {
         std::string answer = q;
         answer[2] = static_cast<char>(0x81);
         answer[3] = static_cast<char>(0x80);
         answer[7] = 1;  // one answer
         return answer + std::string("\xc0\x0c\x00\x0f\x00\x01\x00\x00\x00\x3c\x00\x40\x00", 13);
       },
       "a garbled answer"},
  };
  for (Case& c : cases) {
    ScriptedResolver resolver(c.Reply);
    TContactVerifier verifier(Asking(resolver.Address(), std::chrono::milliseconds(400)));
    const Clock::time_point start = Clock::now();
    const TRowCheck check = verifier.Check(kEmailRow, "alice@example.com");
    const auto took = Clock::now() - start;
    EXPECT_EQ(check.Flags, "unchecked") << c.Name;
    if (c.Reason != nullptr) {
      EXPECT_EQ(check.Reason, c.Reason) << c.Name;
    } else {
      EXPECT_TRUE(check.Reason == "no answer within 400 ms" ||
                  check.Reason == "the resolver did not answer")
          << c.Name << ": " << check.Reason;
    }
    EXPECT_LT(took, std::chrono::milliseconds(1500)) << c.Name;
    EXPECT_GE(resolver.Questions(), 1) << c.Name;
    // A later look at the same domain is no new wait.
    const Clock::time_point again = Clock::now();
    EXPECT_EQ(verifier.Check(kEmailRow, "bob@example.com").Flags, "unchecked") << c.Name;
    EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(100)) << c.Name;
  }
}

TEST(MailLookup, AWaitEndsAtTheCallersLimitAndTheRowIsUncheckedUntilAnswered) {
  ScriptedResolver resolver([](const std::string&) { return std::string(); });
  TContactVerifier verifier(Asking(resolver.Address(), std::chrono::seconds(30)));
  EXPECT_FALSE(verifier.CheckIfSettled(kEmailRow, "alice@example.com").has_value());
  EXPECT_FALSE(verifier.SettledFlags(kEmailRow, "bob@example.com").has_value());
  const Clock::time_point start = Clock::now();
  const TRowCheck check =
      verifier.Check(kEmailRow, "alice@example.com", start + std::chrono::milliseconds(200));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(check.Flags, "unchecked");
  EXPECT_EQ(check.Reason, "no answer yet");
  // Ending the resolver with lookups in flight neither hangs nor leaks (ASan).
}

TEST(MailLookup, AResolverNobodyListensOnIsUnchecked) {
  int port = 0;
  {
    ScriptedResolver closed([](const std::string&) { return std::string(); });
    port = std::stoi(closed.Address().substr(10));
  }
  TContactVerifier verifier(
      Asking("127.0.0.1:" + std::to_string(port), std::chrono::milliseconds(500)));
  const TRowCheck check = verifier.Check(kEmailRow, "alice@example.com");
  EXPECT_EQ(check.Flags, "unchecked");
  EXPECT_FALSE(check.Reason.empty());
}

}  // namespace
}  // namespace qm::verify
