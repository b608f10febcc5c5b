// A whole search run of 2,000 local pages with 4 workers through the main window's core
// (all three kinds collected), next to FetchPageLines alone on 4 threads over the same
// pages, alternating, in the same process. Prints pages per second and peak memory.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/median.h"
#include "common/quiet_dialogs.h"
#include "common/search_run.h"
#include "engine/main_form.h"
#include "http/fetch_page_lines.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"
#include "text/line_split.h"

namespace {

constexpr int kThreads = 4;
constexpr int kPages = 2000;
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;
using qm::bench::Median;

struct Rate {
  double PagesPerSecond;
  double CpuMsPer1000Pages;  // this process's user and system time, all threads
};

template <class Work>
Rate Measure(size_t pages, Work work) {
  const double cpu = qm::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  work();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return {pages / seconds, (qm::bench::ProcessCpuSeconds() - cpu) * 1e6 / pages};
}

Rate FetchOnly(const std::vector<std::string>& urls, int& failures) {
  std::atomic<int> failed{0};
  const Rate rate = Measure(urls.size(), [&] {
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        qm::TPageLines lines;
        for (size_t i = next++; i < urls.size(); i = next++) {
          if (!qm::FetchPageLines(urls[i], lines)) ++failed;
        }
      });
    }
    for (auto& thread : threads) thread.join();
  });
  failures = failed;
  return rate;
}

Rate WholeRun(qm::TForm1& form) {
  return Measure(kPages, [&] { qm::bench::RunSearchToEnd(form); });
}

void SetUp(qm::TForm1& form, const std::string& listPath) {
  form.FormCreate();
  form.SpinEdit1.SetValue(kThreads);
  // The listed pages only: what the run adds to their fetch, not a crawl of their links.
  form.SpinEditDepth.SetValue(0);
  form.CheckBox2.SetChecked(true);
  form.CheckBox3.SetChecked(true);
  form.CheckBox4.SetChecked(true);
  form.Edit5.SetText(listPath);
}

}  // namespace

int main() {
  qm::test::NginxServer nginx(qm::bench::NginxOptions());
  qm::test::TempDir dir;

  std::mt19937 random(20261207);
  std::vector<std::string> urls;
  std::string list;
  size_t bytes = 0;
  for (int i = 0; i < kPages; ++i) {
    const std::string name = "p" + std::to_string(i) + ".html";
    const std::string page = qm::bench::MakeContactPage(random, i);
    bytes += page.size();
    nginx.WriteFile(name, page);
    urls.push_back(nginx.Url(name));
    list += urls.back() + "\r\n";
  }
  const std::string listPath = dir.Write("list.txt", list);

  qm::bench::QuietDialogs dialogs;
  qm::TForm1Environment environment = qm::bench::QuietEnvironment(dir.File("qmharvest"));
  qm::TForm1 form(dialogs, environment);
  SetUp(form, listPath);

  std::printf("bench_run: %d pages of %zu bytes on average, %d threads, local nginx\n", kPages,
              bytes / kPages, kThreads);
  int failures = 0;
  FetchOnly(urls, failures);  // warm-up
  std::vector<double> fetchRates, runRates, fetchCpu, runCpu;
  long fetchPeak = 0;
  for (int round = 1; round <= kRounds; ++round) {
    Rate fetch{}, run{};
    // Alternate the order so that neither side always runs on a warmer system.
    if (round % 2) {
      fetch = FetchOnly(urls, failures);
      fetchPeak = std::max(fetchPeak, qm::bench::PeakRssKb());
      run = WholeRun(form);
    } else {
      run = WholeRun(form);
      fetch = FetchOnly(urls, failures);
    }
    fetchRates.push_back(fetch.PagesPerSecond);
    runRates.push_back(run.PagesPerSecond);
    fetchCpu.push_back(fetch.CpuMsPer1000Pages);
    runCpu.push_back(run.CpuMsPer1000Pages);
    std::printf(
        "  round %d: FetchPageLines alone %6.0f pages/s %6.0f cpu ms/1000 pages (%d failed);"
        " whole run %6.0f pages/s %6.0f cpu ms/1000 pages (%d lines taken)\n",
        round, fetch.PagesPerSecond, fetch.CpuMsPer1000Pages, failures, run.PagesPerSecond,
        run.CpuMsPer1000Pages, form.SearchState.UrlCounter.load());
  }
  const long runPeak = qm::bench::PeakRssKb();
  const double fetch = Median(fetchRates), run = Median(runRates);
  std::printf(
      "median: FetchPageLines alone %.0f pages/s, whole run %.0f pages/s: the run takes "
      "%+.1f%% more time\n",
      fetch, run, (fetch / run - 1.0) * 100.0);
  std::printf(
      "median cpu: FetchPageLines alone %.0f ms, whole run %.0f ms per 1000 pages: %+.1f%%\n",
      Median(fetchCpu), Median(runCpu), (Median(runCpu) / Median(fetchCpu) - 1.0) * 100.0);
  std::printf("results of a run: %d e-mail, %d mobile, %d QQ rows\n", form.StringGrid1.EntryCount(),
              form.StringGrid2.EntryCount(), form.StringGrid3.EntryCount());
  std::printf("peak memory: %ld KB after the fetches alone, %ld KB after the runs\n", fetchPeak,
              runPeak);

  // The same run with the pages served from memory: what the engine costs by itself.
  std::vector<qm::TPageLines> pages(kPages);
  for (int i = 0; i < kPages; ++i) {
    pages[i].AssignText(qm::test::TempDir::Read(
        (nginx.DocumentRoot() / ("p" + std::to_string(i) + ".html")).string()));
  }
  qm::TForm1Environment inMemory = environment;
  std::filesystem::create_directories(dir.File("memory"));
  inMemory.ProgramPath = dir.File("memory/qmharvest");
  inMemory.FetchPage = [&](const std::string& url, qm::TPageLines& lines) {
    lines = pages.at(std::stoul(url.substr(url.rfind("/p") + 2)));
    return true;
  };
  qm::TForm1 memoryForm(dialogs, inMemory);
  SetUp(memoryForm, listPath);
  std::vector<double> memoryRates, memoryCpu;
  for (int round = 1; round <= kRounds; ++round) {
    const Rate rate = WholeRun(memoryForm);
    memoryRates.push_back(rate.PagesPerSecond);
    memoryCpu.push_back(rate.CpuMsPer1000Pages);
  }
  std::printf(
      "engine alone, pages copied from memory: median %.0f pages/s, %.0f cpu ms per 1000 "
      "pages\n",
      Median(memoryRates), Median(memoryCpu));
  return 0;
}
