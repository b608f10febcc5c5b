// qmharvest-cli harvest [OPTIONS] LIST
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_dialogs.h"
#include "cli/harvest_progress.h"
#include "cli/row_output.h"
#include "cli/status_output.h"
#include "cli/verify_options.h"
#include "engine/main_form.h"
#include "engine/url_list_reader.h"
#include "persistence/export_results.h"
#include "persistence/settings_file.h"
#include "text/errors.h"
#include "text/program_location.h"

namespace qm::cli {

const char* const kHarvestHelp =
    "Usage: qmharvest-cli harvest [OPTIONS] LIST\n"
    "\n"
    "Searches the pages of the URL list LIST through the same core as the main window's\n"
    "\"搜索\" (or \"继续\" with --from). Each append to a result list is written to standard\n"
    "output as by scan; the order follows the workers. At the end a summary goes to\n"
    "standard error. Ctrl-C once stops the search as \"终止\" does (the workers finish their\n"
    "pages); a second Ctrl-C ends it at once. Rows that cannot be written to standard\n"
    "output stop it the same way. While it runs, a line of progress on standard error\n"
    "(when that is a terminal, or with --progress) tells the lines taken of the list, the\n"
    "pages, the rows of each kind, the failed pages, pages per second and the time left.\n"
    "\n"
    "Exit status: 0 done; 1 when the list cannot be read, --from is past its end, or\n"
    "standard output, the --status file, the --out files or the progress record could not\n"
    "be written, each named on standard error; 2 for a usage error (an unknown option, a\n"
    "number out of its range).\n"
    "\n"
    "  --threads N       worker threads, 1 to 4 (default 1)\n"
    "  --email           collect e-mail addresses (the default when no kind is named)\n"
    "  --mobile          collect mobile numbers\n"
    "  --qq              collect QQ numbers\n"
    "  --wechat          collect WeChat IDs (after a label: 微信, wx, ...)\n"
    "  --phone           collect telephone numbers (landline 0755-12345678, service\n"
    "                    400-123-4567)\n"
    "  --from POS        resume: skip the first POS lines of the list (at least one),\n"
    "                    POS from 0 to 2147483647\n"
    "  --out DIR         also write the non-empty lists to DIR as the program saves them\n"
    "                    (电邮N.txt, 手机N.txt, QQ邮N.txt, 微信N.txt, 电话N.txt)\n"
    "  --save-progress   keep the progress record in the settings file qmharvest-cli.ini,\n"
    "                    as the window does: beside this program when its folder is\n"
    "                    writable, else in $XDG_CONFIG_HOME/qmharvest/ (or\n"
    "                    ~/.config/qmharvest/)\n"
    "  --no-online-check do not require an address other than 127.0.0.1 for this host\n"
    "  --in-flight K     pages each worker keeps in flight, 1 to 4096 (default 1024)\n"
    "  --host-limit N    connections open to one host at once over all pages, 1 to 64\n"
    "                    (default 8)\n"
    "  --no-keep-alive   a connection of its own for every page, closed when it ends\n"
    "  --no-redirects    scan a redirect's own body instead of following it\n"
    "  --no-extended     only the plain lower-case forms of contacts, as the first version\n"
    "  --no-unique       append a value again unless it repeats the list's last one\n"
    "  --depth D         follow links on a listed page's site D links deep, 0 to 3\n"
    "                    (default 1; 0 searches only the listed pages)\n"
    "  --page-limit N    pages of one site at most, 1 to 1000 (default 20)\n"
    "  --no-robots       follow links that the site's robots.txt forbids\n"
    "  --store FILE      keep every page record and row in the result store FILE as\n"
    "                    they are found (with --save-progress and no --store: beside\n"
    "                    the progress record)\n"
    "  --resume LIST     go on with the last unfinished run of LIST in the store from\n"
    "                    its saved position, writing only rows new to that run\n"
    "  --new-only        leave out rows that earlier runs in the store found\n"
    "  --no-verify       ask no DNS server about e-mail domains; the row checks that\n"
    "                    need none still flag rows, and e-mails are \"unchecked\"\n"
    "  --resolver ADDR:PORT  the DNS server the checks ask (an IPv4 address or [IPv6]\n"
    "                    and a port; default the system's resolvers)\n"
    "  --memory-limit MB  memory the pages of the run may hold at once, in MiB, 64 to\n"
    "                    1048576 (default 1024)\n"
    "  --timeout S       seconds each wait for a server may last, 1 to 120 (default\n"
    "                    20); a page may take twice this, or 60 s when that is longer\n"
    "  --user-agent TEXT the User-Agent of every request, robots.txt's included\n"
    "                    (default qmharvest/VERSION); robots.txt groups are matched\n"
    "                    for its first product's name\n"
    "  --no-render       never render a page in the headless browser (by default a page\n"
    "                    left without contacts whose scripts seem to write its text is\n"
    "                    rendered by chromium-headless-shell when it is installed, one\n"
    "                    page of a site at most, two at once)\n"
    "  --progress        the line of progress even when standard error is no terminal\n"
    "  --quiet           no progress and no summary: standard error has only failures\n"
    "  --status FILE     write what became of every page to FILE as it ends, one line\n"
    "                    each: line number, address, final address, HTTP status, bytes,\n"
    "                    milliseconds, failure reason, the e-mail, mobile and QQ rows the\n"
    "                    page added, its depth (0: the listed page), the listed\n"
    "                    address it was reached from, and the WeChat and telephone\n"
    "                    rows the page added, separated by tabs\n";

namespace {

// The numeric options, in the ranges of the window's boxes.
constexpr int32_t kLeastMemoryLimit = 64;  // MiB
constexpr int32_t kMostMemoryLimit = 1048576;
constexpr int32_t kDefaultMemoryLimit = 1024;
constexpr int32_t kMostDepth = 3;
constexpr int32_t kDefaultDepth = 1;
constexpr int32_t kMostPageLimit = 1000;
constexpr int32_t kDefaultPageLimit = 20;
constexpr int32_t kMostTimeout = 120;  // seconds
constexpr int32_t kDefaultTimeout = 20;

std::string ListFailure(const std::string& list, const std::string& reason) {
  return "cannot read the URL list " + list + ": " + reason;
}

// The window's messages about the list do not name it; these do, before the engine looks.
void CheckListReadable(const std::string& list) {
  int fd;
  do {
    fd = ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw std::runtime_error(ListFailure(list, std::strerror(errno)));
  struct stat info {};
  const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  ::close(fd);
  if (folder) throw std::runtime_error(ListFailure(list, "it is a folder, not a file"));
}

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

void ExportLists(const TForm1& form, const std::string& folder) {
  std::filesystem::create_directories(folder);
  const struct {
    const TResultList& List;
    std::string_view Prefix;
  } lists[] = {{form.StringGrid1, kEmailExportPrefix},
               {form.StringGrid2, kMobileExportPrefix},
               {form.StringGrid3, kQQExportPrefix},
               {form.StringGrid4, kWeChatExportPrefix},
               {form.StringGrid5, kTelephoneExportPrefix}};
  for (const auto& entry : lists) {
    const std::vector<std::string> rows = entry.List.Snapshot();
    if (rows.size() == 1 && rows[0].empty()) continue;
    const std::string name = ProposedExportName(entry.Prefix, static_cast<int32_t>(rows.size()));
    WriteListFile((std::filesystem::path(folder) / name).string(), rows);
  }
}

// Each failure is named on standard error as it is found; any of them makes the exit
// status 1.
class Failures {
 public:
  void Add(const std::string& what) {
    std::fprintf(stderr, "qmharvest-cli: %s\n", what.c_str());
    any_ = true;
  }
  bool Any() const { return any_; }

 private:
  bool any_ = false;
};

void ExportListsNamingFailure(const TForm1& form, const std::string& folder, Failures& failures) {
  try {
    ExportLists(form, folder);
  } catch (const std::exception& error) {
    failures.Add(std::string("the lists were not saved to ") + folder + ": " + error.what());
  }
}

// The second Ctrl-C closes the run and saves its progress as closing the wait dialog does,
// but on a thread of its own: a settings file that refuses the save or a disk that holds it
// must not keep the process from ending. The reason the save failed, or did not end in
// time; nothing when it was done.
std::optional<std::string> CloseRunWithin(TForm1& form, std::chrono::milliseconds deadline) {
  auto outcome = std::make_shared<std::promise<std::string>>();
  std::future<std::string> done = outcome->get_future();
  try {
    // Detached: the process ends with _exit after this, whether or not the thread has.
    std::thread([&form, outcome] {
      try {
        form.Form3Close();
        outcome->set_value({});
      } catch (const std::exception& error) {
        outcome->set_value(error.what());
      } catch (...) {
        outcome->set_value("Unable to write to " + form.SettingsFilePath());
      }
    }).detach();
  } catch (const std::system_error& error) {
    return std::string("no thread to save it: ") + error.what();
  }
  if (done.wait_for(deadline) != std::future_status::ready) {
    return "the save of " + form.SettingsFilePath() + " did not end in time";
  }
  std::string failure = done.get();
  if (failure.empty()) return std::nullopt;
  return failure;
}

}  // namespace

int RunHarvest(const std::vector<std::string>& args) {
  const ParsedCommand parsed =
      ParseCommand(args, {{"--email", "--mobile", "--qq", "--wechat", "--phone", "--save-progress",
                           "--no-online-check",
                           "--no-redirects", "--no-extended", "--no-unique", "--no-robots",
                           "--new-only", "--progress", "--quiet", "--no-keep-alive", "--no-verify",
                           "--no-render"},
                          {"--threads", "--from", "--out", "--in-flight", "--status", "--depth",
                           "--page-limit", "--memory-limit", "--store", "--resume", "--timeout", "--host-limit",
                           "--user-agent", "--resolver"}});
  const std::optional<std::string> resumed = parsed.Value("--resume");
  if (parsed.Operands().size() != (resumed ? 0u : 1u)) {
    throw UsageError(resumed ? "harvest --resume LIST takes no other LIST"
                             : "harvest takes exactly one LIST");
  }
  if (resumed && parsed.Value("--from")) throw UsageError("--resume and --from exclude each other");
  if (resumed && !parsed.Value("--store") && !parsed.Has("--save-progress")) {
    throw UsageError("--resume needs --store FILE or --save-progress");
  }
  const std::string list = resumed ? *resumed : parsed.Operands().front();
  const bool anyKind = parsed.Has("--email") || parsed.Has("--mobile") || parsed.Has("--qq") ||
                       parsed.Has("--wechat") || parsed.Has("--phone");
  std::optional<int32_t> from;
  if (parsed.Value("--from")) {
    from = NumberOption(parsed, "--from", 0, std::numeric_limits<int32_t>::max(), 0);
  }
  const int32_t memoryLimit = NumberOption(parsed, "--memory-limit", kLeastMemoryLimit,
                                           kMostMemoryLimit, kDefaultMemoryLimit);
  const int32_t threads = NumberOption(parsed, "--threads", 1, kWorkerSlotCount, 1);
  const int32_t inFlight =
      NumberOption(parsed, "--in-flight", 1, kMaxPagesInFlight, kDefaultPagesInFlight);
  const int32_t depth = NumberOption(parsed, "--depth", 0, kMostDepth, kDefaultDepth);
  const int32_t pageLimit =
      NumberOption(parsed, "--page-limit", 1, kMostPageLimit, kDefaultPageLimit);
  const int32_t timeout = NumberOption(parsed, "--timeout", 1, kMostTimeout, kDefaultTimeout);
  const int32_t hostLimit =
      NumberOption(parsed, "--host-limit", TConnectionPool::kLeastHostLimit,
                   TConnectionPool::kMostHostLimit, TConnectionPool::kDefaultHostLimit);
  const std::string resolver = ResolverOption(parsed);
  if (parsed.Has("--progress") && parsed.Has("--quiet")) {
    throw UsageError("--progress and --quiet exclude each other");
  }
  const bool quiet = parsed.Has("--quiet");
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

  CheckListReadable(list);
  const std::string statusPath = parsed.Value("--status").value_or("");
  std::optional<StatusFile> statusFile;
  if (!statusPath.empty()) statusFile.emplace(statusPath);

  InterruptChannel interrupts;
  ChangeWakeup wakeup;
  // Signalled by the end of a run, which the waiting loop must not leave for its next look.
  ChangeWakeup ended;
  ConsoleDialogs dialogs;
  if (from) dialogs.SetInputAnswer(std::to_string(*from));
  TForm1 form(dialogs, environment);
  form.FormCreate();
  // Kept where asked, else beside the progress record when that is kept; else nowhere.
  if (const std::optional<std::string> store = parsed.Value("--store")) {
    form.SetStorePath(*store);
  } else if (!parsed.Has("--save-progress")) {
    form.SetStorePath({});
  }
  if (resumed) {
    form.OpenResultStore();
    const std::optional<TStoredRun> unfinished = form.ResultStore()->LastUnfinishedRun(list);
    if (!unfinished) {
      std::fprintf(stderr, "qmharvest-cli: %s has no unfinished run of %s\n",
                   form.StorePath().c_str(), list.c_str());
      return kExitFailure;
    }
    from = static_cast<int32_t>(unfinished->SavedPosition);
    dialogs.SetInputAnswer(std::to_string(*from));
  }
  form.CheckBoxNewOnly.SetChecked(parsed.Has("--new-only"));
  form.CheckBoxVerify.SetChecked(!parsed.Has("--no-verify"));
  form.VerifyResolver = resolver;
  form.CheckBoxKeepAlive.SetChecked(!parsed.Has("--no-keep-alive"));
  form.SpinEditHostLimit.SetValue(hostLimit);
  form.Edit5.SetText(list);
  form.SpinEdit1.SetValue(threads);
  form.CheckBox2.SetChecked(parsed.Has("--email") || !anyKind);
  form.CheckBox3.SetChecked(parsed.Has("--mobile"));
  form.CheckBox4.SetChecked(parsed.Has("--qq"));
  form.CheckBoxWeChat.SetChecked(parsed.Has("--wechat"));
  form.CheckBoxPhone.SetChecked(parsed.Has("--phone"));
  form.SpinEditInFlight.SetValue(inFlight);
  form.CheckBoxRedirects.SetChecked(!parsed.Has("--no-redirects"));
  form.CheckBoxExtended.SetChecked(!parsed.Has("--no-extended"));
  form.CheckBoxUnique.SetChecked(!parsed.Has("--no-unique"));
  form.SpinEditDepth.SetValue(depth);
  form.SpinEditPageLimit.SetValue(pageLimit);
  form.CheckBoxRobots.SetChecked(!parsed.Has("--no-robots"));
  form.SpinEditMemoryLimit.SetValue(memoryLimit);
  form.SpinEditTimeout.SetValue(timeout);
  form.EditUserAgent.SetText(parsed.Value("--user-agent").value_or(""));
  form.CheckBoxRender.SetChecked(!parsed.Has("--no-render") && !FindHeadlessBrowser().empty());
  // Records are written as they come, never read back: a list of a million lines need not
  // hold a million of them.
  form.AddressStatuses.SetKeepRecords(false);
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

  const std::string recordPath = parsed.Has("--save-progress") ? form.SettingsFilePath() : "";
  const int64_t completedBefore = form.SearchState.CompletedRuns.load();
  try {
    if (from) {
      // "继续" reads the list, the kinds and the thread count from the progress record, so
      // the record is written first with this command's values, and with the position the
      // run starts from: a resume that stops before its first line, or a process killed
      // before the run saves, leaves the saved position there, never lower. A position
      // past the list's end leaves the record alone.
      const int32_t lines = CountUrlListLines(list);
      if (*from > lines) {
        throw std::runtime_error((parsed.Value("--from") ? "--from " : "the saved position ") +
                                 std::to_string(*from) + " is past the end of " + list +
                                 ", which has " + std::to_string(lines) +
                                 (lines == 1 ? " line" : " lines"));
      }
      if (!quiet && parsed.Value("--from") && *from == 0 && depth == 0) {
        std::fputs(
            "qmharvest-cli: --from 0 skips the first line all the same when only the listed "
            "pages are searched (--depth 0); without --from the search begins with it\n",
            stderr);
      }
      form.SearchState.UrlTotal.store(lines);
      form.SearchState.UrlCounter.store(*from);
      WriteSettingsFile(form.SettingsFilePath(), CurrentSettings(form));
      form.SpeedButton4Click();
    } else {
      form.SpeedButton2Click();
    }
  } catch (const EInOutError& error) {
    throw std::runtime_error(ListFailure(list, error.what()));
  }
  if (dialogs.MessageShown()) return kExitFailure;
  if (!form.SearchState.CurrentRun() && form.SearchState.CompletedRuns.load() == completedBefore) {
    // Nothing left to search (a resume at the end of the list): the hint line says so.
    if (!quiet) {
      std::fprintf(stderr, "qmharvest-cli: %s\n", form.Label6.Caption().c_str());
      WriteSummary(form, statusPath, recordPath);
    }
    return kExitSuccess;
  }

  // A continued run's rows found before are not written again. Each row waits for its
  // checks (never past their deadline) and keeps its list's order.
  const std::shared_ptr<verify::TContactVerifier> verifier = form.Verifier();
  ListFollower followers[] = {
      {form.StringGrid1, kEmailKind, form.RestoredRows[0], verifier, verify::kEmailRow},
      {form.StringGrid2, kMobileKind, form.RestoredRows[1], verifier, verify::kMobileRow},
      {form.StringGrid3, kQQKind, form.RestoredRows[2], verifier, verify::kQQRow},
      {form.StringGrid4, kWeChatKind, form.RestoredRows[kWeChatList], verifier, kWeChatList},
      {form.StringGrid5, kTelephoneKind, form.RestoredRows[kTelephoneList], verifier,
       kTelephoneList}};
  ProgressLine progress(!quiet && (parsed.Has("--progress") || ::isatty(STDERR_FILENO) == 1),
                        from.value_or(0));
  RowOutput rows;
  Failures failures;
  bool stopped = false;  // as "终止" does, by Ctrl-C or for rows that cannot be written
  // The first failure of standard output is named once; the rows found from then on would
  // be lost, so the search stops as at Ctrl-C.
  auto noteRowFailure = [&](bool failedBefore) {
    if (!rows.Failed() || failedBefore) return;
    progress.Erase();
    failures.Add(rows.Failure());
    if (stopped) return;
    std::fputs("qmharvest-cli: stopping; the workers finish their pages\n", stderr);
    stopped = true;
    form.SpeedButton3Click();
  };
  auto writeNewRows = [&](TCheckWait wait = {}) {
    form.Changes.Acknowledge();
    const bool failedBefore = rows.Failed();
    if (progress.SharesTerminalWithRows() && AnyNewRows(followers)) progress.Erase();
    rows.WriteNewRows(followers, wait);
    noteRowFailure(failedBefore);
  };
  auto flushRows = [&] {
    const bool failedBefore = rows.Failed();
    rows.Flush();
    noteRowFailure(failedBefore);
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
      stopped = true;
      form.SpeedButton3Click();
    }
    writeNewRows();
    if (before < 2 && pressed >= 2) {
      // As closing the wait dialog: the run ends now and its progress is saved, if that can
      // be done at once.
      const std::optional<std::string> saveFailure =
          CloseRunWithin(form, std::chrono::milliseconds(1000));
      // Rows whose lookups are still out are written at once, unchecked.
      writeNewRows(verify::TContactVerifier::Clock::now());
      progress.Erase();
      if (!quiet) WriteSummary(form, statusPath, recordPath);
      if (out) ExportListsNamingFailure(form, *out, failures);
      std::fputs("qmharvest-cli: ended at once; pages being fetched were abandoned\n", stderr);
      if (saveFailure) failures.Add("the progress was not saved: " + *saveFailure);
      flushRows();
      // Workers may still be writing records; the file is not closed under them.
      if (statusFile && !statusFile->Failure().empty()) failures.Add(statusFile->Failure());
      std::fflush(stderr);
      scratch.reset();
      // Workers still waiting on a server would hold the exit for their time-out.
      ::_exit(kExitFailure);
    }
    if (form.SearchState.CompletedRuns.load() != completedBefore) break;
    progress.Show(form);
    // The workers report every line; looking at most fifty times a second keeps this
    // thread from competing with them for the lists' locks. Only Ctrl-C and the end of the
    // run cut it short.
    pollfd interruptOrEnd[2] = {{interrupts.Fd(), POLLIN, 0}, {ended.Fd(), POLLIN, 0}};
    ::poll(interruptOrEnd, 2, 20);
    if (form.SearchState.CompletedRuns.load() != completedBefore) break;
  }
  stopped = true;  // the run has ended: a late failure of the rows stops nothing
  writeNewRows(verify::TContactVerifier::Clock::time_point::max());
  progress.Erase();
  if (!quiet) WriteSummary(form, statusPath, recordPath);
  if (out) ExportListsNamingFailure(form, *out, failures);
  flushRows();
  form.AddressStatuses.SetListener({});
  if (statusFile && !statusFile->Close()) failures.Add(statusFile->Failure());
  if (const std::optional<std::string> failure = form.TakeEndOfRunSaveFailure()) {
    failures.Add("the progress was not saved: " + *failure);
  }
  return failures.Any() ? kExitFailure : kExitSuccess;
}

}  // namespace qm::cli
