#pragma once
// The main window's core, TForm1 without a toolkit: its controls as thread-safe models and
// its handlers. The shell renders the models and calls the handlers; tests do the same
// without a display. Handlers are defined in the folder of the job they do:
//   engine/       worker loop, start, stop, completion, manual close, close query
//   persistence/  creation and destruction, progress save, resume, exporting results
//   urllists/     choosing the URL list
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_kinds.h"
#include "contacts/result_list.h"
#include "contacts/row_tally.h"
#include "crawl/robots_rules.h"
#include "engine/address_status.h"
#include "engine/search_state.h"
#include "engine/url_list_reader.h"
#include "http/fetch_page_lines.h"
#include "render/headless_browser.h"
#include "store/result_store.h"
#include "ui/control_models.h"
#include "ui/dialogs.h"
#include "verify/contact_verifier.h"

namespace qm {

class TPageAnchors;
class TLabelledAnchors;
struct TExportChecks;

// The most pages a worker keeps in flight, and the default: a list of many sites has
// hundreds of pages waiting for their servers at once.
inline constexpr int kMaxPagesInFlight = 4096;
inline constexpr int kDefaultPagesInFlight = 1024;
// A fetch the environment supplies may block its thread: its lanes are threads, this many.
inline constexpr int kMaxLaneThreads = 32;
// The most pages of one site in flight at once, over all workers.
inline constexpr int kSitePagesInFlight = 2;
// The status bar panel that shows how many addresses of the run failed, after its caption.
inline constexpr int kFailedCountPanel = 7;
// The status bar panel of each list's row count, after its caption.
inline constexpr int kListCountPanels[] = {1, 3, 5, 9, 11};

// The wait dialog shown while workers finish their pages after a stop.
class TForm3 {
 public:
  explicit TForm3(ui::ChangeNotifier& notifier)
      : Window(notifier, false, true), ProgressBar1(notifier) {}
  ui::TWindowModel Window;
  ui::TProgressBarModel ProgressBar1;  // Max holds StartedWorkers; Position stays 0
};

// What the main window's core needs from the world around it.
struct TForm1Environment {
  // The full path of the program file; the settings file and the export folder derive
  // from it. Defaults to /proc/self/exe.
  std::string ProgramPath;
  // The host's IPv4 address as dotted text, or empty. Defaults to GetLocalAddress.
  std::function<std::string()> LocalAddress;
  // Fetches one page. Defaults to FetchPageLines.
  std::function<bool(const std::string&, TPageLines&)> FetchPage;
  // Fetches one page as the options say and tells what became of it. Defaults to the
  // FetchPageLines that does so, or, when only FetchPage is given, to FetchPage.
  std::function<bool(const std::string&, TPageLines&, const TPageFetchOptions&, TPageFetchResult&)>
      FetchPageWithResult;
  // Where the settings and exports go when the program's folder is not writable: the
  // process environment (getenv) and a test of a folder's writability by default.
  std::function<const char*(const char*)> Environment;
  std::function<bool(const std::string&)> DirectoryWritable;
  // Renders a page in the headless browser. Defaults to RenderPage.
  std::function<TRenderResult(const std::string&, const TRenderOptions&)> RenderPage;
};

class TForm1 {
 public:
  TForm1(ui::Dialogs& dialogs, TForm1Environment environment = {});
  ~TForm1();  // closes the run and joins every worker before the members go
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // The notifier every control model of the main window and the wait dialog reports to.
  ui::ChangeNotifier Changes;

  // Options bar
  ui::TSpinEditModel SpinEdit1{Changes};
  ui::TCheckBoxModel CheckBox2{Changes, true};  // e-mail addresses
  ui::TCheckBoxModel CheckBox3{Changes};        // mobile numbers
  ui::TCheckBoxModel CheckBox4{Changes};        // QQ numbers
  ui::TCheckBoxModel CheckBoxWeChat{Changes};   // WeChat IDs
  ui::TCheckBoxModel CheckBoxPhone{Changes};    // telephone numbers (landline, 400, 800)
  ui::TEditModel Edit5{Changes};                // URL list path
  // Second row: the capabilities added since the first version
  ui::TCheckBoxModel CheckBoxRedirects{Changes, true};  // follow redirects
  ui::TCheckBoxModel CheckBoxExtended{Changes, true};   // extended recognition of contacts
  ui::TCheckBoxModel CheckBoxUnique{Changes, true};     // no value twice in a list
  // Pages in flight per worker.
  ui::TSpinEditModel SpinEditInFlight{Changes, 1, kMaxPagesInFlight, kDefaultPagesInFlight};
  // Following a listed page's links on its site: how deep (0: only the listed page), how
  // many pages of one site at most, and whether the site's robots.txt is obeyed.
  ui::TSpinEditModel SpinEditDepth{Changes, 0, 3, 1};
  ui::TSpinEditModel SpinEditPageLimit{Changes, 1, 1000, 20};
  ui::TCheckBoxModel CheckBoxRobots{Changes, true};
  // The memory, in MiB, that the pages of a run may hold at once over all workers.
  ui::TSpinEditModel SpinEditMemoryLimit{Changes, 64, 1048576, 1024};
  // Rows that earlier runs in the result store found are not appended.
  ui::TCheckBoxModel CheckBoxNewOnly{Changes, false};
  // Connections kept alive between pages of the same server, and the most open to one host
  // at once over all pages of the run.
  ui::TCheckBoxModel CheckBoxKeepAlive{Changes, true};
  ui::TSpinEditModel SpinEditHostLimit{Changes, 1, 64, 8};
  // Seconds each wait for a server may last, and the User-Agent text of every request
  // (empty: the program's name and version).
  ui::TSpinEditModel SpinEditTimeout{Changes, 1, 120, 20};
  ui::TEditModel EditUserAgent{Changes};
  // Pages whose contacts a script writes are rendered in the headless browser; on when the
  // browser is installed.
  ui::TCheckBoxModel CheckBoxRender{Changes, !FindHeadlessBrowser().empty()};

  // Tool bar
  ui::TButtonModel SpeedButton1{Changes}, SpeedButton2{Changes}, SpeedButton3{Changes},
      SpeedButton4{Changes}, SpeedButton5{Changes}, SpeedButton6{Changes}, SpeedButton7{Changes},
      SpeedButton8{Changes};

  // Information bar
  ui::TLabelModel Label4{Changes};  // UrlTotal
  ui::TLabelModel Label5{Changes};  // UrlCounter
  ui::TLabelModel Label6{Changes};  // the hint line

  ui::TStatusBarModel StatusBar1{Changes};

  // Result lists: e-mail addresses, mobile numbers, QQ numbers, WeChat IDs, telephone numbers
  TResultList StringGrid1{Changes};
  TResultList StringGrid2{Changes};
  TResultList StringGrid3{Changes};
  TResultList StringGrid4{Changes};
  TResultList StringGrid5{Changes};
  // The lists in the order of their kinds (contact_kinds.h).
  std::array<TResultList*, kContactKindCount> ResultLists() {
    return {&StringGrid1, &StringGrid2, &StringGrid3, &StringGrid4, &StringGrid5};
  }
  // The list of each kind whose box is ticked now, null for the others.
  std::array<TResultList*, kContactKindCount> CollectedLists();

  // Tray menu items "显示主程序(&S)" and "最小化显示(&M)", and the window's own visibility
  ui::TMenuItemModel N17{Changes, false};
  ui::TMenuItemModel N18{Changes, true};
  ui::TWindowModel Window{Changes, true};

  TForm3 Form3{Changes};

  // Run state and worker slots
  TSearchState SearchState;
  std::array<TWorkerSlot, 4> Slots;
  // What became of each address the current or last run took.
  TAddressStatusList AddressStatuses;

  // Every row checked (verify/): mail servers of e-mail domains asked of DNS, the mobile
  // number plan, role and throwaway addresses. Off: no lookups at all; the checks that need
  // none still flag rows.
  ui::TCheckBoxModel CheckBoxVerify{Changes, true};
  // Exports hold only the rows whose checks find nothing wrong ("只导出有效").
  ui::TCheckBoxModel CheckBoxValidOnly{Changes, false};
  // The DNS server the checks ask, "ADDR:PORT" (empty: the system's resolvers), and how long
  // one domain's lookup may take.
  std::string VerifyResolver;
  std::chrono::milliseconds VerifyDeadline{5000};

  // Creation and destruction (persistence/)
  void FormCreate();
  void FormDestroy();

  // Tool bar and hidden buttons
  void SpeedButton1Click();  // choose the URL list (urllists/)
  void SpeedButton2Click();  // start a search (engine/)
  void SpeedButton3Click();  // stop (engine/)
  void SpeedButton4Click();  // resume (persistence/)
  void SpeedButton5Click();  // save the three lists (persistence/)
  void SpeedButton7Click();  // save progress (persistence/)
  void BitBtn1Click();       // completion check, on the ending worker's thread (engine/)
  void Button9Click();       // manual close (engine/)
  void Button10Click();      // progress save (persistence/)
  bool FormCloseQuery();     // may the main window close? (engine/)

  // Grid context menus: export one list (persistence/)
  void N1Click();
  void MenuItem1Click();
  void MenuItem2Click();
  void MenuItemWeChatClick();
  void MenuItemPhoneClick();

  // The wait dialog's close: manual close, then progress save.
  void Form3Close();

  // The worker loops of slots 1 to 4 for the current run, on the calling thread. A run
  // starts them on the slots' own threads.
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();

  // Sets up a run around a list positioned at the next line to take and starts the workers
  // of the slots SpinEdit1 asks for: hides the wait dialog, zeroes StartedWorkers and the
  // three counts, then creates the workers. The new-search and resume paths call it after
  // their own steps; UrlCounter and StopRequested are theirs to set before.
  void StartRun(std::unique_ptr<TUrlListReader> list);

  // The settings file's full path, fixed by FormCreate.
  const std::string& SettingsFilePath() const { return settingsPath_; }
  const std::string& ProgramDirectory() const { return programDirectory_; }
  // The folder the save dialogs propose, fixed by FormCreate: the program's own when it is
  // writable, else the user's home.
  const std::string& ExportDirectory() const { return exportDirectory_; }

  // Why the progress save at the end of the last completed run failed, once: the caller
  // that takes it reports it (the window's error box, the command line's exit status).
  std::optional<std::string> TakeEndOfRunSaveFailure();

  // The result store's file, where every run's pages and rows are kept as they end; empty
  // for none. FormCreate puts it beside the settings file.
  void SetStorePath(std::string path) { storePath_ = std::move(path); }
  const std::string& StorePath() const { return storePath_; }
  // Opens the store, once; raises EStoreError when it cannot be used. A search starts only
  // once it is open.
  void OpenResultStore();
  // The next StartRun goes on with the newest unfinished stored run of its list, restoring
  // its rows and records, instead of beginning a new one.
  void ContinueStoredRun() { continueStoredRun_ = true; }
  // Waits until what the current run found is stored; the position saved follows.
  void SyncStoredPosition();
  // The open store, or null.
  TResultStore* ResultStore() { return store_.get(); }
  // Runs write to `store` instead of a file's (a job's lines worked through a server).
  void UseResultStore(std::unique_ptr<TResultStore> store) { store_ = std::move(store); }
  // Called with each run's sites before its first page, when it follows links: a run that
  // goes on with sites searched elsewhere makes them known there.
  std::function<void(TSiteRegistry&)> PrepareRunSites;
  // Rows of each list a continued stored run put back before its workers began.
  std::array<size_t, kContactKindCount> RestoredRows{};

  // The checks of the current or last run's rows (made as the settings are now when no run
  // has begun). Raises verify::EVerifyError for a resolver that is no ADDR:PORT.
  std::shared_ptr<verify::TContactVerifier> Verifier();
  // The check of a row of list `kind` (0 e-mail, 1 mobile, 2 QQ) without waiting; nullopt
  // while its lookup is pending.
  std::optional<verify::TRowCheck> RowCheckIfSettled(int kind, std::string_view row);
  // What the exports add and leave out: the rows' flags, and only valid rows when
  // CheckBoxValidOnly is ticked.
  TExportChecks ExportChecks();

 private:
  void WorkerLoop(int slot, const std::shared_ptr<TSearchRun>& run);
  // One of a worker's lanes: takes lines and fetches their pages, one page at a time, until
  // the list ends, a stop, the run's close, or `ending` (set by a lane that failed).
  // `pageTaken` is called each time it has taken a page, before fetching it.
  void RunLane(TWorkerSlot& slot, const std::shared_ptr<TSearchRun>& run, std::atomic<bool>& ending,
               const std::function<void()>& pageTaken = {});
  // With the run's ListLock held by `lock`: the next page for a lane, a followed page of an
  // open site before a new line of the list. While only pages in flight can give more, it
  // waits for one to finish, giving the lane's `room` back meanwhile and taking it again
  // before a page. False when the lane is to end.
  bool TakePage(TSearchRun& run, std::unique_lock<std::mutex>& lock,
                const std::atomic<bool>& ending, TWorkerSlot& slot, TPageJob& job,
                TMemoryReservation& room);
  // After a page of a site is fetched from `pageAddress` (after redirects): a listed page's
  // host joins its site, and the links of a page that answered 2xx are offered to the site.
  void FollowLinks(TSearchRun& run, const TPageJob& job, const TPageLines& page, int32_t statusCode,
                   const std::string& pageAddress);
  // Once a run for each site whose listed page failed (`listedPageFailed`) or gave few
  // links: the pages its sitemap lists, and when the page failed the paths where sites
  // usually keep their contact pages, join the site's queue as links of that page, along
  // with the page's own `links`, which join it in any case.
  void DiscoverSitePages(TSearchRun& run, const TPageJob& job, const std::string& pageAddress,
                         bool listedPageFailed, const std::vector<TPageLink>& links);
  // A page that answered 2xx, that static reading leaves without contacts and that shows
  // signs of script-written text, rendered once for its site when the run renders: `page`
  // becomes the rendered document, or `status` says why it stays as it was.
  // True when the page's text is now the rendered document.
  bool RenderIfScriptWritten(TSearchRun& run, TPageLines& page, const TPageAnchors& anchors,
                             int32_t statusCode, const std::string& pageAddress,
                             TAddressStatus& status);
  bool PageHasContacts(const TPageLines& page, const TPageAnchors& anchors);
  // The robots.txt rules for a page of a site, read once a run for each origin it is fetched
  // from.
  std::shared_ptr<const TRobotsRules> RobotsRulesFor(TSearchRun& run, TRunSite& site,
                                                     const std::string& pageAddress);
  TRobotsRules FetchRobotsRules(TSearchRun& run, const std::string& robotsAddress,
                                TMemoryReservation& memory);
  // Why a followed page may not be redirected to `target` (off the site, or forbidden by
  // its robots.txt); empty when it may.
  std::string RedirectRefusal(TSearchRun& run, TRunSite& site, const std::string& target);
  // Waits until the run's memory budget has room for one more page; false when the lane is
  // to end instead.
  bool ReserveRoomForPage(TSearchRun& run, const std::atomic<bool>& ending,
                          TMemoryReservation& room);
  // The lanes a worker may start of the `wanted`: the room of every lane of every worker
  // takes at most half the run's memory, so that their pages have the rest to grow in.
  int LanesWithinBudget(const TSearchRun& run, int wanted, int workers) const;
  // The page is done with (`gaveBack`: not fetched after all, as robots.txt forbids it): its
  // line counts as searched once nothing of it is left, and lanes waiting for pages are
  // woken.
  void FinishSitePage(TSearchRun& run, const TPageJob& job, bool gaveBack);
  // With ListLock held: the lines count as searched for the saved position.
  void CompleteLinesLocked(TSearchRun& run, const std::vector<int64_t>& lines);
  // Unless the run has been closed: scans the fetched page (null when the fetch failed) and
  // adds the address's status record with the rows the page added.
  void FinishPage(TSearchRun& run, int64_t pageKey, TPageLines* page, const TPageAnchors& anchors,
                  const TLabelledAnchors& labelledAnchors, TKindCounts& shown,
                  TAddressStatus& status);
  // A page whose fetch or scan raised an error gets a record saying so, unless the run was
  // closed meanwhile or the page's record is in already.
  void RecordBrokenPage(TSearchRun& run, int64_t pageKey, TAddressStatus& status,
                        std::string_view reason) noexcept;
  // A page taken and then not fetched: gone from the pages in flight without a record.
  void DropPage(TSearchRun& run, int64_t pageKey);
  // Adds a status record and shows the failed count when it grew.
  void AddStatus(TAddressStatus status);
  // Once a run is closed by hand: a record for each page it dropped unread.
  void RecordDroppedPages(TSearchRun& run);
  void ShowCounts(TKindCounts& shown);
  // The completion proper, for the caller that claimed it.
  void FinishRun(const std::shared_ptr<TSearchRun>& run);
  // With RunControl held: closes the current run, if any, and clears the slots' marks.
  void RetireRunLocked();
  // With RunControl held: the wait dialog and the buttons back to idle after a run.
  void ReturnToIdleLocked();

  // The run's place in the result store: begun (or continued) as the run starts, its
  // finished pages and rows handed to the writer, its position marked, ended with it.
  void BeginStoredRun(TSearchRun& run, int32_t firstLine);
  void StoreFinishedPage(TSearchRun& run, const TAddressStatus& status,
                         std::vector<TTalliedRow>& rows);
  void MarkStoredPositionLocked(TSearchRun& run);
  void EndStoredRun(TSearchRun& run);
  // Rows the store holds kept from the lists (the "new results only" setting).
  void ExcludeEarlierRows();

  ui::Dialogs& dialogs_;
  TForm1Environment environment_;
  // The program's own fetch, which waits on sockets as a fiber does: a worker's lanes are
  // then fibers of its thread, not threads.
  bool lanesAsFibers_ = false;
  // A run's writer writes to the store until the run ends, and every run is ended (by its
  // completion, a close, or the destructor) before the store goes.
  std::string storePath_;
  std::unique_ptr<TResultStore> store_;
  bool continueStoredRun_ = false;
  std::optional<std::string> storeFailure_;  // guarded by saveFailureMutex_
  std::string programDirectory_;
  std::string settingsPath_;
  std::string exportDirectory_;
  // Makes each rewrite of the three counts show the counts of its moment, so the last
  // rewrite of a run shows the final counts.
  std::mutex countsMutex_;
  std::mutex saveFailureMutex_;
  std::optional<std::string> endOfRunSaveFailure_;
  // Workers of closed runs still finishing a fetch when their slot was needed again. They
  // no longer touch their slot, so a new run need not wait for them; joined once finished
  // and in the destructor.
  std::vector<std::unique_ptr<smtpthread>> retiredWorkers_;
  // A run's checks, made as it begins; the writer's checker and the grid share them.
  std::mutex verifierMutex_;
  std::shared_ptr<verify::TContactVerifier> verifier_;
  void BeginChecks();
  // Fills in the checks of rows on the store writer's thread.
  TStoreWriter::TRowChecker StoreRowChecker();
};

}  // namespace qm
