// A run's rows and their checks in the store while a lookup is slow: rows, pages and the
// saved position go in at once, the flags follow when the lookup answers, and a run closed
// at once waits for no lookup.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_fixture.h"
#include "engine/fetch_gate.h"
#include "store/result_store.h"
#include "support/dnsmasq_fixture.h"
#include "support/loopback_udp.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;
using test::EngineFixture;
using test::WaitUntil;

// The server dnsmasq forwards slow.com's questions to: it keeps them unanswered until
// Release, then answers each (and every later one) with "no such domain".
class HeldUpstream {
 public:
  HeldUpstream() {
    fd_ = test::BindLoopbackUdp(port_);
    if (pipe(wake_) != 0) {
      close(fd_);
      throw std::runtime_error("cannot open a pipe");
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~HeldUpstream() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    Wake();
    thread_.join();
    close(fd_);
    close(wake_[0]);
    close(wake_[1]);
  }
  std::string Address() const { return "127.0.0.1#" + std::to_string(port_); }
  int Held() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(held_.size());
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    Wake();
  }

 private:
  struct Question {
    std::string Bytes;
    sockaddr_in Peer{};
  };

  void Wake() { [[maybe_unused]] const ssize_t written = write(wake_[1], "x", 1); }

  void Answer(const Question& question) {
    std::string answer = question.Bytes;
    answer[2] = static_cast<char>(0x81);  // a response, recursion desired
    answer[3] = static_cast<char>(0x83);  // NXDOMAIN
    sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<const sockaddr*>(&question.Peer),
           sizeof question.Peer);
  }

  void Serve() {
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) return;
      if (fds[1].revents != 0) {
        char drained[16];
        [[maybe_unused]] const ssize_t got = read(wake_[0], drained, sizeof drained);
      }
      std::vector<Question> answering;
      if (fds[0].revents != 0) {
        Question question;
        char buffer[1500];
        socklen_t length = sizeof question.Peer;
        const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&question.Peer), &length);
        if (got >= 12) {
          question.Bytes.assign(buffer, static_cast<size_t>(got));
          std::lock_guard lock(mutex_);
          held_.push_back(std::move(question));
        }
      }
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (released_) answering.swap(held_);
      }
      for (const Question& question : answering) Answer(question);
    }
  }

  int fd_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<Question> held_;
  bool released_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

// fast.com takes mail, other .com names do not exist, slow.com is asked of `upstream`.
std::string Records(const HeldUpstream& upstream) {
  return "local=/com/\nmx-host=fast.com,mail.fast.com,10\nserver=/slow.com/" + upstream.Address() +
         "\n";
}

// Page n holds the address of line n: a@fast.com, b@slow.com, c@none.com.
EngineFixture::FetchFunction ThreePages(std::shared_ptr<test::FetchGate> gateOfLine3 = nullptr) {
  return [gateOfLine3](const std::string& url, TPageLines& lines) {
    const std::string n = url.substr(url.rfind('/') + 1);
    static const std::map<std::string, std::string> kAddress = {
        {"1", "a@fast.com"}, {"2", "b@slow.com"}, {"3", "c@none.com"}};
    if (n == "3" && gateOfLine3) gateOfLine3->Pass();
    lines = TPageLines(std::vector<std::string>{"mail " + kAddress.at(n)});
    return true;
  };
}

std::map<std::string, std::string> StoredChecks(const std::string& storePath) {
  std::map<std::string, std::string> checks;
  OpenSqliteStore(storePath)->ForEachRow(
      std::nullopt, 1u, [&](const TStoredRow& row) { checks[row.Value] = row.Checks; });
  return checks;
}

TEST(StoredChecksRun, RowsPagesAndPositionGoInWhileALookupIsOutAndItsFlagsFollow) {
  HeldUpstream upstream;
  test::DnsmasqServer dns(Records(upstream));
  EngineFixture f(ThreePages());
  f.form->VerifyResolver = dns.Address();
  f.form->VerifyDeadline = std::chrono::seconds(30);
  f.UseList("http://x.cn/1\r\nhttp://x.cn/2\r\nhttp://x.cn/3\r\n");
  f.form->SpeedButton2Click();

  // Every page has ended; the run's end waits for slow.com, the store does not.
  const std::map<std::string, std::string> pending = {
      {"a@fast.com", "ok"}, {"b@slow.com", ""}, {"c@none.com", "no-mail"}};
  std::map<std::string, std::string> stored;
  TStoredRun storedRun;
  EXPECT_TRUE(WaitUntil(
      [&] {
        stored = StoredChecks(f.form->StorePath());
        const std::vector<TStoredRun> runs = OpenSqliteStore(f.form->StorePath())->Runs();
        if (runs.size() == 1) storedRun = runs[0];
        return stored == pending && storedRun.Pages == 3 && storedRun.SavedPosition == 3;
      },
      std::chrono::seconds(2)));
  EXPECT_EQ(stored, pending);
  EXPECT_EQ(storedRun.Pages, 3);
  EXPECT_EQ(storedRun.SavedPosition, 3);
  EXPECT_GE(upstream.Held(), 1);
  EXPECT_EQ(f.form->SearchState.CompletedRuns.load(), 0);

  upstream.Release();
  ASSERT_TRUE(f.WaitForCompletedRuns(1));
  const std::map<std::string, std::string> settled = {
      {"a@fast.com", "ok"}, {"b@slow.com", "no-mail"}, {"c@none.com", "no-mail"}};
  EXPECT_EQ(StoredChecks(f.form->StorePath()), settled);
  EXPECT_EQ(f.form->TakeEndOfRunSaveFailure(), std::nullopt);
}

// As the wait dialog closed, or a second Ctrl-C: the run ends at once and its rows whose
// lookups are out stay unchecked.
TEST(StoredChecksRun, ARunClosedAtOnceWaitsForNoLookup) {
  HeldUpstream upstream;  // never released
  test::DnsmasqServer dns(Records(upstream));
  auto gate = std::make_shared<test::FetchGate>();
  test::OpenOnExit opener{gate};
  EngineFixture f(ThreePages(gate));
  f.form->VerifyResolver = dns.Address();
  f.form->VerifyDeadline = std::chrono::seconds(30);
  f.UseList("http://x.cn/1\r\nhttp://x.cn/2\r\nhttp://x.cn/3\r\n");
  f.form->SpeedButton2Click();
  const std::map<std::string, std::string> pending = {{"a@fast.com", "ok"}, {"b@slow.com", ""}};
  EXPECT_TRUE(WaitUntil([&] {
    return gate->Waiting() == 1 && upstream.Held() >= 1 &&
           StoredChecks(f.form->StorePath()) == pending;
  }));

  const Clock::time_point start = Clock::now();
  f.form->Form3Close();
  // Nothing waits for slow.com, whose lookup would run for seconds more.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(StoredChecks(f.form->StorePath()), pending);
  const std::vector<TStoredRun> runs = OpenSqliteStore(f.form->StorePath())->Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].SavedPosition, 2);
  gate->Open();
  EXPECT_TRUE(f.WaitForWorkersGone());
}

}  // namespace
}  // namespace qm
