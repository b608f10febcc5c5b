#include "labelled_kinds_bench.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/ripgrep_run.h"
#include "contacts/extractors.h"
#include "contacts/labelled_kinds.h"
#include "contacts/page_anchors.h"
#include "text/cp936.h"
#include "text/page_lines.h"
#include "ui/change_notifier.h"

namespace qm::bench {
namespace {

using Truth = std::set<std::string>;  // "kind value"

class CompanyPageWriter {
 public:
  CompanyPageWriter(uint32_t seed, int contactEvery, int decoyEvery)
      : rng_(seed), contactEvery_(contactEvery), decoyEvery_(decoyEvery) {}

  std::string Page(Truth& truth) {
    std::string page =
        "<html><head><meta charset=\"utf-8\"><title>联系我们 - 公司官网</title></head><body>\n";
    while (page.size() < 8000) {
      Filler(page);
      if (Pick(contactEvery_) == 0) Plant(page, truth);
      if (Pick(decoyEvery_) == 0) Decoy(page);
      page += '\n';
    }
    return page + "</body></html>\n";
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string Digits(int count, char first = 0) {
    std::string text;
    if (first != 0) text += first;
    while (static_cast<int>(text.size()) < count) text += static_cast<char>('0' + Pick(10));
    return text;
  }
  std::string Mobile() { return "1" + std::string(1, static_cast<char>('3' + Pick(7))) + Digits(9); }
  std::string WeChatId() {
    static const char* const kStems[] = {"kefu", "Shop", "zhang", "li_na", "Sales", "vip",
                                         "daili", "wxid_", "Trade-cn", "meiyan"};
    return kStems[Pick(10)] + std::to_string(100 + serial_++);
  }
  static std::string Lower(std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return text;
  }

  void Filler(std::string& out) {
    static const char* const kText[] = {
        "本公司主营电子产品批发与零售，欢迎来电咨询。",
        "地址：广东省深圳市南山区科技园南区",
        "版权所有 &copy; 2004-2024 深圳市某某科技有限公司",
        "<div class=\"nav\"><a href=\"/news/list_2.html\">新闻动态</a></div>",
        "<span class=\"date\">2024-06-12 10:30</span>",
        "<img src=\"/upload/2024/06/pic_8812.jpg\" width=\"300\">",
        "价格：￥1280.00 元，库存 35 件",
        "<li><a href=\"/product/show_10086.html\">产品中心</a></li>"};
    out += kText[Pick(8)];
  }

  void PlantWeChat(std::string& out, Truth& truth) {
    if (Pick(4) == 0) {
      const std::string m = Mobile();
      truth.insert("wechat " + m);
      switch (Pick(3)) {
        case 0:
          out += "<p>微信：" + m.substr(0, 3) + " " + m.substr(3, 4) + " " + m.substr(7) + "</p>";
          break;
        case 1:
          out += "<p>手机/微信：" + m + "</p>";
          break;
        default:
          out += "<p>电话：" + m + "（微信同号）</p>";
      }
      return;
    }
    const std::string id = WeChatId();
    truth.insert("wechat " + Lower(id));
    static const char* const kForms[][2] = {
        {"<p>微信：", "</p>"},         {"<p>微信号：", "</p>"},    {"<span>加微信 ", " 咨询</span>"},
        {"<p>WeChat: ", "</p>"},       {"<p>wx：", "</p>"},        {"<p>VX: ", "</p>"},
        {"<p>V信：", "</p>"},          {"<p>威信：", "</p>"},      {"<td>微信</td><td>", "</td>"},
        {"<p>微信ID: ", "</p>"},       {"<p><b>WeChat:</b> ", "</p>"}};
    const auto& form = kForms[Pick(11)];
    out += form[0] + id + form[1];
  }

  void PlantTelephone(std::string& out, Truth& truth) {
    static const char* const kAreas[] = {"010", "020", "021", "022", "023", "024", "025",
                                         "027", "028", "029", "0755", "0571", "0512", "0769",
                                         "0431", "0371", "0532", "0591"};
    const int form = Pick(14);
    if (form >= 11) {
      const std::string prefix = Pick(3) == 0 ? "800" : "400";
      const std::string d = prefix + Digits(7);
      truth.insert("phone " + d.substr(0, 3) + "-" + d.substr(3, 3) + "-" + d.substr(6));
      if (form == 11) out += "<div>全国服务热线：" + d.substr(0, 3) + "-" + d.substr(3, 3) + "-" + d.substr(6) + "</div>";
      if (form == 12) out += "<p>客服热线：" + d.substr(0, 4) + " " + d.substr(4, 3) + " " + d.substr(7) + "</p>";
      if (form == 13) out += "<p>免费电话：" + d + "</p>";
      return;
    }
    const std::string area = kAreas[Pick(18)];
    const int length = area.size() == 3 || Pick(3) != 0 ? 8 : 7;
    const std::string s = Digits(length, static_cast<char>('2' + Pick(8)));
    std::string row = area + "-" + s;
    switch (form) {
      case 0:
        out += "<p>电话：" + area + "-" + s + "</p>";
        break;
      case 1:
        out += "<li>联系电话：(" + area + ") " + s.substr(0, 4) + " " + s.substr(4) + "</li>";
        break;
      case 2:
        out += "<p>Tel: +86-" + area.substr(1) + "-" + s + "</p>";
        break;
      case 3:
        out += "<p>传真：" + area + "-" + s + "</p>";
        break;
      case 4:
        out += "<td>座机：" + area + " " + s + "</td>";
        break;
      case 5: {
        const std::string extension = Digits(3, '8');
        out += "<p>总机：" + area + "-" + s + " 转 " + extension + "</p>";
        row += "-" + extension;
        break;
      }
      case 6:
        out += "<tr><td>电话</td><td>" + area + "-" + s + "</td></tr>";
        break;
      case 7:
        out += "<p>地址：深圳市南山区科技园 " + area + "-" + s + "</p>";
        break;
      case 8:
        out += "<p>电话：" + area + s + "</p>";
        break;
      case 9:
        out += "<p>Fax: " + area + "-" + s.substr(0, 4) + " " + s.substr(4) + "</p>";
        break;
      default:
        out += "<p>电话：" + area + "—" + s + "</p>";
    }
    truth.insert("phone " + row);
  }

  void Plant(std::string& out, Truth& truth) {
    switch (Pick(5)) {
      case 0:
        out += "<p>邮箱：info" + std::to_string(serial_++) + "@firm" + Digits(4) + ".com</p>";
        break;
      case 1:
        out += "<p>手机：" + Mobile() + "</p>";
        break;
      case 2:
        out += "<p>QQ：" + Digits(9, '3') + "</p>";
        break;
      case 3:
        PlantWeChat(out, truth);
        break;
      default:
        PlantTelephone(out, truth);
    }
  }

  void Decoy(std::string& out) {
    switch (Pick(12)) {
      case 0:
        out += "<span>发布时间：2024-0" + Digits(1, '1') + "-1" + Digits(1) + " 0" + Digits(1) + ":30</span>";
        break;
      case 1:
        out += "<p>价格：￥" + Digits(4, '1') + ".00 元，原价 0" + Digits(3) + ".00</p>";
        break;
      case 2:
        out += "<p>订单号：2024" + Digits(16) + "</p>";
        break;
      case 3:
        out += "<p>身份证号：4403" + Digits(14) + "</p>";
        break;
      case 4:
        out += "<p>粤ICP备0" + Digits(7) + "号-1 京公网安备 1101" + Digits(10) + "号</p>";
        break;
      case 5:
        out += "<p>邮编：5" + Digits(5) + "</p>";
        break;
      case 6:
        out += "<p>QQ：" + Digits(8, '7') + " 客服QQ：400" + Digits(7) + "</p>";
        break;
      case 7:
        out += "<p>微信扫一扫，关注我们。支持微信支付、支付宝付款。</p>";
        break;
      case 8:
        out += "<script>wx.config({debug: false, appId: 'wx" + Digits(16) + "'});</script>";
        break;
      case 9:
        out += "<p>微博：weibo_" + Digits(6) + "</p>";
        break;
      case 10:
        out += "<p>电话：" + Mobile() + "</p>";
        break;
      default:
        out += "<p>产品编号：0" + Digits(9) + " 型号 0755-A</p>";
    }
  }

  std::mt19937 rng_;
  int contactEvery_, decoyEvery_;
  int serial_ = 0;
};

struct FiveLists {
  ui::ChangeNotifier notifier;
  TResultList emails{notifier}, mobiles{notifier}, qq{notifier}, wechat{notifier},
      phones{notifier};
  void Begin() {
    for (TResultList* list : {&emails, &mobiles, &qq, &wechat, &phones}) {
      list->Clear();
      list->BeginRun(true);
    }
  }
  TContactLists Targets(bool fiveKinds) {
    TContactLists targets{&emails, &mobiles, &qq, {}, true};
    if (fiveKinds) {
      targets.WeChatIds = &wechat;
      targets.Telephones = &phones;
    }
    return targets;
  }
};

// A page as a worker scans it with extended recognition: the page passes, then the lines
// either selects.
void ScanPage(TPageLines& lines, TPageAnchors& anchors, TLabelledAnchors& labelled,
              FiveLists& lists, bool fiveKinds) {
  anchors.FindExtended(lines.Text());
  if (fiveKinds) {
    labelled.Find(lines.Text());
  } else {
    labelled.Clear();
  }
  const TContactLists targets = lists.Targets(fiveKinds);
  for (auto line = lines.begin(), last = lines.end(); line != last; ++line) {
    if (anchors.AnyIn(line.Begin(), line.End()) || labelled.AnyIn(line.Begin(), line.End())) {
      ExtractContacts(*line, targets);
    }
  }
}

void PrintQuality(const Truth& truth, const FiveLists& lists) {
  const std::pair<const char*, const TResultList*> kinds[] = {{"wechat", &lists.wechat},
                                                              {"phone", &lists.phones}};
  for (const auto& [kind, list] : kinds) {
    size_t found = 0, right = 0, planted = 0;
    for (const std::string& t : truth) planted += t.rfind(std::string(kind) + " ", 0) == 0;
    for (const TResultEntry& entry : list->Entries()) {
      ++found;
      right += truth.count(std::string(kind) + " " + entry.Value);
    }
    std::printf("  %-7s planted %6zu found %6zu  precision %.4f  recall %.4f\n", kind, planted,
                found, found ? double(right) / double(found) : 1.0,
                planted ? double(right) / double(planted) : 1.0);
    // QM_SHOW_MISSES=1 names the first rows wrongly found and planted rows missed.
    if (std::getenv("QM_SHOW_MISSES") == nullptr) continue;
    std::set<std::string> seen;
    int shown = 0;
    for (const TResultEntry& entry : list->Entries()) {
      const std::string row = std::string(kind) + " " + entry.Value;
      seen.insert(row);
      if (!truth.count(row) && shown++ < 10) std::printf("    wrong  %s\n", row.c_str());
    }
    shown = 0;
    for (const std::string& t : truth) {
      if (t.rfind(std::string(kind) + " ", 0) == 0 && !seen.count(t) && shown++ < 10) {
        std::printf("    missed %s\n", t.c_str());
      }
    }
  }
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double BestRate(size_t bytes, const std::function<double()>& run) {
  double best = 1e100;
  for (int i = 0; i < 3; ++i) best = std::min(best, run());
  return double(bytes) / 1e6 / best;
}

}  // namespace

void PrintLabelledKinds(size_t megabytes) {
  Truth truth;
  std::vector<std::string> pages;
  CompanyPageWriter writer(27, 4, 5);
  for (int i = 0; i < 3000; ++i) {
    const std::string page = writer.Page(truth);
    pages.push_back(i % 2 ? Utf8ToCp936(page) : page);
  }
  std::printf("\nWeChat IDs and telephone numbers over %zu company pages (half in code page 936), "
              "five kinds on\n",
              pages.size());
  FiveLists lists;
  lists.Begin();
  TPageLines lines;
  TPageAnchors anchors;
  TLabelledAnchors labelled;
  for (const std::string& page : pages) {
    lines.AssignText(page);
    ScanPage(lines, anchors, labelled, lists, true);
  }
  PrintQuality(truth, lists);

  if (megabytes == 0) return;
  std::string corpus;
  std::vector<std::string> ratePages;
  Truth unused;
  CompanyPageWriter rateWriter(28, 30, 20);
  while (corpus.size() < megabytes * 1000 * 1000) {
    ratePages.push_back(rateWriter.Page(unused));
    corpus += ratePages.back();
  }
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("bench_contacts_kinds." + std::to_string(getpid())))
                               .string();
  std::ofstream(path, std::ios::binary).write(corpus.data(), std::streamsize(corpus.size()));
  std::printf("\ndefault scan over %.1f MB of company pages (UTF-8), page passes and scanners, "
              "best of 3\n",
              double(corpus.size()) / 1e6);
  double fiveRate = 0;
  for (bool five : {false, true}) {
    const double rate = BestRate(corpus.size(), [&] {
      lists.Begin();
      const double start = ThreadCpuSeconds();
      for (std::string& page : ratePages) {
        lines.TakeText(std::move(page));
        ScanPage(lines, anchors, labelled, lists, five);
        page = lines.ReleaseText();
      }
      return ThreadCpuSeconds() - start;
    });
    std::printf("  %-40s %8.0f MB/s\n", five ? "five kinds (WeChat, telephone on)" : "three kinds",
                rate);
    if (five) fiveRate = rate;
  }
  bool failed = false;
  const double ripgrepRate = BestRate(corpus.size(), [&] {
    const std::optional<double> cpu = RipgrepCpuSeconds(path, {"-c"});
    if (!cpu) failed = true;
    return cpu.value_or(1e100);
  });
  if (!failed) {
    std::printf("  %-40s %8.0f MB/s\n", "ripgrep -c, three plain patterns", ripgrepRate);
    std::printf("  %-40s %8.2f\n", "five kinds / ripgrep", fiveRate / ripgrepRate);
  }
  const double passRate = BestRate(corpus.size(), [&] {
    const double start = ThreadCpuSeconds();
    for (const std::string& page : ratePages) labelled.Find(page);
    return ThreadCpuSeconds() - start;
  });
  std::printf("  %-40s %8.0f MB/s\n", "page pass of the two kinds alone", passRate);
  std::filesystem::remove(path);
}

}  // namespace qm::bench
