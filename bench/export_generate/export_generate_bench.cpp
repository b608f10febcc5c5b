// Generating a 1,000,000-line URL list and exporting a 1,000,000-row result list, each next
// to one fwrite of the same bytes. Every measurement runs in a child process of its own, so
// its peak memory is its own; times are the best of a few rounds.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "engine/result_list.h"
#include "persistence/export_results.h"
#include "urllists/generator_form.h"

namespace {

constexpr int kLines = 1000000;
constexpr int kRounds = 3;

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

// Runs setup, then `work` kRounds times in a child; prints the best time and the peak memory
// over the size after setup.
void Measure(const char* name, const std::function<std::function<void()>()>& setup) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const std::function<void()> work = setup();
    ResetPeak();
    const long before = StatusKiB("VmRSS");
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
      const auto start = std::chrono::steady_clock::now();
      work();
      best = std::min(
          best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const long peak = StatusKiB("VmHWM");
    std::printf("%-34s %8.3f s   peak %7.1f MiB   (%+7.1f MiB over %7.1f MiB before)\n", name, best,
                peak / 1024.0, (peak - before) / 1024.0, before / 1024.0);
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
  const std::string generated = dir + "/generated.txt";
  const std::string exported = dir + "/exported.txt";
  const std::string plain = dir + "/plain.txt";

  auto generator = [&] {
    return std::function<void()>([&] {
      FixedSaveDialogs dialogs(generated);
      qm::TbbsForm form(dialogs);
      form.Edit1.SetText("http://bbs.example.com/forum/viewthread-");
      form.Edit2.SetText("1");
      form.Edit3.SetText(std::to_string(kLines));
      form.Edit4.SetText("-1-1.html");
      form.SpeedButton1Click();
    });
  };
  std::printf("%d lines / rows, best of %d rounds\n", kLines, kRounds);
  Measure("generate (one counter)", generator);
  Measure("  one fwrite of the same bytes", [&] {
    auto bytes = std::make_shared<std::string>(ReadFile(generated));
    return std::function<void()>([&, bytes] { PlainWrite(plain, *bytes); });
  });
  std::printf("  file size %.1f MiB\n", std::filesystem::file_size(generated) / 1048576.0);

  auto filledList = [] {
    static qm::ui::ChangeNotifier changes;
    auto list = std::make_shared<qm::TResultList>(changes);
    for (int i = 0; i < kLines; ++i) {
      list->AcceptCandidate("member" + std::to_string(100000 + i) + "@example.com.cn");
    }
    return list;
  };
  Measure("export (snapshot + one write)", [&] {
    auto list = filledList();
    return std::function<void()>([&, list] {
      FixedSaveDialogs dialogs(exported);
      qm::SaveResultList(*list, qm::kEmailExportPrefix, dialogs, dir + "/");
    });
  });
  Measure("  one fwrite of the same bytes", [&] {
    auto bytes = std::make_shared<std::string>(ReadFile(exported));
    return std::function<void()>([&, bytes] { PlainWrite(plain, *bytes); });
  });
  std::printf("  file size %.1f MiB\n", std::filesystem::file_size(exported) / 1048576.0);

  std::filesystem::remove_all(dir);
  return 0;
}
