#include "company_text.h"

#include <string_view>

namespace qm::bench {
namespace {

int Pick(std::mt19937& rng, int n) {
  return static_cast<int>(rng() % static_cast<uint32_t>(n));
}

template <size_t N>
std::string_view OneOf(std::mt19937& rng, const std::string_view (&items)[N]) {
  return items[Pick(rng, static_cast<int>(N))];
}

constexpr std::string_view kWords[] = {
    "公司", "成立于", "专业",   "生产",     "销售",   "产品",   "质量", "服务", "客户",
    "技术", "研发",   "设备",   "工程",     "管理",   "体系",   "认证", "行业", "领先",
    "企业", "发展",   "市场",   "国内外",   "先进",   "自动化", "精密", "机械", "电子",
    "材料", "环保",   "节能",   "广泛",     "应用",   "于",     "及",   "和",   "的",
    "我们", "始终",   "坚持",   "以人为本", "诚信",   "经营",   "创新", "合作", "共赢",
    "拥有", "一支",   "高素质", "团队",     "多年",   "经验",   "主要", "包括", "系列",
    "欢迎", "新老",   "朋友",   "来电",     "洽谈",   "业务",   "价格", "优惠", "交货",
    "及时", "售后",   "完善",   "厂房",     "面积",   "平方米", "员工", "余人", "年产值",
    "万元", "省",     "市",     "区",       "工业园", "现代化", "标准", "检测", "仪器"};

constexpr std::string_view kPunctuation[] = {"，", "，", "，", "、", "；", "："};

// Prose of `words` words with full-width punctuation and now and then a figure or a
// parenthesis, as Chinese pages write them.
void Prose(std::mt19937& rng, std::string& out, int words) {
  for (int i = 0; i < words; ++i) {
    out += OneOf(rng, kWords);
    const int r = Pick(rng, 40);
    if (r < 6) {
      out += OneOf(rng, kPunctuation);
    } else if (r == 6) {
      out += "（" + std::string(OneOf(rng, kWords)) + std::string(OneOf(rng, kWords)) + "）";
    } else if (r == 7) {
      out += std::to_string(Pick(rng, 3000)) + std::string(Pick(rng, 2) ? "台" : "吨");
    } else if (r == 8) {
      out += "“" + std::string(OneOf(rng, kWords)) + "”";
    } else if (r == 9) {
      out += "ISO9001";
    }
  }
  out += Pick(rng, 5) == 0 ? "！" : "。";
}

std::string Date(std::mt19937& rng) {
  const int month = 1 + Pick(rng, 12), day = 1 + Pick(rng, 28);
  return std::to_string(2015 + Pick(rng, 10)) + (month < 10 ? "-0" : "-") + std::to_string(month) +
         (day < 10 ? "-0" : "-") + std::to_string(day);
}

std::string Digits(std::mt19937& rng, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += static_cast<char>('0' + Pick(rng, 10));
  return text;
}

}  // namespace

std::string CompanyPageHead(std::mt19937& rng) {
  std::string head =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
      "<title>";
  Prose(rng, head, 3);
  head +=
      "-官方网站</title>\n<meta name=\"keywords\" content=\"精密机械,自动化设备,环保材料\" />\n"
      "<meta name=\"description\" content=\"";
  Prose(rng, head, 12);
  head +=
      "\" />\n"
      "<link href=\"/skin/css/style.css?v=" +
      Digits(rng, 6) +
      "\" rel=\"stylesheet\" type=\"text/css\" />\n"
      "<script type=\"text/javascript\" src=\"/skin/js/jquery-1.8.3.min.js\"></script>\n"
      "<script>var _hmt = _hmt || [];(function() {var hm = document.createElement(\"script\");"
      "hm.src = \"https://hm.example.com/hm.js?" +
      Digits(rng, 16) +
      "\";var s = document.getElementsByTagName(\"script\")[0];"
      "s.parentNode.insertBefore(hm, s);})();</script>\n"
      "</head>\n<body>\n<div class=\"top\"><div class=\"logo\"><img src=\"/skin/images/logo.png\" "
      "alt=\"\" /></div>\n"
      "<ul class=\"nav\"><li><a href=\"/\">网站首页</a></li><li><a href=\"/about/\">关于我们</a>"
      "</li><li><a href=\"/product/\">产品中心</a></li><li><a href=\"/news/\">新闻动态</a></li>"
      "<li><a href=\"/contact/\">联系我们</a></li></ul></div>\n";
  return head;
}

void CompanyLine(std::mt19937& rng, std::string& out) {
  const int kind = Pick(rng, 100);
  if (kind < 45) {
    out += "<p>&nbsp;&nbsp;&nbsp;&nbsp;";
    Prose(rng, out, 8 + Pick(rng, 60));
    out += "</p>";
  } else if (kind < 62) {
    out += "    ";
    Prose(rng, out, 4 + Pick(rng, 30));
  } else if (kind < 68) {
    out += "<li><a href=\"/news/" + std::to_string(100 + Pick(rng, 900)) + ".html\" title=\"";
    std::string title;
    Prose(rng, title, 3 + Pick(rng, 6));
    out += title + "\">" + title + "</a><span>" + Date(rng) + "</span></li>";
  } else if (kind < 74) {
    out += "<tr><td>" + std::string(OneOf(rng, kWords)) + std::string(OneOf(rng, kWords)) +
           "</td><td>QM-" + std::to_string(100 + Pick(rng, 9000)) + "</td><td>￥" +
           std::to_string(Pick(rng, 20000)) + ".00</td><td>" + std::to_string(1 + Pick(rng, 500)) +
           "件</td></tr>";
  } else if (kind < 77) {
    out += "<div class=\"pic\"><img src=\"/uploads/allimg/" + Digits(rng, 6) + "/" +
           Digits(rng, 4) + "-1" + Digits(rng, 8) + ".jpg\" alt=\"";
    Prose(rng, out, 2);
    out += "\" width=\"220\" height=\"165\" /></div>";
  } else if (kind < 84) {
    out += "<div class=\"footer\">地址：" + std::string(OneOf(rng, kWords)) + "省" +
           std::string(OneOf(rng, kWords)) + "市" + std::string(OneOf(rng, kWords)) + "路" +
           std::to_string(1 + Pick(rng, 999)) + "号&nbsp;&nbsp;电话：0" +
           std::to_string(10 + Pick(rng, 900)) + "-" + Digits(rng, 8) + "&nbsp;&nbsp;传真：0" +
           std::to_string(10 + Pick(rng, 900)) + "-" + Digits(rng, 8) + "</div>";
  } else if (kind < 88) {
    out += "<p>版权所有 &copy; 2008-2024 " + std::string(OneOf(rng, kWords)) +
           "有限公司&nbsp;<a href=\"https://beian.example.cn/\" target=\"_blank\">浙ICP备" +
           Digits(rng, 8) + "号-1</a></p>";
  } else if (kind < 93) {
    out += "<div class=\"item\"><h3>" + std::string(OneOf(rng, kWords)) +
           std::string(OneOf(rng, kWords)) + "</h3><p>发布时间：" + Date(rng) + " " +
           std::to_string(10 + Pick(rng, 13)) + ":" + std::to_string(10 + Pick(rng, 50)) +
           "&nbsp;&nbsp;浏览次数：" + std::to_string(Pick(rng, 5000)) + "</p></div>";
  } else {
    static constexpr std::string_view kMarkup[] = {
        "</div>",
        "<div class=\"clear\"></div>",
        "</ul>",
        "<div class=\"main\">",
        "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\">",
        "</table>",
        "<script type=\"text/javascript\">$(function(){$(\".nav li\").hover(function(){$(this)."
        "addClass(\"on\");});});</script>"};
    out += OneOf(rng, kMarkup);
  }
}

}  // namespace qm::bench
