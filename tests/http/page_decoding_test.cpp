// What the scanners get of a page: compressed bodies undone, text converted to UTF-8 by
// its declared charset.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "compression_support.h"
#include "http/content_decoding.h"
#include "http/fetch_page_lines.h"
#include "page_server_support.h"
#include "support/charset_encoding.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

// A gzip member whose header names a compression method there is none of.
std::string CorruptGzipMember() {
  std::string member = Gzip("never seen\n");
  member[2] = 9;
  return member;
}

struct PageRow {
  const char* name;
  std::string headers;  // header lines, each ending in CR LF
  std::string body;
  Lines lines;
  std::string encoding;  // TPageFetchResult::ContentEncoding
  bool decoded;
  std::string charset;
};

void ExpectPages(const std::vector<PageRow>& rows) {
  for (const PageRow& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer server(ScriptedServer::Replay(Answer("200 OK", row.headers, row.body)));
    TPageLines lines;
    TPageFetchResult result;
    ASSERT_TRUE(FetchPageLines(server.Url("p"), lines, {}, result));
    EXPECT_EQ(lines.Strings(), row.lines);
    EXPECT_EQ(result.BytesReceived, row.body.size());
    EXPECT_EQ(result.ContentEncoding, row.encoding);
    EXPECT_EQ(result.ContentDecoded, row.decoded);
    EXPECT_EQ(result.Charset, row.charset);
  }
}

TEST(PageDecoding, CompressedBodies) {
  const std::string page = "<p>mail a@b.cn</p>\nQQ 12345678\n";
  const Lines lines = {"<p>mail a@b.cn</p>", "QQ 12345678"};
  const std::string gzip = Gzip(page);
  std::string badChecksum = gzip;
  badChecksum[badChecksum.size() - 8] ^= 0x55;
  ExpectPages({
      {"a good gzip member, then a corrupt one", "Content-Encoding: gzip\r\n",
       gzip + CorruptGzipMember(), lines, "gzip", true, ""},
      {"gzip with a wrong checksum", "Content-Encoding: gzip\r\n", badChecksum, lines, "gzip", true,
       ""},
      {"gzip", "Content-Encoding: gzip\r\n", gzip, lines, "gzip", true, ""},
      {"x-gzip", "Content-Encoding: x-gzip\r\n", gzip, lines, "x-gzip", true, ""},
      {"two gzip members", "Content-Encoding: gzip\r\n",
       Gzip("<p>mail a@b.cn</p>\n") + Gzip("QQ 12345678\n"), lines, "gzip", true, ""},
      {"deflate with its wrapper", "Content-Encoding: deflate\r\n", Deflate(page, Wrapper::Zlib),
       lines, "deflate", true, ""},
      {"deflate without", "Content-Encoding: DEFLATE\r\n", Deflate(page, Wrapper::Raw), lines,
       "DEFLATE", true, ""},
      {"br", "Content-Encoding: br\r\n", Brotli(page), lines, "br", true, ""},
      {"br over gzip", "Content-Encoding: gzip, br\r\n", Brotli(gzip), lines, "gzip, br", true, ""},
      {"gzip as a transfer coding", "Transfer-Encoding: gzip\r\n", gzip, lines, "", true, ""},
      {"identity", "Content-Encoding: identity\r\n", page, lines, "identity", false, ""},
      {"a coding we do not know", "Content-Encoding: zstd\r\n", page, lines, "zstd", false, ""},
      {"labelled gzip, sent plain", "Content-Encoding: gzip\r\n", page, lines, "gzip", false, ""},
      {"broken stream",
       "Content-Encoding: br\r\n",
       "\x1b\xff" + page,
       {"\x1b\xff<p>mail a@b.cn</p>", "QQ 12345678"},
       "br",
       false,
       ""},
  });

  // A stream cut short gives the text up to the cut.
  std::string longer = page;
  for (int i = 0; i < 3000; ++i) longer += "line " + std::to_string(i * 7919) + "\n";
  const std::string compressed = Gzip(longer);
  ScriptedServer server(ScriptedServer::Replay(
      Answer("200 OK", "Content-Encoding: gzip\r\n", compressed.substr(0, compressed.size() / 2))));
  TPageLines cut;
  TPageFetchResult result;
  ASSERT_TRUE(FetchPageLines(server.Url(), cut, {}, result));
  EXPECT_TRUE(result.ContentDecoded);
  EXPECT_GT(cut.Text().size(), longer.size() / 4);
  EXPECT_LT(cut.Text().size(), longer.size());
  EXPECT_EQ(cut.Text(), std::string_view(longer).substr(0, cut.Text().size()));
}

TEST(ContentDecoding, CorruptOrCutStreamsKeepTheTextBeforeTheFault) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "line " + std::to_string(i * 7919) + " a@b.cn\n";
  const std::string gzip = Gzip(text);
  const std::string br = Brotli(text);
  std::string badLength = gzip;
  badLength.back() ^= 0x55;
  std::string badAdler = Deflate(text, Wrapper::Zlib);
  badAdler.back() ^= 0x55;
  const struct {
    const char* name;
    const char* coding;
    std::string body;
    TContentDecoding outcome;
    size_t least;  // bytes of the text decoded as it was sent
  } rows[] = {
      {"gzip member, corrupt member", "gzip", gzip + CorruptGzipMember(), TContentDecoding::Decoded,
       text.size()},
      {"gzip, wrong length", "gzip", badLength, TContentDecoding::Decoded, text.size()},
      {"zlib, wrong checksum", "deflate", badAdler, TContentDecoding::Decoded, text.size()},
      // The decoder holds much of a brotli stream before it hands it out.
      {"br cut", "br", br.substr(0, br.size() / 2), TContentDecoding::Decoded, text.size() / 4},
      {"br cut before its last byte", "br", br.substr(0, br.size() - 1), TContentDecoding::Decoded,
       text.size() - 1000},
      // Plain text under a coding's name, though it may read as a stream that ends at once.
      {"plain as br", "br", text, TContentDecoding::AsReceived, 0},
      {"plain as deflate", "deflate", "{\"mail\": \"a@b.cn\"}", TContentDecoding::AsReceived, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string out;
    EXPECT_EQ(DecodeContent(row.coding, row.body, size_t{64} << 20, out), row.outcome);
    if (row.outcome == TContentDecoding::Decoded) {
      EXPECT_GE(out.size(), row.least);
      EXPECT_EQ(out, std::string_view(text).substr(0, out.size()));
    }
  }
}

TEST(PageDecoding, CompressedTextStopsAtTheBodyCap) {
  // 80 MiB of text in a few hundred kilobytes: what the page holds stays within 64 MiB.
  const std::string line = "x@y.cn " + std::string(1017, 'a') + "\n";
  std::string text;
  text.reserve(80u << 20);
  while (text.size() < (80u << 20)) text += line;
  const std::string bomb = Gzip(text);
  text.clear();
  ScriptedServer server(
      ScriptedServer::Replay(Answer("200 OK", "Content-Encoding: gzip\r\n", bomb)));
  TPageLines lines;
  TPageFetchResult result;
  ASSERT_TRUE(FetchPageLines(server.Url(), lines, {}, result));
  EXPECT_TRUE(result.ContentDecoded);
  EXPECT_EQ(result.BytesReceived, bomb.size());
  EXPECT_LE(lines.Text().size() + bomb.size(), 64u << 20);
  EXPECT_GT(lines.Text().size(), 60u << 20);
  EXPECT_EQ(*lines.begin(), line.substr(0, line.size() - 1));
}

TEST(PageDecoding, CharsetsToUtf8) {
  const std::string chinese = "联系：电话13812345678，邮箱kefu@example.cn";
  const std::string traditional = "聯絡：電話13812345678，信箱kefu@example.tw";
  const std::string gbk = EncodeUtf8As(chinese, "GBK");
  const std::string big5 = EncodeUtf8As(traditional, "BIG5");
  const std::string metaGbk = "<meta charset=gbk>\n";
  ExpectPages({
      {"GBK in the header",
       "Content-Type: text/html; charset=GBK\r\n",
       gbk,
       {chinese},
       "",
       false,
       "GB18030"},
      {"GB2312 in a meta tag",
       "Content-Type: text/html\r\n",
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\n" + gbk,
       {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">", chinese},
       "",
       false,
       "GB18030"},
      {"GB18030",
       "Content-Type: text/html; charset=gb18030\r\n",
       EncodeUtf8As("𠀀" + chinese, "GB18030"),
       {"𠀀" + chinese},
       "",
       false,
       "GB18030"},
      {"Big5, header beats the meta tag",
       "Content-Type: text/html; charset=big5\r\n",
       metaGbk + big5,
       {"<meta charset=gbk>", traditional},
       "",
       false,
       "BIG5-HKSCS"},
      {"UTF-8 with a byte-order mark", "", "\xEF\xBB\xBF" + chinese, {chinese}, "", false, "UTF-8"},
      {"UTF-8 declared but not: bytes as they came",
       "Content-Type: text/html; charset=utf-8\r\n",
       gbk,
       {gbk},
       "",
       false,
       "UTF-8"},
      {"undeclared: bytes as they came", "", gbk, {gbk}, "", false, ""},
      {"undeclared with four-byte GB18030 characters",
       "",
       EncodeUtf8As("邮箱𠀁a@b.cn 电话𠀂13812345678", "GB18030"),
       {"邮箱𠀁a@b.cn 电话𠀂13812345678"},
       "",
       false,
       "GB18030"},
      {"a charset iconv does not know",
       "Content-Type: text/html; charset=x-klingon\r\n",
       gbk,
       {gbk},
       "",
       false,
       ""},
      {"ASCII page in a declared charset",
       "Content-Type: text/html; charset=gbk\r\n",
       "a@b.cn\r\n13812345678",
       {"a@b.cn", "13812345678"},
       "",
       false,
       "GB18030"},
      {"compressed GBK",
       "Content-Encoding: gzip\r\nContent-Type: text/html; charset=gbk\r\n",
       Gzip(gbk),
       {chinese},
       "gzip",
       true,
       "GB18030"},
  });
}

}  // namespace
}  // namespace qm::test
