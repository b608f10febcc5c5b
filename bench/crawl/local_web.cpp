#include "local_web.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>

namespace qm::bench {
namespace {

namespace fs = std::filesystem;

const char* const kChineseText[] = {
    "本公司成立于二〇〇六年，专业从事工业自动化设备的研发、生产与销售。",
    "产品广泛应用于电子、汽车、食品包装等行业，远销欧美及东南亚地区。",
    "公司秉承“质量第一、客户至上”的经营理念，竭诚为新老客户提供优质服务。",
    "欢迎各界朋友莅临参观、洽谈业务，共创美好未来。",
    "近日，我公司顺利通过ISO9001质量管理体系年度监督审核。",
    "新产品发布会将于下月在上海国际会展中心举行，敬请关注。",
    "<span class=\"date\">发布时间：2024-06-12 10:30</span>",
    "<div class=\"crumb\">当前位置：首页 &gt; 新闻中心</div>"};
const char* const kEnglishText[] = {
    "Founded in 2006, we design and build automation equipment for factories.",
    "Our products serve electronics, automotive and food packaging plants worldwide.",
    "Quality first and the customer foremost: that is how we have grown.",
    "Visitors are welcome at our works; please make an appointment.",
    "We passed the yearly surveillance audit of our ISO 9001 quality system.",
    "Our new product line will be shown at the trade fair next month.",
    "<span class=\"date\">Posted 2024-06-12 10:30</span>",
    "<div class=\"crumb\">You are here: Home &gt; News</div>"};
const char* const kMobilePrefixes[] = {"138", "139", "186", "158", "177", "135",
                                       "189", "150", "199", "131", "152", "183"};
const char* const kDomainForms[] = {"firm%.com.cn", "hx-tech%.com", "zhongda%.cn",
                                    "greenleaf%.net"};

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

// Bytes that no text scanner reads: a NUL early on, as in real images and documents.
std::string BinaryFile(const std::string& magic, std::mt19937& random) {
  std::string bytes = magic + std::string(4, '\0');
  while (bytes.size() < 3000) bytes.push_back(static_cast<char>(random()));
  return bytes;
}

class SiteWriter {
 public:
  SiteWriter(LocalWeb& web, const fs::path& root, int index, int siteCount, std::mt19937& random,
             std::set<std::string>& used)
      : web_(web), random_(random), used_(used), index_(index) {
    host_ = web.Hosts[static_cast<size_t>(index)];
    origin_ = "http://" + host_ + ":" + std::to_string(web.Port);
    otherOrigin_ = "http://" + web.Hosts[static_cast<size_t>((index + 1) % siteCount)] + ":" +
                   std::to_string(web.Port);
    dir_ = root / host_;
    folder_ = index % 5 == 4 ? "cn/" : "";
    domain_ = Replaced(kDomainForms[index % 4], "%", std::to_string(index));
    english_ = index % 3 == 2;
    company_ = english_ ? "Greenleaf Machinery No. " + std::to_string(index) + " Ltd."
                        : "华信自动化设备" + std::to_string(index) + "号有限公司";
    contactPage_ = std::vector<std::string>{"contact.html", "lianxi.html", "contact-us/",
                                            "about/contact.html"}[index % 4];
    aboutPage_ = std::vector<std::string>{"about.html", "about/", "guanyu.html"}[index % 3];
    news_ = 3 + (index * 7) % 31;
    products_ = 2 + index % 4;
    newsByQuery_ = index % 2 == 1;
    footerEmail_ = Plant("email", "service@" + domain_, true);
    footerMobile_ = Plant("mobile", Mobile(), true);
  }

  void Write() {
    Page("index.html", HomePage());
    Page(folder_ + FileOf(contactPage_), ContactPage());
    Page(folder_ + FileOf(aboutPage_), AboutPage());
    if (newsByQuery_) {
      Page(folder_ + "news.html", NewsPage(0));
    } else {
      for (int k = 1; k <= news_; ++k)
        Page(folder_ + "news/" + std::to_string(k) + ".html", NewsPage(k));
    }
    for (int k = 1; k <= products_; ++k) {
      Page(folder_ + "products/p" + std::to_string(k) + ".html", ProductPage(k));
      WriteBytes(dir_ / ("images/p" + std::to_string(k) + ".jpg"),
                 BinaryFile("\xff\xd8\xff\xe0", random_));
    }
    web_.HtmlPages += 3 + news_ + products_;
    Page("admin/index.html", Head("后台管理") + "<p>系统管理员：webmaster" +
                                 std::to_string(index_) + "@" + domain_ + "，手机 " + Unplanted() +
                                 "</p>\n" + Footer());
    Page("partner.html", Head("合作伙伴") + "<p>合作伙伴联系人：partner" + std::to_string(index_) +
                             "@" + domain_ + "，电话 " + Unplanted() + "</p>\n" + Footer());
    WriteBytes(dir_ / "robots.txt", "User-agent: *\nDisallow: /admin/\n");
    WriteBytes(dir_ / "style.css", "body { font-family: sans-serif; }\n.footer { color: #666; }\n");
    for (const char* image : {"images/logo@2x.png", "images/qq.gif", "images/contact.png"})
      WriteBytes(dir_ / image, BinaryFile("\x89PNG\r\n\x1a\n", random_));
    WriteBytes(dir_ / "files/brochure.pdf", BinaryFile("%PDF-1.4\n%", random_));
  }

 private:
  static std::string FileOf(const std::string& page) {
    return page.back() == '/' ? page + "index.html" : page;
  }
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  std::string Digits(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + Pick(10)));
    return text;
  }
  std::string Unique(const std::function<std::string()>& make) {
    for (;;) {
      std::string value = make();
      if (used_.insert(value).second) return value;
    }
  }
  std::string Mobile() {
    return Unique([this] { return kMobilePrefixes[Pick(12)] + Digits(8); });
  }
  std::string QQ() {
    return Unique([this] { return std::to_string(1 + Pick(9)) + Digits(5 + Pick(5)); });
  }
  std::string Unplanted() { return Mobile(); }
  std::string Plant(const std::string& kind, const std::string& value, bool inFooter,
                    bool beyondPlain = false) {
    web_.Planted.insert(kind + "\t" + value);
    if (inFooter) ++web_.PlantedInFooters;
    if (beyondPlain) ++web_.PlantedBeyondPlain;
    return value;
  }

  void Page(const std::string& name, const std::string& html) { WriteBytes(dir_ / name, html); }

  std::string Head(const std::string& title, const std::string& extra = "") {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>" + title + " - " +
           company_ + "</title>\n" + extra +
           "<link rel=\"stylesheet\" href=\"/style.css\">\n</head><body>\n";
  }
  std::string Filler(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
      text += "<p>";
      for (int w = 0; w < 3; ++w) text += english_ ? kEnglishText[Pick(8)] : kChineseText[Pick(8)];
      text += "</p>\n";
    }
    return text;
  }
  std::string Footer() {
    const std::string about = english_ ? "About Us" : "关于我们";
    const std::string contact = english_ ? "Contact" : "联系我们";
    std::string html = "<div class=\"footer\">\n<p><a href=\"/" + folder_ + aboutPage_ + "\">" +
                       about + "</a> | <a href=\"/" + folder_ + contactPage_ + "\">" + contact +
                       "</a></p>\n";
    if (english_) {
      html += "<p>Copyright &copy; 2024 " + company_ + " ICP " + icp_ + "</p>\n<p>Tel: +86-10-" +
              landline_ + " Mobile: " + footerMobile_ + "</p>\n<p>Email: " + footerEmail_ +
              "</p>\n";
    } else {
      html += "<p>" + company_ + " 版权所有 &copy; 2024 京ICP备" + icp_ +
              "号-1</p>\n<p>电话：010-" + landline_ + " 手机：" + footerMobile_ +
              "</p>\n<p>邮箱：" + footerEmail_ + "</p>\n";
    }
    return html + "</div>\n</body></html>\n";
  }

  // A link from the home page, written relatively, from the root or absolutely by turns.
  std::string Href(const std::string& page) {
    switch (linkForm_++ % 3) {
      case 0:
        return page;
      case 1:
        return "/" + folder_ + page;
      default:
        return origin_ + "/" + folder_ + page;
    }
  }
  std::string NewsHref(int k) {
    return newsByQuery_ ? "news.html?id=" + std::to_string(k) + "&amp;cat=2"
                        : "news/" + std::to_string(k) + ".html";
  }

  std::string HomePage() {
    const std::string base = folder_.empty() ? "" : "<base href=\"/" + folder_ + "\">\n";
    std::string html = Head(english_ ? "Home" : "首页", base);
    html += "<a name=\"top\"></a><img src=\"/images/logo@2x.png\" alt=\"logo\">\n";
    std::string contactLink = "<a href=\"" + Href(contactPage_) + "\">";
    contactLink += index_ % 4 == 3 ? "<img src=\"/images/contact.png\" alt=\"联系方式\">"
                                   : (english_ ? "Contact" : "联系我们");
    contactLink += "</a>";
    const std::string aboutLink =
        "<a href=\"" + Href(aboutPage_) + "\">" + (english_ ? "About" : "关于我们") + "</a>";
    // Half the home pages name the contact page only after all their news.
    const bool navigationFirst = index_ % 2 == 0;
    html += "<div class=\"nav\"><a href=\"/\">" + std::string(english_ ? "Home" : "首页") +
            "</a> | <a href=\"/index.html\">" + (english_ ? "Index" : "网站首页") + "</a> | " +
            aboutLink + (navigationFirst ? " | " + contactLink : "") + " | <a href=\"/admin/\">" +
            (english_ ? "Admin" : "后台登录") + "</a></div>\n";
    html += Filler(4);
    html += "<ul class=\"news\">\n";
    for (int k = 1; k <= news_; ++k) {
      html += "<li><a href=\"" + NewsHref(k) + "\">" + (english_ ? "News item " : "公司新闻 ") +
              std::to_string(k) + "</a> 2024-0" + std::to_string(1 + k % 9) + "-1" +
              std::to_string(k % 10) + "</li>\n";
    }
    html += "</ul>\n<div class=\"products\">\n";
    for (int k = 1; k <= products_; ++k) {
      html += "<a href=\"" + Href("products/p" + std::to_string(k) + ".html") +
              "\"><img src=\"/images/p" + std::to_string(k) + ".jpg\" alt=\"" +
              (english_ ? "Product " : "产品 ") + std::to_string(k) + "\"></a>\n";
    }
    html += "</div>\n<p><a href=\"/images/p1.jpg\">" +
            std::string(english_ ? "Large picture" : "查看大图") +
            "</a> <a href=\"/files/brochure.pdf\">" + (english_ ? "Brochure" : "产品手册下载") +
            "</a> <a href=\"" + otherOrigin_ + "/partner.html\">" +
            (english_ ? "Partners" : "合作伙伴") + "</a> <a href=\"#top\">" +
            (english_ ? "Top" : "返回顶部") + "</a> <a href=\"javascript:void(0)\">" +
            (english_ ? "Bookmark" : "收藏本站") + "</a> <a href=\"mailto:" + footerEmail_ + "\">" +
            footerEmail_ + "</a></p>\n";
    if (!navigationFirst) html += "<p>" + contactLink + "</p>\n";
    return html + Footer();
  }

  std::string ContactPage() {
    std::string html = Head(english_ ? "Contact" : "联系我们");
    html += english_ ? "<h1>Contact us</h1>\n" : "<h1>联系我们</h1>\n";
    html += Filler(2);
    std::string sales = Plant("email", "sales@" + domain_, false);
    if (english_) sales[0] = 'S';  // as pages write it; the harvester lists it in lower case
    const std::string hr = Plant("email", "hr@" + domain_, false);
    const std::string mobile = Plant("mobile", Mobile(), false);
    const std::string hotline = Plant("mobile", Mobile(), false);
    const std::string qq = Plant("qq", QQ(), false);
    const std::string chat = Plant("qq", QQ(), false);
    html += "<p>" + std::string(english_ ? "Address: No. " : "公司地址：北京市海淀区中关村大街") +
            std::to_string(index_ + 1) + (english_ ? " Zhongguancun Street, Beijing" : "号") +
            "</p>\n";
    html += "<p>" + std::string(english_ ? "Sales: " : "销售邮箱：") + sales + "</p>\n";
    html += "<p>" + std::string(english_ ? "Jobs: " : "招聘邮箱：") + "<a href=\"mailto:" + hr +
            "\">" + hr + "</a></p>\n";
    html += "<p>" + std::string(english_ ? "Mobile: " : "手机：") + mobile + "</p>\n";
    html += "<p>" + std::string(english_ ? "Hotline: " : "销售热线：") + hotline +
            (english_ ? " (WeChat too)" : "（微信同号）") + "</p>\n";
    html += "<p>" + std::string(english_ ? "QQ: " : "客服QQ：") + qq + "</p>\n";
    html += "<p>" + std::string(english_ ? "Chat: " : "在线咨询：") +
            "<a href=\"tencent://message/?uin=" + chat + "&amp;Site=" + domain_ +
            "&amp;Menu=yes\"><img src=\"/images/qq.gif\" alt=\"" +
            (english_ ? "Send me a message" : "点击这里给我发消息") + "\"></a></p>\n";
    // Three contacts per site in forms that only a reader of the page's own spelling finds.
    for (int k = 0; k < 3; ++k) html += BeyondPlainContact((index_ + k) % 5);
    html += Filler(2);
    return html + Footer();
  }

  std::string BeyondPlainContact(int form) {
    switch (form) {
      case 0:
        Plant("email", "market@" + domain_, false, true);
        return "<p>市场合作：market&#64;" + domain_ + "</p>\n";
      case 1:
        Plant("email", "support@" + domain_, false, true);
        return "<p>Email: support [at] " + Replaced(domain_, ".", " [dot] ") + "</p>\n";
      case 2:
        Plant("email", "kefu@" + domain_, false, true);
        return "<p>客服邮箱：kefu＠" + domain_ + "</p>\n";
      case 3: {
        const std::string m = Plant("mobile", Mobile(), false, true);
        return "<p>客服电话：" + m.substr(0, 3) + "-" + m.substr(3, 4) + "-" + m.substr(7) +
               "</p>\n";
      }
      default: {
        const std::string m = Plant("mobile", Mobile(), false, true);
        return "<p>Tel: +86 " + m.substr(0, 3) + " " + m.substr(3, 4) + " " + m.substr(7) +
               "</p>\n";
      }
    }
  }

  std::string AboutPage() {
    std::string html = Head(english_ ? "About us" : "关于我们");
    html += english_ ? "<h1>About us</h1>\n" : "<h1>公司简介</h1>\n";
    html += Filler(6);
    html += "<p>" + std::string(english_ ? "Careers: " : "人才招聘：") +
            Plant("email", "jobs@" + domain_, false) +
            (english_ ? ", please name the post you apply for." : "，简历请注明应聘职位。") +
            "</p>\n";
    html += "<p>" + std::string(english_ ? "Investor relations: " : "投资者热线：") + "+86 " +
            Plant("mobile", Mobile(), false) + "</p>\n";
    return html + Footer();
  }

  // News and product pages hold no planted contact, only numbers and names that look like
  // one: order numbers, read counts, prices, model numbers, pictures for sharp screens.
  std::string NewsPage(int k) {
    std::string html = Head((english_ ? "News " : "新闻 ") + std::to_string(k));
    html += Filler(5);
    html += "<p>" + std::string(english_ ? "Order no. " : "订单号：") + "3" + Digits(15) + "</p>\n";
    html += "<p>" + std::string(english_ ? "Read " : "阅读次数：") +
            std::to_string(10000 + Pick(89999)) +
            "</p>\n<img src=\"/images/photo@2x.jpg\" alt=\"\">\n";
    html += Filler(4);
    return html + Footer();
  }
  std::string ProductPage(int k) {
    std::string html = Head((english_ ? "Product " : "产品 ") + std::to_string(k));
    html += Filler(3);
    html += "<p>" + std::string(english_ ? "Model QM-" : "型号：QM-") + Digits(5) + "</p>\n<p>" +
            (english_ ? "Price: CNY " : "价格：￥") + std::to_string(10000 + Pick(90000)) +
            (english_ ? "" : "元") + "</p>\n";
    html += Filler(3);
    return html + Footer();
  }

  LocalWeb& web_;
  std::mt19937& random_;
  std::set<std::string>& used_;
  const int index_;
  std::string host_, origin_, otherOrigin_, folder_, domain_, company_;
  fs::path dir_;
  bool english_ = false;
  std::string contactPage_, aboutPage_;
  int news_ = 0, products_ = 0;
  bool newsByQuery_ = false;
  std::string icp_ = Digits(8), landline_ = Digits(8);
  std::string footerEmail_, footerMobile_;
  int linkForm_ = 0;
};

}  // namespace

std::string LocalWeb::HomeAddress(size_t site) const {
  return "http://" + Hosts[site] + ":" + std::to_string(Port) + "/";
}

std::vector<std::string> SiteHosts(int sites) {
  std::vector<std::string> hosts;
  for (int i = 0; i < sites; ++i) hosts.push_back("127.0.0." + std::to_string(i + 2));
  return hosts;
}

LocalWeb WriteLocalWeb(const fs::path& root, const std::vector<std::string>& hosts, int port) {
  LocalWeb web;
  web.Port = port;
  web.Hosts = hosts;
  std::mt19937 random(17);
  std::set<std::string> used;
  const int sites = static_cast<int>(hosts.size());
  for (int i = 0; i < sites; ++i) SiteWriter(web, root, i, sites, random, used).Write();
  return web;
}

int PortFreeOnEveryHost(const std::vector<std::string>& hosts) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::vector<int> sockets;
    int port = 0;
    bool free = true;
    for (const std::string& host : hosts) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
      if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) ::close(fd);
        free = false;
        break;
      }
      sockets.push_back(fd);
      if (port == 0) {
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
      }
    }
    for (const int fd : sockets) ::close(fd);
    if (free && port != 0) return port;
  }
  return 0;
}

std::string MultiSiteDirectives(const LocalWeb& web, const fs::path& root,
                                const fs::path& logFolder) {
  std::string directives;
  for (const std::string& host : web.Hosts)
    directives += "listen " + host + ":" + std::to_string(web.Port) + ";\n    ";
  directives += "access_log " + (logFolder / "$server_addr.log").string() + ";\n    ";
  directives += "location / { root " + (root / "$server_addr").string() + "; charset utf-8; }";
  return directives;
}

}  // namespace qm::bench
