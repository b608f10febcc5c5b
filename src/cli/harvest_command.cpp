// qmharvest-cli harvest [OPTIONS] LIST
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_dialogs.h"
#include "cli/row_output.h"
#include "cli/status_output.h"
#include "engine/main_form.h"
#include "engine/url_list_reader.h"
#include "persistence/export_results.h"
#include "persistence/settings_file.h"
#include "text/program_location.h"

namespace qm::cli {

const char* const kHarvestHelp =
    "Usage: qmharvest-cli harvest [OPTIONS] LIST\n"
    "\n"
    "Searches the pages of the URL list LIST through the same core as the main window's\n"
    "\"搜索\" (or \"继续\" with --from). Each append to a result list is written to standard\n"
    "output as by scan; the order follows the workers. At the end a summary goes to\n"
    "standard error. Ctrl-C once stops the search as \"终止\" does (the workers finish their\n"
    "pages); a second Ctrl-C ends it at once.\n"
    "\n"
    "  --threads N       worker threads, 1 to 4 (default 1)\n"
    "  --email           collect e-mail addresses (the default when no kind is named)\n"
    "  --mobile          collect mobile numbers\n"
    "  --qq              collect QQ numbers\n"
    "  --from POS        resume: skip the first POS lines of the list (at least one)\n"
    "  --out DIR         also write the non-empty lists to DIR as the program saves them\n"
    "                    (电邮N.txt, 手机N.txt, QQ邮N.txt)\n"
    "  --save-progress   keep the progress record in the settings file beside this\n"
    "                    program (qmharvest-cli.ini), as the window does\n"
    "  --no-online-check do not require an address other than 127.0.0.1 for this host\n"
    "  --in-flight K     pages each worker keeps in flight, 1 to 32 (default 8)\n"
    "  --no-redirects    scan a redirect's own body instead of following it\n"
    "  --no-extended     only the plain lower-case forms of contacts, as the first version\n"
    "  --no-unique       append a value again unless it repeats the list's last one\n"
    "  --depth D         follow links on a listed page's site D links deep, 0 to 3\n"
    "                    (default 1; 0 searches only the listed pages)\n"
    "  --page-limit N    pages of one site at most, 1 to 1000 (default 20)\n"
    "  --no-robots       follow links that the site's robots.txt forbids\n"
    "  --status FILE     write what became of every page to FILE as it ends, one line\n"
    "                    each: line number, address, final address, HTTP status, bytes,\n"
    "                    milliseconds, failure reason, the e-mail, mobile and QQ rows the\n"
    "                    page added, its depth (0: the listed page) and the listed\n"
    "                    address it was reached from, separated by tabs\n";

namespace {

// A folder for a settings file nobody asked to keep; removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "qmharvest-cli.XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Ctrl-C arrives through a descriptor that the waiting loop polls, never as a handler that
// interrupts a worker. The mask is set before any worker exists, so every thread inherits it.
class InterruptChannel {
 public:
  InterruptChannel() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~InterruptChannel() {
    if (fd_ >= 0) ::close(fd_);
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  InterruptChannel(const InterruptChannel&) = delete;
  InterruptChannel& operator=(const InterruptChannel&) = delete;
  int Fd() const { return fd_; }
  // The number of Ctrl-C presses waiting on the descriptor.
  int Take() {
    int count = 0;
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) ++count;
    return count;
  }

 private:
  sigset_t set_;
  sigset_t previous_;
  int fd_ = -1;
};

// Wakes the waiting loop when a control model changes (a new row, a count, the hint line).
class ChangeWakeup {
 public:
  ChangeWakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~ChangeWakeup() {
    if (fd_ >= 0) ::close(fd_);
  }
  ChangeWakeup(const ChangeWakeup&) = delete;
  ChangeWakeup& operator=(const ChangeWakeup&) = delete;
  int Fd() const { return fd_; }
  void Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(fd_, &one, sizeof one);
  }
  void Drain() {
    uint64_t value;
    [[maybe_unused]] const ssize_t ignored = ::read(fd_, &value, sizeof value);
  }

 private:
  int fd_;
};

class ProgressLine {
 public:
  ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
  void Show(const TForm1& form, bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    std::fprintf(stderr, "\r\033[Klines %d/%d  email %d  mobile %d  qq %d",
                 form.SearchState.UrlCounter.load(), form.SearchState.UrlTotal.load(),
                 form.StringGrid1.EntryCount(), form.StringGrid2.EntryCount(),
                 form.StringGrid3.EntryCount());
    shown_ = true;
  }
  // Before other output on the terminal.
  void Erase() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

void WriteSummary(const TForm1& form) {
  std::fprintf(stderr, "lines taken: %d, lines in the list: %d, email: %d, mobile: %d, qq: %d\n",
               form.SearchState.UrlCounter.load(), form.SearchState.UrlTotal.load(),
               form.StringGrid1.EntryCount(), form.StringGrid2.EntryCount(),
               form.StringGrid3.EntryCount());
}

void ExportLists(const TForm1& form, const std::string& folder) {
  std::filesystem::create_directories(folder);
  const struct {
    const TResultList& List;
    std::string_view Prefix;
  } lists[] = {{form.StringGrid1, kEmailExportPrefix},
               {form.StringGrid2, kMobileExportPrefix},
               {form.StringGrid3, kQQExportPrefix}};
  for (const auto& entry : lists) {
    const std::vector<std::string> rows = entry.List.Snapshot();
    if (rows.size() == 1 && rows[0].empty()) continue;
    const std::string name = ProposedExportName(entry.Prefix, static_cast<int32_t>(rows.size()));
    WriteListFile((std::filesystem::path(folder) / name).string(), rows);
  }
}

}  // namespace

int RunHarvest(const std::vector<std::string>& args) {
  const ParsedCommand parsed = ParseCommand(
      args,
      {{"--email", "--mobile", "--qq", "--save-progress", "--no-online-check", "--no-redirects",
        "--no-extended", "--no-unique", "--no-robots"},
       {"--threads", "--from", "--out", "--in-flight", "--status", "--depth", "--page-limit"}});
  if (parsed.Operands().size() != 1) throw UsageError("harvest takes exactly one LIST");
  const std::string list = parsed.Operands().front();
  const bool anyKind = parsed.Has("--email") || parsed.Has("--mobile") || parsed.Has("--qq");
  const std::optional<std::string> from = parsed.Value("--from");
  const std::optional<std::string> out = parsed.Value("--out");

  std::optional<ScratchFolder> scratch;
  TForm1Environment environment;
  if (parsed.Has("--save-progress")) {
    environment.ProgramPath = ProgramFilePath();
  } else {
    scratch.emplace();
    environment.ProgramPath = scratch->Path() + "/qmharvest-cli";
  }
  if (parsed.Has("--no-online-check")) environment.LocalAddress = [] { return std::string(); };

  std::optional<StatusFile> statusFile;
  if (const std::optional<std::string> path = parsed.Value("--status")) statusFile.emplace(*path);

  InterruptChannel interrupts;
  ChangeWakeup wakeup;
  // Signalled by the end of a run, which the waiting loop must not leave for its next look.
  ChangeWakeup ended;
  ConsoleDialogs dialogs;
  dialogs.SetInputAnswer(from);
  TForm1 form(dialogs, environment);
  form.FormCreate();
  form.Edit5.SetText(list);
  form.SpinEdit1.SetText(parsed.Value("--threads").value_or("1"));
  form.SpinEdit1.ClampToRange();
  form.CheckBox2.SetChecked(parsed.Has("--email") || !anyKind);
  form.CheckBox3.SetChecked(parsed.Has("--mobile"));
  form.CheckBox4.SetChecked(parsed.Has("--qq"));
  form.SpinEditInFlight.SetText(parsed.Value("--in-flight").value_or("8"));
  form.SpinEditInFlight.ClampToRange();
  form.CheckBoxRedirects.SetChecked(!parsed.Has("--no-redirects"));
  form.CheckBoxExtended.SetChecked(!parsed.Has("--no-extended"));
  form.CheckBoxUnique.SetChecked(!parsed.Has("--no-unique"));
  form.SpinEditDepth.SetText(parsed.Value("--depth").value_or("1"));
  form.SpinEditDepth.ClampToRange();
  form.SpinEditPageLimit.SetText(parsed.Value("--page-limit").value_or("20"));
  form.SpinEditPageLimit.ClampToRange();
  form.CheckBoxRobots.SetChecked(!parsed.Has("--no-robots"));
  if (statusFile) {
    form.AddressStatuses.SetListener(
        [&statusFile](const TAddressStatus& status) { statusFile->Write(status); });
  }
  form.Changes.SetListener([&form, &wakeup, &ended] {
    if (form.Changes.TakeUrgent()) ended.Signal();
    wakeup.Signal();
  });
  // Changes made before the listener came are pending; without this no change would wake us.
  form.Changes.Acknowledge();

  const int64_t completedBefore = form.SearchState.CompletedRuns.load();
  if (from) {
    // "继续" reads the list, the kinds and the thread count from the progress record, so
    // the record is written first with this command's values.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(list, ignored)) {
      form.SearchState.UrlTotal.store(CountUrlListLines(list));
    }
    form.SearchState.UrlCounter.store(0);
    WriteSettingsFile(form.SettingsFilePath(), CurrentSettings(form));
    form.SpeedButton4Click();
  } else {
    form.SpeedButton2Click();
  }
  if (dialogs.MessageShown()) return kExitFailure;
  if (!form.SearchState.CurrentRun() && form.SearchState.CompletedRuns.load() == completedBefore) {
    // Nothing to search (a resume past the end of the list): the hint line says so.
    std::fprintf(stderr, "qmharvest-cli: %s\n", form.Label6.Caption().c_str());
    WriteSummary(form);
    return kExitSuccess;
  }

  ListFollower followers[] = {
      {form.StringGrid1, kEmailKind}, {form.StringGrid2, kMobileKind}, {form.StringGrid3, kQQKind}};
  ProgressLine progress;
  auto writeNewRows = [&] {
    form.Changes.Acknowledge();
    bool any = false;
    for (ListFollower& follower : followers) {
      if (follower.WriteNewRows(stdout) > 0) any = true;
    }
    if (any) {
      progress.Erase();
      std::fflush(stdout);
    }
  };

  int pressed = 0;
  for (;;) {
    pollfd fds[3] = {
        {interrupts.Fd(), POLLIN, 0}, {wakeup.Fd(), POLLIN, 0}, {ended.Fd(), POLLIN, 0}};
    // Rows appended just before our acknowledgement wake nobody, so the wait is short; the
    // end of the run always wakes us.
    ::poll(fds, 3, 50);
    wakeup.Drain();
    ended.Drain();
    const int before = pressed;
    pressed += interrupts.Take();
    if (before == 0 && pressed >= 1) {
      progress.Erase();
      std::fputs(
          "qmharvest-cli: stopping; the workers finish their pages (Ctrl-C again ends at once)\n",
          stderr);
      form.SpeedButton3Click();
    }
    writeNewRows();
    if (before < 2 && pressed >= 2) {
      // As closing the wait dialog: the run ends now and its progress is saved.
      form.Form3Close();
      writeNewRows();
      progress.Erase();
      WriteSummary(form);
      if (out) ExportLists(form, *out);
      std::fputs("qmharvest-cli: ended at once; pages being fetched were abandoned\n", stderr);
      std::fflush(stdout);
      std::fflush(stderr);
      scratch.reset();
      // Workers still waiting on a server would hold the exit for their time-out.
      ::_exit(kExitFailure);
    }
    if (form.SearchState.CompletedRuns.load() != completedBefore) break;
    progress.Show(form, false);
    // The workers report every line; looking at most fifty times a second keeps this
    // thread from competing with them for the lists' locks. Only Ctrl-C and the end of the
    // run cut it short.
    pollfd interruptOrEnd[2] = {{interrupts.Fd(), POLLIN, 0}, {ended.Fd(), POLLIN, 0}};
    ::poll(interruptOrEnd, 2, 20);
    if (form.SearchState.CompletedRuns.load() != completedBefore) break;
  }
  writeNewRows();
  progress.Erase();
  WriteSummary(form);
  if (out) ExportLists(form, *out);
  if (std::fflush(stdout) != 0) {
    std::perror("qmharvest-cli: standard output");
    return kExitFailure;
  }
  form.AddressStatuses.SetListener({});
  if (statusFile && !statusFile->Close()) {
    std::fprintf(stderr, "qmharvest-cli: the status file could not be written completely\n");
    return kExitFailure;
  }
  if (const std::optional<std::string> failure = form.TakeEndOfRunSaveFailure()) {
    std::fprintf(stderr, "qmharvest-cli: the progress was not saved: %s\n", failure->c_str());
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace qm::cli
