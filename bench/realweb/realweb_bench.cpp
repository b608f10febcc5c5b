// A harvest of a local site of mixed pages as the real web serves them (half the list
// behind a 301, gzip and brotli bodies, UTF-8, GBK and Big5 text declared in the header, in
// a meta tag or not at all) next to the same harvest of the same pages without redirects
// and compression, 4 workers, in one run: contacts found against contacts planted, pages
// per second. Then what decoding costs on uncompressed UTF-8 pages: FetchPageLines against
// the bare client over the same pages.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_common.h"
#include "common/median.h"
#include "common/quiet_dialogs.h"
#include "common/search_run.h"
#include "compression_support.h"
#include "reach_figures.h"
#include "engine/main_form.h"
#include "http/fetch_page_lines.h"
#include "http/http_client.h"
#include "http/redirect_fetch.h"
#include "support/charset_encoding.h"
#include "support/nginx_fixture.h"
#include "support/temp_dir.h"

namespace {

constexpr int kPages = 1600;
constexpr int kThreads = 4;
constexpr int kRounds = 5;
constexpr int kContactsPerPage = 3;  // two e-mail addresses and a mobile number

using Clock = std::chrono::steady_clock;
using qm::bench::Median;

const char* const kSimplified[] = {"欢迎访问我们的网站",
                                   "联系我们",
                                   "公司地址：北京市海淀区中关村大街",
                                   "产品介绍与技术支持",
                                   "客服热线",
                                   "电子邮箱",
                                   "版权所有",
                                   "关于我们",
                                   "新闻中心",
                                   "招聘信息"};
const char* const kTraditional[] = {"歡迎訪問我們的網站",
                                    "聯繫我們",
                                    "公司地址：臺北市信義區",
                                    "產品介紹與技術支援",
                                    "客服專線",
                                    "電子郵件",
                                    "版權所有",
                                    "關於我們",
                                    "新聞中心",
                                    "招聘資訊"};

// About 8 KB of Chinese page text (UTF-8) with the page's three contacts right after
// Chinese words, and `head` in the page's head.
std::string MakePage(int index, bool traditional, const std::string& head, std::mt19937& random) {
  const char* const* words = traditional ? kTraditional : kSimplified;
  std::string page = "<html><head>" + head + "<title>" + words[index % 10] + "</title></head>\n";
  const int contactLine = 20 + index % 40;
  for (int line = 0; page.size() < 8000; ++line) {
    page += "<p>";
    for (int w = 0; w < 4; ++w) page += words[random() % 10];
    if (line == contactLine) {
      page += words[5] + std::string("c") + std::to_string(index) + "a@site" +
              std::to_string(index) + ".cn，" + words[4] + std::to_string(13900000000LL + index) +
              "，" + words[1] + "d" + std::to_string(index) + "@mail.example.com";
    }
    page += "</p>\n";
  }
  return page;
}

// The site: page i of the mixed list in one of eight forms, and its plain twin.
struct Site {
  std::vector<std::string> Mixed;
  std::vector<std::string> Plain;
  size_t MixedBytes = 0;
  size_t PlainBytes = 0;
};

Site WriteSite(qm::test::NginxServer& nginx) {
  std::mt19937 random(20261208);
  Site site;
  for (int i = 0; i < kPages; ++i) {
    const std::string name = std::to_string(i) + ".html";
    const int form = i % 8;
    const bool traditional = form == 3;
    const char* meta = form == 2   ? "<meta charset=\"gb2312\">"
                       : form == 3 ? "<meta http-equiv=\"Content-Type\" "
                                     "content=\"text/html; charset=big5\">"
                                   : "";
    const std::string utf8 = MakePage(i, traditional, meta, random);
    const char* const folders[] = {"u", "g", "gm", "b", "x", "z", "br", "zg"};
    const std::string folder = folders[form];
    std::string bytes = form == 1 || form == 2 || form == 4 || form == 7
                            ? qm::test::EncodeUtf8As(utf8, "GBK")
                        : form == 3 ? qm::test::EncodeUtf8As(utf8, "BIG5")
                                    : utf8;
    // The mixed site compresses in three folders; its twin is the same text uncompressed.
    nginx.WriteFile("plain/" + folder + "/" + name, bytes);
    nginx.WriteFile(folder + "/" + name, form == 6 ? qm::test::Brotli(bytes) : bytes);
    site.PlainBytes += bytes.size();
    const std::string path = folder + "/" + name;
    site.Mixed.push_back(nginx.Url(i % 2 ? "r/" + path : path));
    site.Plain.push_back(nginx.Url("plain/" + path));
  }
  return site;
}

struct RunFigures {
  double PagesPerSecond;
  double CpuUsPerPage;  // this process, all threads
  int Found;
};

RunFigures Harvest(qm::TForm1& form, const std::string& listPath) {
  form.Edit5.SetText(listPath);
  const double cpu = qm::bench::ProcessCpuSeconds();
  const auto start = Clock::now();
  qm::bench::RunSearchToEnd(form);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return {kPages / seconds, (qm::bench::ProcessCpuSeconds() - cpu) * 1e6 / kPages,
          form.StringGrid1.EntryCount() + form.StringGrid2.EntryCount()};
}

// Pages per second of `fetch` over `urls` on kThreads threads.
template <class Fetch>
double FetchRate(const std::vector<std::string>& urls, Fetch fetch) {
  std::atomic<size_t> next{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      qm::TPageLines lines;
      for (size_t i = next++; i < urls.size(); i = next++) fetch(urls[i], lines);
    });
  }
  for (auto& thread : threads) thread.join();
  return urls.size() / std::chrono::duration<double>(Clock::now() - start).count();
}

// The same fetch (redirects checked, compression asked for) with the body taken as lines
// as it came: FetchPageLines less its decoding.
bool UndecodedFetch(const std::string& url, qm::TPageLines& lines) {
  qm::THttpClient client;
  qm::TPageFetchResult result;
  if (!qm::FetchFollowingRedirects(client, url, {}, result)) return false;
  lines.TakeText(std::move(client.Document.Data));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // "reach": only the figures of sites a plain fetch cannot get past.
  const bool reachOnly = argc > 1 && std::string(argv[1]) == "reach";
  qm::bench::PrintReachFigures();
  if (reachOnly) return 0;
  qm::test::NginxServer::Options options = qm::bench::NginxOptions();
  options.ServerDirectives =
      "location /r/ { rewrite ^/r/(.*)$ /$1 permanent; }\n"
      "    location /u/ { charset utf-8; }\n"
      "    location /plain/u/ { charset utf-8; }\n"
      "    location /g/ { charset gbk; }\n"
      "    location /plain/g/ { charset gbk; }\n"
      "    location /z/ { charset utf-8; gzip on; gzip_min_length 1; }\n"
      "    location /plain/z/ { charset utf-8; }\n"
      "    location /br/ { charset utf-8; add_header Content-Encoding br; }\n"
      "    location /plain/br/ { charset utf-8; }\n"
      "    location /zg/ { charset gbk; gzip on; gzip_min_length 1; }\n"
      "    location /plain/zg/ { charset gbk; }";
  qm::test::NginxServer nginx(options);
  qm::test::TempDir dir;
  const Site site = WriteSite(nginx);
  std::string mixedList, plainList;
  for (int i = 0; i < kPages; ++i) {
    mixedList += site.Mixed[i] + "\r\n";
    plainList += site.Plain[i] + "\r\n";
  }
  const std::string mixedPath = dir.Write("mixed.txt", mixedList);
  const std::string plainPath = dir.Write("plain.txt", plainList);

  qm::bench::QuietDialogs dialogs;
  qm::TForm1Environment environment = qm::bench::QuietEnvironment(dir.File("qmharvest"));
  qm::TForm1 form(dialogs, environment);
  form.FormCreate();
  form.SpinEdit1.SetValue(kThreads);
  form.CheckBox2.SetChecked(true);
  form.CheckBox3.SetChecked(true);
  form.CheckBox4.SetChecked(false);

  std::printf(
      "bench_realweb: %d pages of %zu bytes on average (8 forms: UTF-8, GBK in the header, GB2312 "
      "in a meta tag, Big5 in a meta tag, GBK undeclared, gzip, brotli, GBK gzip), half the "
      "mixed list behind a 301; %d workers, local nginx; %d contacts planted\n",
      kPages, site.PlainBytes / kPages, kThreads, kPages * kContactsPerPage);
  Harvest(form, plainPath);  // warm-up
  std::vector<double> mixedRates, plainRates, mixedCpu, plainCpu;
  int mixedFound = 0, plainFound = 0;
  for (int round = 1; round <= kRounds; ++round) {
    const RunFigures mixed = Harvest(form, mixedPath);
    const RunFigures plain = Harvest(form, plainPath);
    mixedRates.push_back(mixed.PagesPerSecond);
    plainRates.push_back(plain.PagesPerSecond);
    mixedCpu.push_back(mixed.CpuUsPerPage);
    plainCpu.push_back(plain.CpuUsPerPage);
    mixedFound = mixed.Found;
    plainFound = plain.Found;
    std::printf("  round %d: mixed %6.0f pages/s, %d found; plain %6.0f pages/s, %d found\n", round,
                mixed.PagesPerSecond, mixed.Found, plain.PagesPerSecond, plain.Found);
  }
  std::printf("contacts found / planted: mixed site %d / %d, plain site %d / %d\n", mixedFound,
              kPages * kContactsPerPage, plainFound, kPages * kContactsPerPage);
  const double mixed = Median(mixedRates), plain = Median(plainRates);
  std::printf(
      "median: mixed %.0f pages/s, plain %.0f pages/s: mixed at %.0f%% of plain; cpu per page "
      "mixed %.0f us, plain %.0f us\n",
      mixed, plain, mixed / plain * 100.0, Median(mixedCpu), Median(plainCpu));

  form.CheckBoxRedirects.SetChecked(false);
  const RunFigures unfollowed = Harvest(form, mixedPath);
  std::printf("mixed site with following redirects off: %d found (the 301 bodies hold none)\n",
              unfollowed.Found);

  // Decoding on uncompressed UTF-8 pages: what FetchPageLines adds to the bare client.
  std::vector<std::string> utf8Urls;
  for (int i = 0; i < kPages; i += 8) {
    for (int k = 0; k < 8; ++k) utf8Urls.push_back(site.Plain[i]);  // plain/u/ pages
  }
  std::vector<double> bare, decoded, bareCpu, decodedCpu;
  for (int round = 1; round <= 3 * kRounds; ++round) {
    double cpu = qm::bench::ProcessCpuSeconds();
    bare.push_back(FetchRate(utf8Urls, UndecodedFetch));
    bareCpu.push_back((qm::bench::ProcessCpuSeconds() - cpu) * 1e6 / utf8Urls.size());
    cpu = qm::bench::ProcessCpuSeconds();
    decoded.push_back(FetchRate(utf8Urls, [](const std::string& url, qm::TPageLines& lines) {
      return qm::FetchPageLines(url, lines);
    }));
    decodedCpu.push_back((qm::bench::ProcessCpuSeconds() - cpu) * 1e6 / utf8Urls.size());
  }
  std::printf(
      "uncompressed UTF-8 pages: without decoding %.0f pages/s (%.0f cpu us/page), "
      "FetchPageLines %.0f pages/s (%.0f cpu us/page): decoding costs %.1f%% of the plain "
      "rate (goal <= 15%%)\n",
      Median(bare), Median(bareCpu), Median(decoded), Median(decodedCpu),
      (1.0 - Median(decoded) / Median(bare)) * 100.0);
  return 0;
}
