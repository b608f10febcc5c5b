// The row checks: e-mail domains looked up per second against a local dnsmasq (MX, A only,
// null MX and missing domains), and the share of a whole harvest's time that checking its
// rows costs: the same search of 10,000 pages, each with an address at a domain of its
// own, with the checks asking that dnsmasq and with lookups off.
//
//   bench_verify [DOMAINS [IN-FLIGHT]]   (default 10,000 domains, the resolver's default
//                                        lookups in flight for the lookup rounds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
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
};

LookupFigures Lookups(const std::string& server, int domains, size_t inFlight) {
  qm::verify::TMailDomainResolver::Options options;
  options.Server = server;
  options.MaxInFlight = inFlight;
  options.Deadline = std::chrono::seconds(30);
  qm::verify::TMailDomainResolver resolver(options);
  LookupFigures figures;
  const auto start = Clock::now();
  for (int i = 0; i < domains; ++i) resolver.Request(Domain(i));
  for (int i = 0; i < domains; ++i) ++figures.Answers[resolver.Wait(Domain(i)).Answer];
  figures.PerSecond = domains / Seconds(Clock::now() - start);
  figures.Queries = resolver.Statistics().Queries;
  return figures;
}

double HarvestSeconds(const qm::test::TempDir& dir, const std::string& listPath,
                      const std::string& resolver, bool verify, int round,
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
  const auto start = Clock::now();
  qm::bench::RunSearchToEnd(form);
  const double seconds = Seconds(Clock::now() - start);
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
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int domains = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const size_t inFlight = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2])))
                                   : qm::verify::TMailDomainResolver::Options{}.MaxInFlight;
  qm::test::DnsmasqServer dns(Records(domains));
  std::printf("bench_verify: %d domains served by a local dnsmasq (MX 10%%, A only 85%%, null MX "
              "2.5%%, missing 2.5%%)\n",
              domains);

  std::vector<double> rates;
  for (int round = 1; round <= kRounds; ++round) {
    LookupFigures figures = Lookups(dns.Address(), domains, inFlight);
    rates.push_back(figures.PerSecond);
    std::printf("  round %d: %8.0f lookups/s, %llu queries; mail %d, no mail %d, unchecked %d\n",
                round, figures.PerSecond, static_cast<unsigned long long>(figures.Queries),
                figures.Answers[qm::verify::TMailAnswer::Mail],
                figures.Answers[qm::verify::TMailAnswer::NoMail],
                figures.Answers[qm::verify::TMailAnswer::Unchecked]);
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
  std::vector<double> on, off;
  std::map<std::string, int> flags;
  for (int round = 1; round <= kRounds; ++round) {
    // Alternated, so that neither side always runs on a warmer system.
    if (round % 2) {
      on.push_back(HarvestSeconds(dir, listPath, dns.Address(), true, round, flags));
      off.push_back(HarvestSeconds(dir, listPath, dns.Address(), false, round, flags));
    } else {
      off.push_back(HarvestSeconds(dir, listPath, dns.Address(), false, round, flags));
      on.push_back(HarvestSeconds(dir, listPath, dns.Address(), true, round, flags));
    }
    std::printf("  round %d: harvest of %d pages, %d addresses: %.3f s with lookups, %.3f s "
                "without\n",
                round, pages, domains, on.back(), off.back());
    if (round == 1) {
      HarvestSeconds(dir, listPath, dns.Address(), true, 0, flags);
      std::printf("    rows by their checks, with lookups:");
      for (const auto& [text, count] : flags) std::printf(" %s %d;", text.c_str(), count);
      std::printf("\n");
    }
  }
  const double withChecks = qm::bench::Median(on);
  const double without = qm::bench::Median(off);
  const double share = std::max(0.0, withChecks - without) / withChecks * 100;
  std::printf("harvest: median %.3f s with lookups, %.3f s without: checking takes %.1f%% of "
              "the run (goal at most 5%%)\n",
              withChecks, without, share);
  return 0;
}
