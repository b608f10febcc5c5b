#include "one_host_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>

namespace qm::bench {
namespace {

namespace fs = std::filesystem;

constexpr size_t kPageBytes = 8000;
// Answered by nginx itself, so a million lines cost no file reads.
constexpr const char* kTinyPage =
    "<html><body><p>Tiny page. Contact: tiny@numbered-site.cn</p></body></html>";

const char* const kSentences[] = {
    "本公司专业从事工业自动化设备的研发、生产与销售，产品远销欧美及东南亚地区。",
    "欢迎各界朋友莅临参观、洽谈业务，共创美好未来。",
    "Our products serve electronics, automotive and food packaging plants worldwide.",
    "Visitors are welcome at our works; please make an appointment.",
    "<span class=\"date\">发布时间：2024-06-12 10:30</span>",
    "新产品发布会将于下月在上海国际会展中心举行，敬请关注。"};

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string PageAddress(int number) {
  return "/page/" + std::to_string(number) + ".html";
}

// Links spread over the whole site, so following them reaches pages no list names as well as
// pages listed on other lines.
std::string NumberedPage(int number, int pages, bool linksContactPage) {
  std::mt19937 random(static_cast<unsigned>(number) + 1);
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>第" +
                     std::to_string(number) + "页</title>\n</head><body>\n<div class=\"nav\">";
  for (int k = 1; k <= kLinksPerPage; ++k) {
    int target = 1 + static_cast<int>((static_cast<long>(number) * 7919 + k * 1009L) % pages);
    if (target == number) target = target % pages + 1;
    html += "<a href=\"" + PageAddress(target) + "\">第" + std::to_string(target) + "页</a> ";
  }
  if (linksContactPage) html += "<a href=\"/contact.html\">联系我们</a>";
  html += "</div>\n";
  const std::string mobile = "13" + std::to_string(800000000 + number);
  const std::string qq = std::to_string(20000000 + number);
  int paragraph = 0;
  while (html.size() < kPageBytes) {
    html += "<p>";
    for (int i = 0; i < 3; ++i) html += kSentences[random() % std::size(kSentences)];
    switch (paragraph++) {
      case 3:
        html += " 邮箱：staff" + std::to_string(number) + "@numbered-site.cn";
        break;
      case 7:
        html += " 手机：" + mobile;
        break;
      case 11:
        html += " 客服QQ：" + qq;
        break;
      default:
        break;
    }
    html += "</p>\n";
  }
  return html + "<div class=\"footer\">邮箱：service@numbered-site.cn</div>\n</body></html>\n";
}

void WriteList(const fs::path& path, long lines, const std::function<std::string(long)>& line) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string buffer;
  for (long i = 0; i < lines; ++i) {
    buffer += line(i);
    buffer += "\r\n";
    if (buffer.size() > (1 << 16)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

size_t TinyPageBytes() {
  return std::char_traits<char>::length(kTinyPage);
}

NumberedSite WriteNumberedSite(const fs::path& root, int pages, int port) {
  NumberedSite site;
  site.Port = port;
  site.Pages = pages;
  for (int number = 1; number <= pages; ++number) {
    const bool contact = number % 4 == 0;
    const std::string html = NumberedPage(number, pages, contact);
    WriteBytes(root / "page" / (std::to_string(number) + ".html"), html);
    site.PageBytes += static_cast<long>(html.size());
    if (contact) ++site.ContactLinks;
  }
  WriteBytes(root / "index.html", NumberedPage(0, pages, true));
  WriteBytes(root / "contact.html",
             "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>联系我们</title></head>"
             "<body>\n<p>销售邮箱：sales@numbered-site.cn</p>\n<p>手机：13912345678</p>\n"
             "<p>客服QQ：12345678</p>\n</body></html>\n");
  WriteBytes(root / "robots.txt", "User-agent: *\nDisallow: /private/\n");
  return site;
}

int PortFreeOnAllAddresses() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  int port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string NumberedSiteDirectives(const NumberedSite& site, const fs::path& root,
                                   const fs::path& accessLog) {
  // A listen without an address takes the whole of 127.0.0.0/8 on one socket; the rest of
  // the network is turned away.
  std::string directives = "listen " + std::to_string(site.Port) + ";\n    ";
  directives += "allow 127.0.0.0/8;\n    deny all;\n    ";
  directives += "access_log " + accessLog.string() + ";\n    ";
  directives += "location / { root " + root.string() + "; charset utf-8; }\n    ";
  directives += "location ^~ /tiny { default_type text/html; return 200 \"" +
                std::string(kTinyPage) + "\"; }";
  return directives;
}

std::string LoopbackAddress(long index) {
  return "127." + std::to_string(1 + index / 65536) + "." + std::to_string(index / 256 % 256) +
         "." + std::to_string(index % 256);
}

void WriteOneHostList(const fs::path& path, const NumberedSite& site, long lines) {
  const std::string origin = "http://127.0.0.1:" + std::to_string(site.Port);
  WriteList(path, lines, [&](long i) { return origin + PageAddress(static_cast<int>(i + 1)); });
}

void WriteDistinctHostList(const fs::path& path, const NumberedSite& site, long lines) {
  const std::string port = ":" + std::to_string(site.Port) + "/";
  WriteList(path, lines, [&](long i) { return "http://" + LoopbackAddress(i) + port; });
}

void WriteTinyPageList(const fs::path& path, const NumberedSite& site, long lines,
                       bool distinctHosts) {
  const std::string port = ":" + std::to_string(site.Port);
  if (distinctHosts) {
    WriteList(path, lines,
              [&](long i) { return "http://" + LoopbackAddress(i) + port + "/tiny.html"; });
  } else {
    WriteList(path, lines, [&](long i) {
      return "http://127.0.0.1" + port + "/tiny/" + std::to_string(i + 1) + ".html";
    });
  }
}

}  // namespace qm::bench
