// Relative references taken against a base address, as a Location header or a link gives them.
#include "http/url_resolve.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::test {
namespace {

TEST(UrlResolve, ReferencesAgainstOneBase) {
  // Every example of RFC 3986, section 5.4, normal and abnormal.
  const std::string base = "http://a/b/c/d;p?q";
  const struct {
    const char* reference;
    const char* target;
  } rows[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ResolveReference(base, row.reference), row.target) << row.reference;
  }
}

TEST(UrlResolve, RedirectTargetsSeenOnTheWeb) {
  const struct {
    const char* base;
    const char* reference;
    const char* target;
  } rows[] = {
      {"http://example.com", "/index.html", "http://example.com/index.html"},
      {"http://example.com", "cn/", "http://example.com/cn/"},
      {"http://example.com:8080/a/b", "https://www.example.com/", "https://www.example.com/"},
      {"https://example.com/a/b?x=1", "//cdn.example.com/c", "https://cdn.example.com/c"},
      {"http://u:p@example.com/a/", "b", "http://u:p@example.com/a/b"},
      {"http://example.com/a/b", "?page=2", "http://example.com/a/b?page=2"},
      {"http://127.0.0.1:80/x", "127.0.0.1:81/y", "http://127.0.0.1:80/127.0.0.1:81/y"},
      // Empty path segments are kept, in the reference and in the base.
      {"http://example.com/", "http://example.com//folder/x", "http://example.com//folder/x"},
      {"http://example.com//folder/", "x", "http://example.com//folder/x"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ResolveReference(row.base, row.reference), row.target) << row.reference;
  }
}

}  // namespace
}  // namespace qm::test
