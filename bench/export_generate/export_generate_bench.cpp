// Generating a 1,000,000-line URL list and exporting a 1,000,000-row result list, each next
// to one fwrite of the same bytes. Each comparison runs in a child process of its own; times
// are the best of a few rounds.
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "common/bench_common.h"
#include "engine/result_list.h"
#include "persistence/export_results.h"
#include "urllists/generator_form.h"

namespace {

constexpr int kLines = 1000000;
constexpr int kRounds = 5;

class FixedSaveDialogs : public qm::ui::Dialogs {
 public:
  explicit FixedSaveDialogs(std::string path) : path_(std::move(path)) {}
  void ShowInformation(const std::string&) override {}
  bool Confirm(const std::string&) override { return true; }
  void ShowMessage(const std::string&) override {}
  std::optional<std::string> InputBox(const std::string&, const std::string&,
                                      const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> OpenFile(const qm::ui::FileDialogOptions&) override { return path_; }
  std::optional<std::string> SaveFile(const qm::ui::FileDialogOptions&) override { return path_; }
  void PauseUi(int) override {}

 private:
  std::string path_;
};

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

// In a child process: setup gives the operation and the file it writes; the operation runs
// once, then rounds alternate between it and one fwrite of the bytes it wrote, so both meet
// the same state of the page cache.
void Compare(const char* name,
             const std::function<std::pair<std::function<void()>, std::string>()>& setup,
             const std::string& plainPath) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    auto [work, path] = setup();
    work();
    const std::string bytes = ReadFile(path);
    const long resident = StatusKiB("VmRSS");
    Figures subject, plain;
    for (int round = 0; round < kRounds; ++round) {
      Sample(work, subject);
      Sample([&] { PlainWrite(plainPath, bytes); }, plain);
    }
    std::printf("%s: %.1f MiB written, %.1f MiB resident before\n", name, bytes.size() / 1048576.0,
                resident / 1024.0);
    std::printf("  operation   %6.3f s wall  %6.3f s cpu  peak %+6.1f MiB\n", subject.seconds,
                subject.cpuSeconds, subject.extraKiB / 1024.0);
    std::printf("  one fwrite  %6.3f s wall  %6.3f s cpu  peak %+6.1f MiB\n", plain.seconds,
                plain.cpuSeconds, plain.extraKiB / 1024.0);
    std::printf("  ratio       %6.2fx wall   %6.2fx cpu\n", subject.seconds / plain.seconds,
                subject.cpuSeconds / plain.cpuSeconds);
    std::fflush(stdout);
    std::_Exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::printf("%s: failed\n", name);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/qmbench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string plain = dir + "/plain.txt";

  std::printf("%d lines / rows, best of %d rounds; peaks are memory added by the operation\n",
              kLines, kRounds);
  Compare(
      "generate (one counter)",
      [&] {
        const std::string path = dir + "/one.txt";
        auto dialogs = std::make_shared<FixedSaveDialogs>(path);
        auto form = std::make_shared<qm::TbbsForm>(*dialogs);
        form->Edit1.SetText("http://bbs.example.com/forum/viewthread-");
        form->Edit2.SetText("1");
        form->Edit3.SetText(std::to_string(kLines));
        form->Edit4.SetText("-1-1.html");
        return std::pair(std::function<void()>([dialogs, form] { form->SpeedButton1Click(); }),
                         path);
      },
      plain);
  Compare(
      "generate (two counters)",
      [&] {
        const std::string path = dir + "/two.txt";
        auto dialogs = std::make_shared<FixedSaveDialogs>(path);
        auto form = std::make_shared<qm::TbbsForm>(*dialogs);
        form->Edit5.SetText("http://bbs.example.com/forum-");
        form->Edit6.SetText("1");
        form->Edit7.SetText(std::to_string(kLines));
        form->Edit9.SetText("-page-");
        form->Edit10.SetText("1000");
        form->Edit8.SetText(".html");
        return std::pair(std::function<void()>([dialogs, form] { form->SpeedButton2Click(); }),
                         path);
      },
      plain);
  Compare(
      "export (one list)",
      [&] {
        const std::string path = dir + "/exported.txt";
        static qm::ui::ChangeNotifier changes;
        auto list = std::make_shared<qm::TResultList>(changes);
        for (int i = 0; i < kLines; ++i) {
          list->AcceptCandidate("member" + std::to_string(100000 + i) + "@example.com.cn");
        }
        auto dialogs = std::make_shared<FixedSaveDialogs>(path);
        return std::pair(std::function<void()>([list, dialogs, dir] {
                           qm::SaveResultList(*list, qm::kEmailExportPrefix, *dialogs, dir + "/");
                         }),
                         path);
      },
      plain);

  std::filesystem::remove_all(dir);
  return 0;
}
