#include "reach_figures.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "common/bench_common.h"
#include "common/quiet_dialogs.h"
#include "common/search_run.h"
#include "engine/main_form.h"
#include "support/nginx_fixture.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace qm::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kErrorHomeSites = 30;
constexpr int kSlowSites = 10;
constexpr int kScriptedSites = 12;
constexpr int kMixSites = 10;
constexpr int kMixPagesPerSite = 40;
// Each site's host is a loopback address of its own: a site is its host.
constexpr int kFirstHost = 2;

std::string Host(int index) {
  return "127.0.0." + std::to_string(kFirstHost + index);
}

std::string Email(const std::string& kind, int index) {
  return kind + std::to_string(index) + "@reach" + std::to_string(index) + ".cn";
}

std::string Mobile(int base, int index) {
  return std::to_string(13800000000LL + base + index);
}

struct TRenderCount {
  std::atomic<int> Renders{0};
  std::atomic<int64_t> Milliseconds{0};
};

struct TRun {
  int Found = 0;
  double Seconds = 0;
};

TRun Harvest(const std::string& list, test::TempDir& dir, const std::string& name,
             TRenderCount* renders, int depth) {
  QuietDialogs dialogs;
  TForm1Environment environment = QuietEnvironment(dir.File(name));
  if (renders != nullptr) {
    environment.RenderPage = [renders](const std::string& url, const TRenderOptions& options) {
      TRenderResult result = RenderPage(url, options);
      renders->Renders.fetch_add(1);
      renders->Milliseconds.fetch_add(result.Milliseconds);
      return result;
    };
  }
  TForm1 form(dialogs, environment);
  form.FormCreate();
  form.SpinEdit1.SetValue(4);
  form.SpinEditInFlight.SetValue(8);
  form.CheckBox2.SetChecked(true);
  form.CheckBox3.SetChecked(true);
  form.SpinEditDepth.SetValue(depth);
  form.CheckBoxRender.SetChecked(renders != nullptr && !FindHeadlessBrowser().empty());
  form.Edit5.SetText(dir.Write(name + ".txt", list));
  const auto start = Clock::now();
  RunSearchToEnd(form);
  return {form.StringGrid1.EntryCount() + form.StringGrid2.EntryCount(),
          std::chrono::duration<double>(Clock::now() - start).count()};
}

}  // namespace

void PrintReachFigures() {
  const int sites = kErrorHomeSites + kScriptedSites + kMixSites;
  test::NginxServer::Options options = NginxOptions();
  for (int i = 1; i < sites; ++i) options.AlsoListenOn.push_back(Host(i));
  test::TempDir hostRoots;
  options.ServerDirectives = "location = /broken/ { return 500; }\n    location / { root " +
                             hostRoots.Path().string() + "/$host; }";
  test::NginxServer nginx(options);
  test::TempDir dir;
  const auto write = [&hostRoots](int site, const std::string& path, const std::string& body) {
    const std::filesystem::path file = hostRoots.Path() / Host(site) / path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << body;
  };
  const auto url = [&nginx](int site, const std::string& path) {
    return "http://" + Host(site) + ":" + std::to_string(nginx.Port()) + "/" + path;
  };

  // Error home pages: half listed where the server answers 404, half 500; each site's
  // contacts on one of its usual pages, or on a page only its sitemap names.
  std::string errorList;
  const char* const places[] = {"contact.html", "lianxi/index.html", "about.html", "contactus",
                                "company/reach-us.html"};
  for (int s = 0; s < kErrorHomeSites; ++s) {
    const std::string place = places[s % 5];
    write(s, place, "<p>" + Email("info", s) + " 电话 " + Mobile(0, s) + "</p>\n");
    if (s % 5 == 4) {
      write(s, "sitemap.xml",
            "<urlset><url><loc>" + url(s, place) + "</loc></url><url><loc>" + url(s, "news.html") +
                "</loc></url></urlset>");
    }
    errorList += url(s, s % 2 ? "broken/" : "index.php") + "\r\n";
  }
  const TRun errors = Harvest(errorList, dir, "errors", nullptr, 1);
  std::printf(
      "error home pages: %d sites (404 and 500), contacts found / planted %d / %d: "
      "recall %.2f (goal >= 0.8) in %.1f s\n",
      kErrorHomeSites, errors.Found, 2 * kErrorHomeSites, errors.Found / (2.0 * kErrorHomeSites),
      errors.Seconds);

  // Slow servers: every answer 8 s late.
  std::vector<std::unique_ptr<test::ScriptedServer>> slow;
  std::string slowList;
  for (int s = 0; s < kSlowSites; ++s) {
    const std::string body = "<p>" + Email("slow", s) + " " + Mobile(1000, s) + "</p>\r\n";
    slow.push_back(std::make_unique<test::ScriptedServer>([body](test::ScriptedConnection& c) {
      if (!c.ReadHead()) return;
      c.StaySilent(std::chrono::seconds(8));
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\nConnection: close\r\n\r\n" + body);
    }));
    slowList += slow.back()->Url("home") + "\r\n";
  }
  const TRun slowRun = Harvest(slowList, dir, "slow", nullptr, 0);
  std::printf(
      "slow servers: %d sites answering 8 s late, listed pages only, contacts found / "
      "planted %d / %d: recall %.2f (goal >= 0.8) in %.1f s\n",
      kSlowSites, slowRun.Found, 2 * kSlowSites, slowRun.Found / (2.0 * kSlowSites),
      slowRun.Seconds);
  slow.clear();

  if (FindHeadlessBrowser().empty()) {
    std::printf("script-written pages: chromium-headless-shell is not installed, not measured\n");
    return;
  }
  // Script-written contacts, each site's home page writing them in one of four ways.
  std::string scriptedList;
  for (int k = 0; k < kScriptedSites; ++k) {
    const int s = kErrorHomeSites + k;
    const std::string email = Email("js", s);
    const std::string at = email.substr(0, email.find('@'));
    const std::string domain = email.substr(email.find('@') + 1);
    // Both contacts are written by the script: the static page holds neither whole.
    const std::string mobile = Mobile(2000, s).substr(0, 5) + "'+'" + Mobile(2000, s).substr(5);
    std::string script;
    switch (k % 4) {
      case 0:
        script = "document.getElementById('app').textContent='" + at +
                 "'+String.fromCharCode(64)+'" + domain + " " + mobile + "';";
        break;
      case 1:
        script =
            "document.write('<p>'+'" + at + "'+'&#64;'+'" + domain + "</p><p>" + mobile + "</p>');";
        break;
      case 2:
        script = "var p=document.createElement('p');p.textContent=['" + domain + "','" + at +
                 "'].reverse().join('@')+' '+'" + mobile + "';document.body.appendChild(p);";
        break;
      default:
        script = "document.getElementById('app').innerHTML='<a href=\"mail'+'to:" + at + "'+'@'+'" +
                 domain + "\">mail</a> " + mobile + "';";
        break;
    }
    write(s, "index.html",
          "<html><head><title>Shop</title></head><body><div id=\"app\"></div><script>" + script +
              "</script></body></html>");
    scriptedList += url(s, "") + "\r\n";
  }
  TRenderCount scriptedRenders;
  const TRun scripted = Harvest(scriptedList, dir, "scripted", &scriptedRenders, 1);
  std::printf(
      "script-written pages: %d sites, contacts found / planted %d / %d: recall %.2f "
      "(goal >= 0.8), %d pages rendered in %.1f s\n",
      kScriptedSites, scripted.Found, 2 * kScriptedSites, scripted.Found / (2.0 * kScriptedSites),
      scriptedRenders.Renders.load(), scripted.Seconds);

  // An ordinary mix: static contacts on most pages, a counter script on many, and one page
  // in twenty without contacts whose counter writes with document.write.
  std::string mixList;
  int mixPages = 0;
  for (int k = 0; k < kMixSites; ++k) {
    const int s = kErrorHomeSites + kScriptedSites + k;
    std::string home = "<p>welcome</p>";
    for (int p = 0; p < kMixPagesPerSite; ++p) {
      const std::string name = "p" + std::to_string(p) + ".html";
      const bool quiet = p % 20 == 7;
      std::string page = "<html><body><h1>Products " + std::to_string(p) + "</h1><p>" +
                         std::string(600, 'x') + "</p>";
      if (!quiet) page += "<p>" + Email("m" + std::to_string(p) + "x", s) + "</p>";
      if (p % 3 == 0 || quiet) {
        page += "<script>document.write('<img src=/c.gif?r='+Math.random()+'>');</script>";
      }
      write(s, name, page + "</body></html>");
      mixList += url(s, name) + "\r\n";
      ++mixPages;
    }
  }
  TRenderCount mixRenders;
  const TRun mix = Harvest(mixList, dir, "mix", &mixRenders, 0);
  const int rendered = mixRenders.Renders.load();
  std::printf(
      "ordinary mix: %d pages on %d sites, %d rendered: %.1f%% of pages (goal <= 5%%); "
      "%d rows in %.1f s\n",
      mixPages, kMixSites, rendered, 100.0 * rendered / mixPages, mix.Found, mix.Seconds);
  const int renders = scriptedRenders.Renders.load() + rendered;
  if (renders > 0) {
    std::printf(
        "cost per rendered page: %.0f ms in the browser on average (%d renders, two at "
        "once at most)\n",
        static_cast<double>(scriptedRenders.Milliseconds.load() + mixRenders.Milliseconds.load()) /
            renders,
        renders);
  }
}

}  // namespace qm::bench
