#include "crawl/contact_page_rank.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(RankContactPage, Table) {
  using enum TContactPageRank;
  struct Row {
    const char* text;
    const char* address;
    TContactPageRank rank;
  };
  const Row rows[] = {
      {"联系我们", "http://h/page?id=7", Contact},
      {"聯絡我們", "http://h/p7.html", Contact},
      {"在线客服", "http://h/p8.html", Contact},
      {"Contact Us", "http://h/p1.html", Contact},
      {"KONTAKT", "http://h/p2.html", Contact},
      {"Impressum", "http://h/p3.html", Contact},
      {"", "http://h/Contact-Us.aspx", Contact},
      {"", "http://h/index.php?m=lianxi", Contact},
      {"", "http://h/%E8%81%94%E7%B3%BB.html", Contact},
      {"关于我们", "http://h/p4.html", About},
      {"Our team", "http://h/p5.html", About},
      {"", "http://h/about/", About},
      // Contact wins over about when a link says both.
      {"关于我们 联系方式", "http://h/about.html", Contact},
      {"新闻中心", "http://h/news/", Other},
      {"Products", "http://h/products.html", Other},
      // The host is the same for every link of a site and says nothing.
      {"Home", "http://contact.example.com/", Other},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RankContactPage(row.text, row.address), row.rank) << row.text << " " << row.address;
  }
}

}  // namespace
}  // namespace qm
