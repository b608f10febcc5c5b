// Generating a 1,000,000-line URL list and exporting a 1,000,000-row result list, each next
// to one fwrite of the same bytes. Each comparison runs in a child process of its own; times
// are the best of a few rounds.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/bench_common.h"
#include "common/child_process.h"
#include "common/quiet_dialogs.h"
#include "contacts/result_list.h"
#include "persistence/export_results.h"
#include "urllists/generator_form.h"

namespace {

constexpr int kLines = 1000000;
constexpr int kRounds = 5;
// Runs one comparison by its index: this program as the child of itself.
constexpr const char* kCompareOption = "--compare";

long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

// Lets the peak (VmHWM) start again from the present size, where the kernel allows it.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void PlainWrite(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0) {
    std::perror("plain write");
    std::exit(1);
  }
}

struct Figures {
  double seconds = 1e9;
  double cpuSeconds = 1e9;  // user + system time: less swayed by other processes on the machine
  long extraKiB = 0;
};

// Times one run of work and the memory it added at its peak over what was resident before.
void Sample(const std::function<void()>& work, Figures& figures) {
  ResetPeak();
  const long before = StatusKiB("VmRSS");
  const double cpuStart = qm::bench::ProcessCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  work();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.seconds = std::min(figures.seconds, seconds);
  figures.cpuSeconds = std::min(figures.cpuSeconds, qm::bench::ProcessCpuSeconds() - cpuStart);
  figures.extraKiB = std::max(figures.extraKiB, StatusKiB("VmHWM") - before);
}

// The operation a comparison times and the file it writes, made in the folder given.
using Operation = std::pair<std::function<void()>, std::string>;

struct Comparison {
  const char* Name;
  std::function<Operation(const std::string& dir)> Setup;
};

const std::vector<Comparison>& Comparisons() {
  static const std::vector<Comparison> comparisons = {
      {"generate (one counter)",
       [](const std::string& dir) {
         const std::string path = dir + "/one.txt";
         auto dialogs = std::make_shared<qm::bench::QuietDialogs>(path);
         auto form = std::make_shared<qm::TbbsForm>(*dialogs);
         form->Edit1.SetText("http://bbs.example.com/forum/viewthread-");
         form->Edit2.SetText("1");
         form->Edit3.SetText(std::to_string(kLines));
         form->Edit4.SetText("-1-1.html");
         return Operation([dialogs, form] { form->SpeedButton1Click(); }, path);
       }},
      {"generate (two counters)",
       [](const std::string& dir) {
         const std::string path = dir + "/two.txt";
         auto dialogs = std::make_shared<qm::bench::QuietDialogs>(path);
         auto form = std::make_shared<qm::TbbsForm>(*dialogs);
         form->Edit5.SetText("http://bbs.example.com/forum-");
         form->Edit6.SetText("1");
         form->Edit7.SetText(std::to_string(kLines));
         form->Edit9.SetText("-page-");
         form->Edit10.SetText("1000");
         form->Edit8.SetText(".html");
         return Operation([dialogs, form] { form->SpeedButton2Click(); }, path);
       }},
      {"export (one list)",
       [](const std::string& dir) {
         const std::string path = dir + "/exported.txt";
         static qm::ui::ChangeNotifier changes;
         auto list = std::make_shared<qm::TResultList>(changes);
         for (int i = 0; i < kLines; ++i) {
           list->AcceptCandidate("member" + std::to_string(100000 + i) + "@example.com.cn");
         }
         auto dialogs = std::make_shared<qm::bench::QuietDialogs>(path);
         return Operation(
             [list, dialogs, dir] {
               qm::SaveResultList(*list, qm::kEmailExportPrefix, *dialogs, dir + "/");
             },
             path);
       }},
  };
  return comparisons;
}

// In the child process: the operation runs once, then rounds alternate between it and one
// fwrite of the bytes it wrote, so both meet the same state of the page cache.
int CompareHere(const Comparison& comparison, const std::string& dir) {
  auto [work, path] = comparison.Setup(dir);
  work();
  const std::string bytes = ReadFile(path);
  const long resident = StatusKiB("VmRSS");
  const std::string plainPath = dir + "/plain.txt";
  Figures subject, plain;
  for (int round = 0; round < kRounds; ++round) {
    Sample(work, subject);
    Sample([&] { PlainWrite(plainPath, bytes); }, plain);
  }
  std::printf("%s: %.1f MiB written, %.1f MiB resident before\n", comparison.Name,
              bytes.size() / 1048576.0, resident / 1024.0);
  std::printf("  operation   %6.3f s wall  %6.3f s cpu  peak %+6.1f MiB\n", subject.seconds,
              subject.cpuSeconds, subject.extraKiB / 1024.0);
  std::printf("  one fwrite  %6.3f s wall  %6.3f s cpu  peak %+6.1f MiB\n", plain.seconds,
              plain.cpuSeconds, plain.extraKiB / 1024.0);
  std::printf("  ratio       %6.2fx wall   %6.2fx cpu\n", subject.seconds / plain.seconds,
              subject.cpuSeconds / plain.cpuSeconds);
  return 0;
}

// Each comparison runs in a process of its own, this program started again, so that none
// inherits another's heap.
void Compare(size_t index, const std::string& dir) {
  std::fflush(stdout);
  const qm::bench::ChildRun run =
      qm::bench::RunChild({"/proc/self/exe", kCompareOption, std::to_string(index), dir}, "", "");
  if (run.ExitCode() != 0) std::printf("%s: failed\n", Comparisons()[index].Name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kCompareOption) == 0) {
    return CompareHere(Comparisons().at(std::stoul(argv[2])), argv[3]);
  }
  char pattern[] = "/tmp/qmbench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;

  std::printf("%d lines / rows, best of %d rounds; peaks are memory added by the operation\n",
              kLines, kRounds);
  for (size_t index = 0; index < Comparisons().size(); ++index) Compare(index, dir);

  std::filesystem::remove_all(dir);
  return 0;
}
