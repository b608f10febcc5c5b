#include "contender_runs.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/child_process.h"

namespace qm::bench {
namespace fs = std::filesystem;

const PlainPattern kPlainPatterns[3] = {
    {"email", "[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}"},
    {"mobile", "1[0-9]{10}"},
    {"qq", "[1-9][0-9]{4,9}"}};

namespace {

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string HostOf(const std::string& address) {
  const size_t scheme = address.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = address.find_first_of(":/?#", start);
  return address.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

ContenderRun RunHarvester(const std::string& cliPath, const LocalWeb& web, const fs::path& work,
                          const std::vector<std::string>& crawlOptions, int threads) {
  std::string list;
  for (size_t site = 0; site < web.Hosts.size(); ++site) list += web.HomeAddress(site) + "\r\n";
  const fs::path listPath = work / "list.txt";
  std::ofstream(listPath, std::ios::binary | std::ios::trunc) << list;
  const fs::path rows = work / "rows.tsv", status = work / "status.tsv", errors = work / "stderr";
  std::vector<std::string> args = {cliPath,   "harvest",  "--threads", std::to_string(threads),
                                   "--email", "--mobile", "--qq",      "--no-online-check"};
  args.insert(args.end(), crawlOptions.begin(), crawlOptions.end());
  args.insert(args.end(), {"--status", status.string(), listPath.string()});
  const ChildRun child = RunChild(args, rows.string(), errors.string());
  ContenderRun run;
  run.Seconds = run.FetchSeconds = child.Seconds;
  run.CpuSeconds = child.CpuSeconds;
  if (child.ExitCode() != 0) {
    const std::vector<std::string> message = Lines(errors);
    run.Trouble = "exit status " + std::to_string(child.ExitCode()) +
                  (message.empty() ? "" : ": " + message.back());
  }
  // Rows: kind, value as the list holds it, the page it was found on.
  for (const std::string& line : Lines(rows)) {
    const std::vector<std::string> fields = TabFields(line);
    if (fields.size() < 2) continue;
    std::string value = fields[1];
    if (fields[0] == "qq") value = value.substr(0, value.find('@'));
    run.Found.insert(fields[0] + "\t" + value);
  }
  // Status records: line number, then the page's address.
  for (const std::string& line : Lines(status)) {
    const std::vector<std::string> fields = TabFields(line);
    if (fields.size() > 1) ++run.PagesPerHost[HostOf(fields[1])];
  }
  return run;
}

ContenderRun RunWgetPipeline(const LocalWeb& web, const fs::path& work, int parallel) {
  const fs::path tree = work / ("wget-" + std::to_string(parallel));
  fs::remove_all(tree);
  fs::create_directories(tree);
  ContenderRun run;
  std::atomic<size_t> next{0};
  std::atomic<int> failures{0};
  std::mutex cpuLock;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int w = 0; w < parallel; ++w) {
    workers.emplace_back([&] {
      for (size_t site = next++; site < web.Hosts.size(); site = next++) {
        const ChildRun child =
            RunChild({"wget", "-r", "-l", "1", "-q", "-P", tree.string(), web.HomeAddress(site)});
        // 8: some link answered with an error, as links on real sites do.
        if (child.ExitCode() != 0 && child.ExitCode() != 8) ++failures;
        const std::lock_guard<std::mutex> hold(cpuLock);
        run.CpuSeconds += child.CpuSeconds;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  run.FetchSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.Seconds = run.FetchSeconds;
  if (failures > 0) run.Trouble = std::to_string(failures.load()) + " wget runs failed";

  for (const PlainPattern& pattern : kPlainPatterns) {
    const fs::path output = work / (std::string("rg-") + pattern.Kind);
    const ChildRun child = RunChild(
        {"rg", "-o", "-N", "--no-filename", pattern.Pattern, tree.string()}, output.string());
    run.Seconds += child.Seconds;
    run.CpuSeconds += child.CpuSeconds;
    if (child.ExitCode() != 0 && child.ExitCode() != 1) run.Trouble += " rg failed";
    for (const std::string& match : Lines(output)) {
      run.Found.insert(std::string(pattern.Kind) + "\t" +
                       (pattern.Kind == std::string("email") ? Lower(match) : match));
    }
  }
  // wget keeps each site in a folder named HOST:PORT; its pages are the .html files (some
  // with a query after the name), the rest images, a brochure, a style sheet, robots.txt.
  for (const fs::directory_entry& site : fs::directory_iterator(tree)) {
    const std::string host = HostOf(site.path().filename().string());
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(site.path())) {
      if (file.is_regular_file() &&
          file.path().filename().string().find(".html") != std::string::npos) {
        ++run.PagesPerHost[host];
      }
    }
  }
  return run;
}

std::map<std::string, long> AccessLogLines(const LocalWeb& web, const fs::path& logFolder) {
  std::map<std::string, long> counts;
  for (const std::string& host : web.Hosts) {
    counts[host] = static_cast<long>(Lines(logFolder / (host + ".log")).size());
  }
  return counts;
}

}  // namespace qm::bench
