// Extended recognition against the plain scanners on generated pages with planted contacts
// in every form a page writes them and planted look-alikes: precision and recall of each
// setting, then the scan rate of both next to ripgrep with the three plain patterns over the
// same text, and of the page pass alone. Rates are per CPU second (this thread; ripgrep's
// user and system time).
//
// Then qmharvest-cli scan against ripgrep on Chinese company pages in code page 936 and UTF-8,
// and the cost of unique rows.
//
//   bench_contacts [MEGABYTES [GBK_MEGABYTES]]   (default 100 for the rates, 150 for the
//                                                 company pages; 0 leaves a part out)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/ripgrep_run.h"
#include "company_text.h"
#include "contacts/extractors.h"
#include "contacts/page_anchors.h"
#include "labelled_kinds_bench.h"
#include "scan_table.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace {

using Truth = std::set<std::string>;  // "kind value"

class PageWriter {
 public:
  // A contact on one line in `contactEvery`, a look-alike on one in `lookAlikeEvery`; with
  // `company`, the lines between are those of a Chinese company's site (company_text.h).
  PageWriter(uint32_t seed, int contactEvery, int lookAlikeEvery, bool company = false)
      : rng_(seed),
        contactEvery_(contactEvery),
        lookAlikeEvery_(lookAlikeEvery),
        company_(company) {}

  // A page of about 8 KB: markup and Chinese text with contacts and look-alikes.
  std::string Page(Truth& truth) {
    std::string page = "<html><head><meta charset=\"utf-8\"><title>企业黄页</title></head><body>\n";
    if (company_) page = qm::bench::CompanyPageHead(rng_);
    while (page.size() < 8000) {
      if (company_) {
        qm::bench::CompanyLine(rng_, page);
      } else {
        Filler(page);
      }
      if (Pick(contactEvery_) == 0) Plant(page, truth);
      if (Pick(lookAlikeEvery_) == 0) LookAlike(page);
      page += '\n';
    }
    return page + "</body></html>\n";
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string Number(int digits) {
    std::string text(1, static_cast<char>('1' + Pick(9)));
    while (static_cast<int>(text.size()) < digits) text += static_cast<char>('0' + Pick(10));
    return text;
  }
  std::string Word() {
    static const char* const kWords[] = {"info", "sales",     "hr",    "service", "admin",
                                         "kefu", "zhang.wei", "li_na", "market",  "job"};
    return kWords[Pick(10)] + std::to_string(serial_++);
  }
  std::string Domain() {
    static const char* const kTops[] = {".com", ".cn", ".com.cn", ".net", ".org"};
    return "firm" + std::to_string(Pick(100000)) + kTops[Pick(5)];
  }
  std::string Mobile() {
    return "1" + std::string(1, static_cast<char>('3' + Pick(7))) + Number(9);
  }

  void Filler(std::string& out) {
    static const char* const kText[] = {
        "本公司主营电子产品批发与零售，欢迎来电咨询。",
        "地址：北京市海淀区中关村大街",
        "版权所有 &copy; 2024",
        "<div class=\"nav\"><a href=\"/news/list_2.html\">新闻动态</a></div>",
        "<span class=\"date\">2024-06-12 10:30</span>",
        "<img src=\"/upload/2024/06/pic_8812.jpg\" width=\"300\">",
        "价格：￥1280.00 元，库存 35 件"};
    out += kText[Pick(7)];
  }

  void Plant(std::string& out, Truth& truth) {
    const int kind = Pick(3);
    if (kind == 0) {
      const std::string local = Word(), domain = Domain();
      std::string lower = local + "@" + domain;
      truth.insert("email " + lower);
      switch (Pick(11)) {
        case 0:
          out += "<p>联系邮箱：" + lower + "</p>";
          break;
        case 1: {
          std::string mixed = lower;
          mixed[0] = static_cast<char>(mixed[0] - 32);
          for (size_t i = mixed.rfind('.') + 1; i < mixed.size(); ++i)
            mixed[i] = static_cast<char>(mixed[i] - 32);
          out += "<td>E-mail: " + mixed + "</td>";
          break;
        }
        case 2:
          out += "<span>" + local + "&#64;" + domain + "</span>";
          break;
        case 3:
          out += "<span>" + local + "&#x40;" + domain + "</span>";
          break;
        case 4:
          out += "<b>" + local + "&commat;" + domain + "</b>";
          break;
        case 5:
          out += "<a href=\"mailto:" + local + "%40" + domain + "\">发邮件</a>";
          break;
        case 6: {
          std::string wide = domain;
          const size_t dot = wide.find('.');
          wide.replace(dot, 1, "．");
          out += "<p>邮箱：" + local + "＠" + wide + "</p>";
          break;
        }
        case 7: {
          std::string spelled = domain;
          for (size_t dot = spelled.find('.'); dot != std::string::npos;
               dot = spelled.find('.', dot))
            spelled.replace(dot, 1, " [dot] ");
          out += "<p>Email: " + local + " [at] " + spelled + "</p>";
          break;
        }
        case 8:
          out += "<p>投稿：" + local + "(at)" + domain + "</p>";
          break;
        case 9:
          out += "<p>邮箱：" + local + "#" + domain + "（把#换成@）</p>";
          break;
        default: {
          const int key = 1 + Pick(254);
          char hex[3];
          std::snprintf(hex, sizeof hex, "%02x", key);
          std::string encoded = hex;
          for (char c : lower) {
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c) ^ key);
            encoded += hex;
          }
          out += "<a class=\"__cf_email__\" data-cfemail=\"" + encoded +
                 "\">[email&#160;protected]</a>";
        }
      }
    } else if (kind == 1) {
      const std::string m = Mobile();
      truth.insert("mobile " + m);
      const std::string a = m.substr(0, 3), b = m.substr(3, 4), c = m.substr(7);
      switch (Pick(8)) {
        case 0:
          out += "<p>手机：" + m + "</p>";
          break;
        case 7:
          out += "<p>手机：" + a + "－" + b + "－" + c + "</p>";
          break;
        case 1:
          out += "<p>手机：" + a + "-" + b + "-" + c + "</p>";
          break;
        case 2:
          out += "<span>电话 " + a + " " + b + " " + c + "</span>";
          break;
        case 3:
          out += "<p>Tel: +86 " + a + " " + b + " " + c + "</p>";
          break;
        case 4:
          out += "<p>Mobile: 0086 " + m + "</p>";
          break;
        case 5:
          out += "<li>(+86)" + m + "</li>";
          break;
        default: {
          std::string wide;
          for (char d : m) wide += "\xEF\xBC" + std::string(1, static_cast<char>(0x90 + (d - '0')));
          out += "<p>手机：" + wide + "</p>";
        }
      }
    } else {
      const std::string q = Number(5 + Pick(6));
      truth.insert("qq " + q + "@qq.com");
      switch (Pick(6)) {
        case 0:
          out += "<p>QQ：" + q + "</p>";
          break;
        case 1:
          out += "<p>客服QQ号：" + q + "</p>";
          break;
        case 2:
          out += "<p>qq " + q + "</p>";
          break;
        case 3:
          out += "<a href=\"tencent://message/?uin=" + q + "&Site=shop&Menu=yes\">在线咨询</a>";
          break;
        case 4:
          out +=
              "<a href=\"http://wpa.qq.com/msgrd?v=3&uin=" + q + "&site=qq&menu=yes\">QQ交谈</a>";
          break;
        default:
          out += "<p>邮箱：" + q + "@qq.com</p>";
          truth.insert("email " + q + "@qq.com");
      }
    }
  }

  void LookAlike(std::string& out) {
    switch (Pick(8)) {
      case 0:
        out += "<img src=\"/images/logo" + std::to_string(Pick(99)) + "@2x.png\">";
        break;
      case 1:
        out += "<script src=\"https://cdn.jsdelivr.net/npm/jquery@3." + std::to_string(Pick(9)) +
               ".0/dist/jquery.min.js\"></script>";
        break;
      case 2:
        out += "<link href=\"https://unpkg.com/font@latest/style" + std::to_string(Pick(9)) +
               ".css\">";
        break;
      case 3:
        out += "<p>订单号：2024" + Number(4) + Mobile() + Number(2) + "</p>";
        break;
      case 4:
        out += "<span data-time=\"17" + Number(11) + "\"></span>";
        break;
      case 5:
        out += "<p>电话：010-6" + Number(7) + " 传真：010-6" + Number(7) + " 邮编：100080</p>";
        break;
      case 6:
        out += "<p>QQ群：" + Number(9) + "</p>";
        break;
      default:
        out += "<img src=\"/static/icon" + std::to_string(Pick(99)) + "@3x.webp\">";
    }
  }

  std::mt19937 rng_;
  int contactEvery_, lookAlikeEvery_;
  bool company_;
  int serial_ = 0;
};

struct Lists {
  qm::ui::ChangeNotifier notifier;
  qm::TResultList emails{notifier}, mobiles{notifier}, qq{notifier};
  void Begin() {
    for (qm::TResultList* list : {&emails, &mobiles, &qq}) {
      list->Clear();
      list->BeginRun(true);
    }
  }
};

// Scans a page as a worker does: the page pass, then the selected lines.
void ScanPage(qm::TPageLines& lines, qm::TPageAnchors& anchors, Lists& lists, bool extended) {
  if (extended) {
    anchors.FindExtended(lines.Text());
  } else {
    anchors.Find(lines.Text());
  }
  const qm::TContactLists targets{&lists.emails, &lists.mobiles, &lists.qq, {}, extended};
  for (auto line = lines.begin(), last = lines.end(); line != last; ++line) {
    if (anchors.AnyIn(line.Begin(), line.End())) qm::ExtractContacts(*line, targets);
  }
}

void PrintQuality(const char* setting, const Truth& truth, const Lists& lists) {
  std::printf("  %-10s", setting);
  size_t allFound = 0, allRight = 0, allTruth = 0;
  const std::pair<const char*, const qm::TResultList*> kinds[] = {
      {"email", &lists.emails}, {"mobile", &lists.mobiles}, {"qq", &lists.qq}};
  for (const auto& [kind, list] : kinds) {
    size_t found = 0, right = 0, planted = 0;
    for (const std::string& t : truth) planted += t.rfind(std::string(kind) + " ", 0) == 0;
    for (const qm::TResultEntry& entry : list->Entries()) {
      ++found;
      right += truth.count(std::string(kind) + " " + entry.Value);
    }
    std::printf("  %s P %.4f R %.4f", kind, found ? double(right) / double(found) : 1.0,
                planted ? double(right) / double(planted) : 1.0);
    allFound += found;
    allRight += right;
    allTruth += planted;
  }
  std::printf("  | all P %.4f R %.4f\n", double(allRight) / double(allFound),
              double(allRight) / double(allTruth));
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double BestOf3(size_t bytes, const std::function<double()>& run) {
  double best = 1e100;
  for (int i = 0; i < 3; ++i) best = std::min(best, run());
  return double(bytes) / 1e6 / best;
}

double RipgrepRate(const std::string& path, size_t bytes) {
  bool failed = false;
  const double rate = BestOf3(bytes, [&] {
    const std::optional<double> cpu = qm::bench::RipgrepCpuSeconds(path, {"-c"});
    if (!cpu) failed = true;
    return cpu.value_or(1e100);
  });
  return failed ? 0 : rate;
}


// Chinese company pages to about `gbkMegabytes` in code page 936, written in that code page and
// in UTF-8, each scanned by qmharvest-cli and ripgrep; then what unique rows cost a list.
void CompareOnCompanyPages(size_t gbkMegabytes) {
  Truth truth;
  PageWriter writer(17, 30, 30, true);
  std::string utf8, gbk;
  while (gbk.size() < gbkMegabytes * 1000 * 1000) {
    const std::string page = writer.Page(truth);
    utf8 += page;
    gbk += qm::Utf8ToCp936(page);
  }
  const std::string stem =
      (std::filesystem::temp_directory_path() / ("bench_contacts." + std::to_string(getpid())))
          .string();
  std::vector<qm::bench::ScanFile> files = {{"GBK", stem + ".gbk", gbk.size()},
                                            {"UTF-8", stem + ".utf8", utf8.size()}};
  std::ofstream(files[0].Path, std::ios::binary).write(gbk.data(), std::streamsize(gbk.size()));
  std::ofstream(files[1].Path, std::ios::binary).write(utf8.data(), std::streamsize(utf8.size()));
  std::printf("\nChinese company pages (%zu planted contacts, one line in 30 with a contact, one "
              "in 30 with a look-alike)\n",
              truth.size());
  qm::bench::PrintScanTable(QM_CLI_PATH, files);
  // QM_KEEP_CORPUS=1 keeps the files, for a profile.
  if (std::getenv("QM_KEEP_CORPUS") != nullptr) {
    for (const qm::bench::ScanFile& file : files) std::printf("  kept %s\n", file.Path.c_str());
  } else {
    for (const qm::bench::ScanFile& file : files) std::filesystem::remove(file.Path);
  }

  std::vector<std::string> values;
  for (const std::string& t : truth) values.push_back(t.substr(t.find(' ') + 1));
  std::shuffle(values.begin(), values.end(), std::mt19937(18));
  values.erase(std::unique(values.begin(), values.end()), values.end());
  qm::bench::PrintUniqueRowCost(values);
}

}  // namespace

int main(int argc, char** argv) {
  // bench_contacts [MEGABYTES [GBK_MEGABYTES]]: 0 leaves that part out.
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const size_t gbkMegabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 150;
  if (megabytes == 0) {
    CompareOnCompanyPages(gbkMegabytes);
    return 0;
  }

  // Quality: 3000 pages, half of them in code page 936 as undeclared pages come.
  Truth truth;
  std::vector<std::string> pages;
  PageWriter writer(15, 4, 6);
  for (int i = 0; i < 3000; ++i) {
    const std::string page = writer.Page(truth);
    pages.push_back(i % 2 ? qm::Utf8ToCp936(page) : page);
  }
  std::printf("precision (P) and recall (R) over %zu pages, %zu planted contacts\n", pages.size(),
              truth.size());
  Lists lists;
  qm::TPageLines lines;
  qm::TPageAnchors anchors;
  for (bool extended : {true, false}) {
    lists.Begin();
    for (const std::string& page : pages) {
      lines.AssignText(page);
      ScanPage(lines, anchors, lists, extended);
    }
    PrintQuality(extended ? "extended" : "plain", truth, lists);
  }

  // Rate: pages of the same kind, UTF-8, to the size asked for, with contacts as sparse as
  // on real pages (one line in 30) and look-alikes on one line in 20.
  std::string corpus;
  std::vector<std::string> ratePages;
  Truth unused;
  PageWriter rateWriter(16, 30, 20);
  while (corpus.size() < megabytes * 1000 * 1000) {
    ratePages.push_back(rateWriter.Page(unused));
    corpus += ratePages.back();
  }
  const std::string path =
      (std::filesystem::temp_directory_path() / ("bench_contacts." + std::to_string(getpid())))
          .string();
  std::ofstream(path, std::ios::binary).write(corpus.data(), std::streamsize(corpus.size()));
  std::printf("\nscan rate over %.1f MB (%zu pages of ~8 KB), page pass and scanners, best of 3\n",
              double(corpus.size()) / 1e6, ratePages.size());
  double extendedRate = 0;
  for (bool extended : {false, true}) {
    const double rate = BestOf3(corpus.size(), [&] {
      lists.Begin();
      const double start = ThreadCpuSeconds();
      for (std::string& page : ratePages) {
        lines.TakeText(std::move(page));
        ScanPage(lines, anchors, lists, extended);
        page = lines.ReleaseText();
      }
      return ThreadCpuSeconds() - start;
    });
    std::printf("  %-34s %8.0f MB/s\n", extended ? "extended recognition" : "plain scanners", rate);
    if (extended) extendedRate = rate;
  }
  const double ripgrepRate = RipgrepRate(path, corpus.size());
  std::printf("  %-34s %8.0f MB/s\n", "ripgrep -c, three plain patterns", ripgrepRate);
  if (ripgrepRate > 0) {
    std::printf("  %-34s %8.2f\n", "extended recognition / ripgrep", extendedRate / ripgrepRate);
  }
  // The page pass alone, the part every byte of a page goes through.
  for (bool extended : {false, true}) {
    const double rate = BestOf3(corpus.size(), [&] {
      const double start = ThreadCpuSeconds();
      for (const std::string& page : ratePages) {
        if (extended) {
          anchors.FindExtended(page);
        } else {
          anchors.Find(page);
        }
      }
      return ThreadCpuSeconds() - start;
    });
    std::printf("  %-34s %8.0f MB/s\n",
                extended ? "page pass alone, extended" : "page pass alone, plain", rate);
  }
  std::filesystem::remove(path);
  qm::bench::PrintLabelledKinds(megabytes);
  if (gbkMegabytes > 0) CompareOnCompanyPages(gbkMegabytes);
  return 0;
}
