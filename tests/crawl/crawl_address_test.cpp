#include "crawl/crawl_address.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(NormaliseCrawlAddress, Table) {
  struct Row {
    const char* address;
    const char* normalised;  // nullptr: not an address the crawl fetches
  };
  const Row rows[] = {
      {"HTTP://Example.COM/A/b.html", "http://example.com/A/b.html"},
      {"http://example.com:80/x", "http://example.com/x"},
      {"https://example.com:443/x", "https://example.com/x"},
      {"http://example.com:443/x", "http://example.com:443/x"},
      {"https://example.com:8443", "https://example.com:8443/"},
      {"http://example.com:/x", "http://example.com/x"},
      {"http://example.com", "http://example.com/"},
      {"http://example.com/a?b=C#part", "http://example.com/a?b=C"},
      {"http://example.com/#top", "http://example.com/"},
      {"http://User:Pw@Example.com/", "http://User:Pw@example.com/"},
      {"http://[::1]:80/x", "http://[::1]/x"},
      {"http://[::1]:8080/x", "http://[::1]:8080/x"},
      // What a request line cannot carry is sent percent-encoded; "%" stays as written.
      {"http://example.com/联系 我们.html?q=a b",
       "http://example.com/%E8%81%94%E7%B3%BB%20%E6%88%91%E4%BB%AC.html?q=a%20b"},
      {"http://example.com/a%2Fb", "http://example.com/a%2Fb"},
      {"mailto:a@example.com", nullptr},
      {"javascript:void(0)", nullptr},
      {"ftp://example.com/file", nullptr},
      {"http:///path", nullptr},
      {"/relative/path", nullptr},
      {"http://中文.com/", nullptr},
      {"http://exa mple.com/", nullptr},
      {"http://example.com:8o/", nullptr},
      {"http://[::1/", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    const std::optional<std::string> normalised = NormaliseCrawlAddress(row.address);
    if (row.normalised == nullptr) {
      EXPECT_FALSE(normalised.has_value()) << *normalised;
    } else {
      EXPECT_EQ(normalised.value_or("(none)"), row.normalised);
      // The crawl asks about normalised addresses without normalising them again.
      EXPECT_EQ(NormaliseCrawlAddress(row.normalised).value_or("(none)"), row.normalised);
    }
  }
}

TEST(WithDefaultScheme, ListLinesWithoutSchemeAreHttp) {
  EXPECT_EQ(WithDefaultScheme("www.example.com/a"), "http://www.example.com/a");
  EXPECT_EQ(WithDefaultScheme("example.com/go?u=http://other/"),
            "http://example.com/go?u=http://other/");
  EXPECT_EQ(WithDefaultScheme("https://example.com"), "https://example.com");
}

TEST(IsObviouslyNotText, Table) {
  struct Row {
    const char* address;
    bool notText;
  };
  const Row rows[] = {
      {"http://h/logo.PNG", true},
      {"http://h/a/photo.jpeg?w=200", true},
      {"http://h/files/setup.zip", true},
      {"http://h/v/clip.mp4", true},
      {"http://h/f/font.woff2", true},
      {"http://h/s/site.css?v=3", true},
      {"http://h/s/app.js", true},
      {"http://h/contact.html", false},
      {"http://h/about.php?id=1.jpg", false},
      {"http://h/news/", false},
      {"http://h/v1.2/list", false},
      {"http://h/file.", false},
      {"http://h/", false},
      {"http://h/brochure.pdf", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsObviouslyNotText(row.address), row.notText) << row.address;
  }
}

TEST(SiteScope, SameHostWithOrWithoutWwwOverHttpOrHttps) {
  TSiteScope scope("http://www.Example.com/index.html");
  struct Row {
    const char* address;
    bool admitted;
  };
  const Row rows[] = {
      {"http://www.example.com/contact.html", true},
      {"https://example.com/about", true},
      {"http://EXAMPLE.com:8080/x", true},
      {"http://shop.example.com/", false},
      {"http://example.com.evil.net/", false},
      {"http://wwwexample.com/", false},
      {"http://other.com/?u=example.com", false},
      {"ftp://example.com/", false},
      {"mailto:info@example.com", false},
      {"http://example.com/logo.gif", false},
      {"HTTP://WWW.EXAMPLE.COM/Contact", true},
      {"http://user:pw@Www.example.com/", true},
      {"http://www.www.example.com/", false},
      {"http://www./", false},
      {"http:/example.com/", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(scope.Admits(row.address), row.admitted) << row.address;
    if (const std::optional<std::string> normalised = NormaliseCrawlAddress(row.address)) {
      EXPECT_EQ(scope.AdmitsNormalised(*normalised), row.admitted) << *normalised;
    }
  }

  // The listed page moved to another host: both are the site now.
  EXPECT_FALSE(scope.Admits("http://example.org/contact"));
  scope.AddSiteOf("https://www.example.org/");
  EXPECT_TRUE(scope.Admits("http://example.org/contact"));
  EXPECT_TRUE(scope.Admits("http://example.com/contact"));
}

}  // namespace
}  // namespace qm
