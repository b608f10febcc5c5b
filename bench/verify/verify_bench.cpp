// The row checks: e-mail domains looked up per second against a local dnsmasq (MX, A only,
// null MX and missing domains), and the share of a whole harvest's time that checking its
// rows costs: the same search of 10,000 pages, each with an address at a domain of its
// own, with the checks asking that dnsmasq and with lookups off. Beside the times it prints
// the CPU the lookups cost: our lookup thread's, dnsmasq's (from /proc), and the harvest
// process's with and without them, so the least share the checks can take on this machine's
// cores shows.
//
//   bench_verify [DOMAINS [IN-FLIGHT]]   (default 10,000 domains, the resolver's default
//                                        lookups in flight for the lookup rounds)
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "common/median.h"
#include "common/quiet_dialogs.h"
#include "common/search_run.h"
#include "support/dnsmasq_fixture.h"
#include "verify/mail_domain_resolver.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAddressesPerPage = 1;
constexpr int kRounds = 3;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// User and system CPU seconds of process `pid`, from /proc/PID/stat; 0 when unreadable.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');  // the command name may hold spaces
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  // Fields 3 to 13 (state ... cmajflt), then utime and stime.
  for (int i = 3; i <= 13 && fields >> field; ++i) {
  }
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// This process's own CPU seconds, all its threads.
double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The dnsmasq the fixture started: the child of this process running it.
pid_t DnsmasqPid() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  pid_t found = -1;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid() && text.substr(open + 1, close - open - 1) == "dnsmasq") found = pid;
  }
  closedir(proc);
  return found;
}

std::string Domain(int i) {
  return "d" + std::to_string(i) + ".com";
}

// One domain in ten has MX records, one in forty a null MX, one in forty does not exist, the
// rest have only an A record (an MX question, then an A question). dnsmasq keeps MX and
// other records in lists it reads through for every question, its host records in a hash:
// 10,000 MX records would measure dnsmasq, not the checks.
std::string Records(int domains) {
  std::string records = "local=/com/\n";
  for (int i = 0; i < domains; ++i) {
    switch (i % 40) {
      case 0:
      case 1:
      case 2:
      case 3:
        records += "mx-host=" + Domain(i) + ",mx." + Domain(i) + ",10\n";
        break;
      case 4:
        records += "dns-rr=" + Domain(i) + ",15,000000\n";
        break;
      case 5:
        break;
      default:
        records += "host-record=" + Domain(i) + ",127.0.0.2\n";
    }
  }
  return records;
}

struct LookupFigures {
  double PerSecond = 0;
  std::map<qm::verify::TMailAnswer, int> Answers;
  uint64_t Queries = 0;
  double ThreadCpu = 0;   // our lookup thread's CPU seconds
  uint64_t Polls = 0;     // its waits for its sockets
  double DnsmasqCpu = 0;  // dnsmasq's CPU seconds
};

LookupFigures Lookups(const std::string& server, pid_t dnsmasq, int domains, size_t inFlight) {
  qm::verify::TMailDomainResolver::Options options;
  options.Server = server;
  options.MaxInFlight = inFlight;
  options.Deadline = std::chrono::seconds(30);
  qm::verify::TMailDomainResolver resolver(options);
  LookupFigures figures;
  const double dnsmasqBefore = ProcessCpuSeconds(dnsmasq);
  const auto start = Clock::now();
  for (int i = 0; i < domains; ++i) resolver.Request(Domain(i));
  for (int i = 0; i < domains; ++i) ++figures.Answers[resolver.Wait(Domain(i)).Answer];
  figures.PerSecond = domains / Seconds(Clock::now() - start);
  figures.DnsmasqCpu = ProcessCpuSeconds(dnsmasq) - dnsmasqBefore;
  const qm::verify::TMailDomainResolver::Counts counts = resolver.Statistics();
  figures.Queries = counts.Queries;
  figures.ThreadCpu = counts.ThreadCpuSeconds;
  figures.Polls = counts.Polls;
  return figures;
}

struct HarvestFigures {
  double Seconds = 0;
  double ProcessCpu = 0;     // the harvesting process's CPU seconds, all its threads
  double LookupThreadCpu = 0;
  double DnsmasqCpu = 0;
  uint64_t Queries = 0;
  uint64_t Polls = 0;  // the lookup thread's waits for its sockets
};

HarvestFigures Harvest(const qm::test::TempDir& dir, const std::string& listPath,
                       const std::string& resolver, pid_t dnsmasq, bool verify, int round,
                       std::map<std::string, int>& flags) {
  qm::bench::QuietDialogs dialogs;
  const std::string folder = dir.File((verify ? "on" : "off") + std::to_string(round));
  std::filesystem::create_directories(folder);
  qm::TForm1 form(dialogs, qm::bench::QuietEnvironment(folder + "/qmharvest"));
  form.FormCreate();
  form.SpinEdit1.SetValue(4);
  form.SpinEditDepth.SetValue(0);
  form.CheckBox2.SetChecked(true);
  form.Edit5.SetText(listPath);
  form.CheckBoxVerify.SetChecked(verify);
  form.VerifyResolver = resolver;
  HarvestFigures figures;
  const double dnsmasqBefore = ProcessCpuSeconds(dnsmasq);
  const double cpuBefore = SelfCpuSeconds();
  const auto start = Clock::now();
  qm::bench::RunSearchToEnd(form);
  figures.Seconds = Seconds(Clock::now() - start);
  figures.ProcessCpu = SelfCpuSeconds() - cpuBefore;
  figures.DnsmasqCpu = ProcessCpuSeconds(dnsmasq) - dnsmasqBefore;
  if (const qm::verify::TMailDomainResolver* lookups = form.Verifier()->Resolver()) {
    const qm::verify::TMailDomainResolver::Counts counts = lookups->Statistics();
    figures.LookupThreadCpu = counts.ThreadCpuSeconds;
    figures.Queries = counts.Queries;
    figures.Polls = counts.Polls;
  }
  int checked = 0;
  flags.clear();
  form.ResultStore()->ForEachRow(std::nullopt, 1u, [&](const qm::TStoredRow& row) {
    checked += !row.Checks.empty();
    ++flags[row.Checks];
  });
  if (checked == 0 || checked != form.StringGrid1.EntryCount()) {
    std::fprintf(stderr, "only %d of %d rows were stored with their checks (%s; %d pages)\n",
                 checked, form.StringGrid1.EntryCount(), form.Label6.Caption().c_str(),
                 static_cast<int>(form.AddressStatuses.Count()));
    std::exit(1);
  }
  return figures;
}

void PrintHarvest(const char* side, const HarvestFigures& figures) {
  std::printf("    %s: %.3f s; CPU s: harvest process %.3f (lookup thread %.3f), dnsmasq %.3f; "
              "%llu queries, %llu waits of the lookup thread\n",
              side, figures.Seconds, figures.ProcessCpu, figures.LookupThreadCpu,
              figures.DnsmasqCpu, static_cast<unsigned long long>(figures.Queries),
              static_cast<unsigned long long>(figures.Polls));
}

template <typename Field>
double MedianOf(const std::vector<HarvestFigures>& rounds, Field field) {
  std::vector<double> values;
  for (const HarvestFigures& figures : rounds) values.push_back(figures.*field);
  return qm::bench::Median(values);
}

}  // namespace

int main(int argc, char** argv) {
  const int domains = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const size_t inFlight = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2])))
                                   : qm::verify::TMailDomainResolver::Options{}.MaxInFlight;
  qm::test::DnsmasqServer dns(Records(domains));
  const pid_t dnsmasq = DnsmasqPid();
  std::printf("bench_verify: %d domains served by a local dnsmasq (MX 10%%, A only 85%%, null MX "
              "2.5%%, missing 2.5%%); %ld cores\n",
              domains, sysconf(_SC_NPROCESSORS_ONLN));

  std::vector<double> rates;
  for (int round = 1; round <= kRounds; ++round) {
    LookupFigures figures = Lookups(dns.Address(), dnsmasq, domains, inFlight);
    rates.push_back(figures.PerSecond);
    std::printf("  round %d: %8.0f lookups/s, %llu queries; mail %d, no mail %d, unchecked %d; "
                "per domain: lookup thread %.1f us CPU and %.2f waits, dnsmasq %.1f us CPU\n",
                round, figures.PerSecond, static_cast<unsigned long long>(figures.Queries),
                figures.Answers[qm::verify::TMailAnswer::Mail],
                figures.Answers[qm::verify::TMailAnswer::NoMail],
                figures.Answers[qm::verify::TMailAnswer::Unchecked],
                figures.ThreadCpu / domains * 1e6, static_cast<double>(figures.Polls) / domains,
                figures.DnsmasqCpu / domains * 1e6);
  }
  std::printf("lookups: median %.0f domains/s, %zu in flight (each domain once; MX, then A "
              "when no MX)\n",
              qm::bench::Median(rates), inFlight);

  // The same domains found in a harvest: a contact page per domain, as a list of company
  // sites gives them.
  qm::test::NginxServer nginx(qm::bench::NginxOptions());
  qm::test::TempDir dir;
  std::string list;
  const int pages = (domains + kAddressesPerPage - 1) / kAddressesPerPage;
  for (int page = 0; page < pages; ++page) {
    std::string text = "<html><body><h1>联系我们</h1>\n";
    for (int i = page * kAddressesPerPage; i < std::min(domains, (page + 1) * kAddressesPerPage);
         ++i) {
      text += "<p>销售 user" + std::to_string(i) + "@" + Domain(i) + " 电话</p>\n";
    }
    text += "</body></html>\n";
    const std::string name = "p" + std::to_string(page) + ".html";
    nginx.WriteFile(name, text);
    list += nginx.Url(name) + "\r\n";
  }
  const std::string listPath = dir.Write("list.txt", list);
  std::vector<HarvestFigures> on, off;
  std::map<std::string, int> flags;
  const auto runOn = [&](int round) {
    on.push_back(Harvest(dir, listPath, dns.Address(), dnsmasq, true, round, flags));
  };
  const auto runOff = [&](int round) {
    off.push_back(Harvest(dir, listPath, dns.Address(), dnsmasq, false, round, flags));
  };
  for (int round = 1; round <= kRounds; ++round) {
    // Alternated, so that neither side always runs on a warmer system.
    if (round % 2) {
      runOn(round);
      runOff(round);
    } else {
      runOff(round);
      runOn(round);
    }
    std::printf("  round %d: harvest of %d pages, %d addresses\n", round, pages, domains);
    PrintHarvest("with lookups", on.back());
    PrintHarvest("without    ", off.back());
    if (round == 1) {
      Harvest(dir, listPath, dns.Address(), dnsmasq, true, 0, flags);
      std::printf("    rows by their checks, with lookups:");
      for (const auto& [text, count] : flags) std::printf(" %s %d;", text.c_str(), count);
      std::printf("\n");
    }
  }
  const double withChecks = MedianOf(on, &HarvestFigures::Seconds);
  const double without = MedianOf(off, &HarvestFigures::Seconds);
  const double share = std::max(0.0, withChecks - without) / withChecks * 100;
  std::printf("harvest: median %.3f s with lookups, %.3f s without: checking takes %.1f%% of "
              "the run (goal at most 5%%)\n",
              withChecks, without, share);
  // What the lookups add in CPU, ours and dnsmasq's: on this many cores, busy already, the
  // run grows by at least that divided by the cores.
  const double ours = MedianOf(on, &HarvestFigures::ProcessCpu) -
                      MedianOf(off, &HarvestFigures::ProcessCpu);
  const double theirs = MedianOf(on, &HarvestFigures::DnsmasqCpu);
  const double cores = static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN));
  const double least = std::max(0.0, ours + theirs) / cores;
  std::printf("CPU the lookups add: %.3f s in the harvest process (lookup thread %.3f s), "
              "%.3f s in dnsmasq; spread over %.0f cores that is at least %.3f s, a share of "
              "%.1f%% of the run\n",
              ours, MedianOf(on, &HarvestFigures::LookupThreadCpu), theirs, cores, least,
              least / (without + least) * 100);
  return 0;
}
