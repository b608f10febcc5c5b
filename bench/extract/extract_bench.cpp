// Throughput of the contact extractors over a generated corpus of page text, in a code
// page 936 variant and a UTF-8 variant, next to plain memchr line splitting and ripgrep
// running equivalent patterns over the same file. Rates are per CPU second (the
// benchmark's thread; ripgrep's user and system time).
//
//   bench_extract [MEGABYTES]     (default 150)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/ripgrep_run.h"
#include "contacts/extractors.h"
#include "contacts/page_anchors.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace {

// Random code page 936 text: mostly GB2312 hanzi, some characters of the extension areas
// whose second byte lies in 0x40-0x7E ("@" and the small letters among them), punctuation.
class CorpusWriter {
 public:
  explicit CorpusWriter(uint32_t seed) : rng_(seed) {}

  std::string Line() {
    std::string line;
    const int kind = Pick(100);
    if (kind < 45) {
      Markup(line);
    } else {
      Hanzi(line, 20 + Pick(60));
    }
    if (Pick(30) == 0) Contact(line);
    if (Pick(3) == 0) Hanzi(line, 5 + Pick(20));
    return line;
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  void Hanzi(std::string& out, int count) {
    for (int i = 0; i < count; ++i) {
      const int r = Pick(100);
      if (r < 80) {  // GB2312 level 1 and 2
        out.push_back(static_cast<char>(0xB0 + Pick(0xD7 - 0xB0)));
        out.push_back(static_cast<char>(0xA1 + Pick(0xFE - 0xA1 + 1)));
      } else if (r < 92) {  // extension: second byte 0x40-0x7E
        out.push_back(static_cast<char>(Pick(2) ? 0x81 + Pick(0xA0 - 0x81 + 1)
                                                : 0xAA + Pick(0xFE - 0xAA + 1)));
        out.push_back(static_cast<char>(0x40 + Pick(0x7E - 0x40 + 1)));
      } else if (r < 97) {  // full-width comma, ideographic full stop, colon
        static const char* const kPunctuation[] = {"\xA3\xAC", "\xA1\xA3", "\xA3\xBA"};
        out.append(kPunctuation[Pick(3)]);
      } else {
        out.push_back(' ');
      }
    }
  }

  void Markup(std::string& out) {
    static const char* const kOpen[] = {
        "<div class=\"news-item\"><a href=\"/html/2024/0612/article_",
        "<li><span class=\"date\">2023-11-",
        "<td align=\"left\" width=\"180\">",
        "<p style=\"margin:0 10px\">",
        "<img src=\"/upload/images/2024/pic",
    };
    out.append(kOpen[Pick(5)]);
    out.append(std::to_string(Pick(100000)));
    out.append("\">");
    Hanzi(out, 4 + Pick(24));
    out.append(Pick(2) ? "</a></div>" : "</td>");
  }

  void Contact(std::string& out) {
    switch (Pick(5)) {
      case 0:
        out.append("\xC1\xAA\xCF\xB5\xD3\xCA\xCF\xE4\xA3\xBA");  // 联系邮箱：
        out.append("user" + std::to_string(Pick(5000)) + "@example" + std::to_string(Pick(9)) +
                   ".com.cn");
        break;
      case 1:
        out.append(
            "\xCA\xD6\xBB\xFA\xA3\xBA"
            "1");  // 手机：1
        out.append(std::to_string(3000000000 + static_cast<uint64_t>(rng_() % 999999999)));
        break;
      case 2:
        out.append("QQ\xA3\xBA");
        out.append(std::to_string(10000 + Pick(900000000)));
        break;
      case 3:
        out.append("tencent QQ ");
        out.append(std::to_string(100000 + Pick(90000)));
        out.append(" 2024-06-12");
        break;
      default:
        out.append("mailto:webmaster@site" + std::to_string(Pick(50)) + ".cn");
        break;
    }
  }

  std::mt19937 rng_;
};

struct Corpus {
  std::string Name;
  std::string Bytes;
  std::vector<std::string_view> Pages;  // about 16 KB each, cut after a line break
  std::vector<std::string> PageTexts;   // the same pages, each in a buffer of its own
  std::string Path;
};

void CutPages(Corpus& corpus) {
  const std::string_view all = corpus.Bytes;
  size_t at = 0;
  while (at < all.size()) {
    size_t end = std::min(all.size(), at + 16384);
    const size_t lf = all.find('\n', end);
    end = lf == std::string_view::npos ? all.size() : lf + 1;
    corpus.Pages.push_back(all.substr(at, end - at));
    corpus.PageTexts.emplace_back(corpus.Pages.back());
    at = end;
  }
}

std::vector<Corpus> MakeCorpora(size_t bytes) {
  CorpusWriter writer(20240612);
  std::vector<std::string> gbkPool, utf8Pool;
  for (int i = 0; i < 40000; ++i) {
    gbkPool.push_back(writer.Line());
    utf8Pool.push_back(qm::Cp936ToUtf8(gbkPool.back()));
  }
  std::vector<Corpus> corpora(2);
  corpora[0].Name = "cp936";
  corpora[1].Name = "utf-8";
  const std::vector<std::string>* pools[] = {&gbkPool, &utf8Pool};
  for (int c = 0; c < 2; ++c) {
    std::mt19937 pick(7);
    std::string& out = corpora[static_cast<size_t>(c)].Bytes;
    out.reserve(bytes + 4096);
    while (out.size() < bytes) {
      const uint32_t r = pick();
      out.append((*pools[c])[r % gbkPool.size()]);
      out.append((r >> 24) % 8 == 0 ? "\r\n" : "\n");
    }
    CutPages(corpora[static_cast<size_t>(c)]);
  }
  return corpora;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Best of five runs, in MB/s over `bytes`. `run` returns the seconds it took; CPU time,
// because the machine is shared and wall time swings with the neighbours' load.
double Rate(size_t bytes, const std::function<double()>& run) {
  double best = 1e100;
  for (int i = 0; i < 5; ++i) best = std::min(best, run());
  return static_cast<double>(bytes) / 1e6 / best;
}

double Timed(const std::function<void()>& work) {
  const double start = ThreadCpuSeconds();
  work();
  return ThreadCpuSeconds() - start;
}

volatile size_t sink;

double MemchrSplitRate(const Corpus& corpus) {
  return Rate(corpus.Bytes.size(), [&] {
    return Timed([&] {
      const char* p = corpus.Bytes.data();
      const char* const end = p + corpus.Bytes.size();
      size_t lines = 0, total = 0;
      while (p < end) {
        const char* lf =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* stop = lf ? lf : end;
        total += static_cast<size_t>(stop - p);
        ++lines;
        p = stop + 1;
      }
      sink = lines + total;
    });
  });
}

struct Lists {
  qm::ui::ChangeNotifier notifier;
  qm::TResultList emails{notifier}, mobiles{notifier}, qq{notifier};
  void Clear() {
    for (qm::TResultList* list : {&emails, &mobiles, &qq}) {
      list->Clear();
      list->ClearLastAccepted();
    }
  }
};

// Cuts every page into lines as a page fetch does, taking the page's buffer over, runs
// `scan` on the lines and gives the buffer back.
template <typename Scan>
double PageRate(Corpus& corpus, Lists& lists, Scan scan) {
  qm::TPageLines lines;
  return Rate(corpus.Bytes.size(), [&] {
    return Timed([&] {
      lists.Clear();
      size_t count = 0;
      for (std::string& page : corpus.PageTexts) {
        lines.TakeText(std::move(page));
        scan(lines);
        count += lines.Text().size();
        page = lines.ReleaseText();
      }
      sink = count;
    });
  });
}

// The chosen extractors, each over every line.
double ExtractRate(Corpus& corpus, Lists& lists, bool email, bool mobile, bool qq) {
  return PageRate(corpus, lists, [&](const qm::TPageLines& lines) {
    for (std::string_view line : lines) {
      if (email) qm::ExtractEmails(line, lists.emails);
      if (mobile) qm::ExtractMobiles(line, lists.mobiles);
      if (qq) qm::ExtractQQNumbers(line, lists.qq);
    }
  });
}

// As a worker scans a page: one pass over the page finds the lines worth a look, and all
// three kinds are scanned together on those. `markedShare`, when given, gets the share of
// lines the page pass marks.
double ExtractContactsRate(Corpus& corpus, Lists& lists, bool extended = false,
                           double* markedShare = nullptr) {
  qm::TPageAnchors anchors;
  const qm::TContactLists targets{.Emails = &lists.emails,
                                  .Mobiles = &lists.mobiles,
                                  .QQNumbers = &lists.qq,
                                  .Extended = extended};
  size_t marked = 0, all = 0;
  const double rate = PageRate(corpus, lists, [&](const qm::TPageLines& lines) {
    if (extended) {
      anchors.FindExtended(lines.Text());
    } else {
      anchors.Find(lines.Text());
    }
    for (auto line = lines.begin(), last = lines.end(); line != last; ++line) {
      ++all;
      if (anchors.AnyIn(line.Begin(), line.End())) {
        ++marked;
        qm::ExtractContacts(*line, targets);
      }
    }
  });
  if (markedShare != nullptr) *markedShare = all == 0 ? 0 : double(marked) / double(all);
  return rate;
}

// ripgrep over the corpus file; MB/s, or 0 when it cannot run.
double RipgrepRate(const Corpus& corpus, const std::vector<std::string>& options) {
  bool failed = false;
  const double rate = Rate(corpus.Bytes.size(), [&] {
    const std::optional<double> cpu = qm::bench::RipgrepCpuSeconds(corpus.Path, options);
    if (!cpu) failed = true;
    return cpu.value_or(1e100);
  });
  return failed ? 0 : rate;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 150;
  std::printf("generating two corpora of %zu MB...\n", megabytes);
  std::vector<Corpus> corpora = MakeCorpora(megabytes * 1000 * 1000);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_extract." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);

  Lists lists;
  for (Corpus& corpus : corpora) {
    corpus.Path = (dir / (corpus.Name + ".txt")).string();
    std::ofstream(corpus.Path, std::ios::binary)
        .write(corpus.Bytes.data(), static_cast<std::streamsize>(corpus.Bytes.size()));
    std::printf("\n%s corpus: %.1f MB, %zu pages of ~16 KB\n", corpus.Name.c_str(),
                static_cast<double>(corpus.Bytes.size()) / 1e6, corpus.Pages.size());
    const double memchrRate = MemchrSplitRate(corpus);
    const double splitRate = ExtractRate(corpus, lists, false, false, false);
    const double separateRate = ExtractRate(corpus, lists, true, true, true);
    const int32_t separateRows =
        lists.emails.EntryCount() + lists.mobiles.EntryCount() + lists.qq.EntryCount();
    const double allRate = ExtractContactsRate(corpus, lists);
    const int32_t emails = lists.emails.EntryCount(), mobiles = lists.mobiles.EntryCount(),
                  qq = lists.qq.EntryCount();
    double markedShare = 0;
    const double extendedRate = ExtractContactsRate(corpus, lists, true, &markedShare);
    const double emailRate = ExtractRate(corpus, lists, true, false, false);
    const double mobileRate = ExtractRate(corpus, lists, false, true, false);
    const double qqRate = ExtractRate(corpus, lists, false, false, true);
    const double rgCount = RipgrepRate(corpus, {"-c"});
    const double rgOnly = RipgrepRate(corpus, {"-o"});
    std::printf("  memchr line splitting          %8.0f MB/s\n", memchrRate);
    std::printf("  page lines alone               %8.0f MB/s\n", splitRate);
    std::printf("  lines + ExtractContacts       %8.0f MB/s  (%.2f of memchr splitting)\n", allRate,
                allRate / memchrRate);
    std::printf("  lines + extended recognition %8.0f MB/s  (%.1f%% of lines marked)\n",
                extendedRate, 100 * markedShare);
    std::printf("  lines + the three in turn    %8.0f MB/s  (%.2f of memchr splitting)\n",
                separateRate, separateRate / memchrRate);
    std::printf("  lines + ExtractEmails          %8.0f MB/s\n", emailRate);
    std::printf("  lines + ExtractMobiles         %8.0f MB/s\n", mobileRate);
    std::printf("  lines + ExtractQQNumbers      %8.0f MB/s\n", qqRate);
    std::printf("  ripgrep -c, three patterns     %8.0f MB/s\n", rgCount);
    std::printf("  ripgrep -o, three patterns     %8.0f MB/s\n", rgOnly);
    std::printf(
        "  rows: %d e-mail, %d mobile, %d QQ%s\n", emails, mobiles, qq,
        separateRows == emails + mobiles + qq ? "" : "  (DIFFERENT from the three in turn!)");
    std::filesystem::remove(corpus.Path);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
