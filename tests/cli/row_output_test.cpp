// The rows as standard output carries them: one line per row, four columns.
#include "cli/row_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "contacts/result_list.h"
#include "ui/change_notifier.h"

namespace qm::cli {
namespace {

// What `write` put on a stream.
template <typename Write>
std::string Written(Write write) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  write(out);
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

TEST(RowOutput, AnAddressKeepsTheColumnsWhateverItHolds) {
  const struct {
    std::string source;
    std::string shown;
  } rows[] = {
      {"http://a.cn/p1.html", "http://a.cn/p1.html"},
      {"", ""},
      {"http://a.cn/\tx", "http://a.cn/ x"},
      {"\r\nhttp://a.cn/very/long/path/page.html\t", "  http://a.cn/very/long/path/page.html "},
      {"http://a.cn/\xe4\xb8\xad\x01\n", "http://a.cn/\xe4\xb8\xad\x01 "},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Written([&](std::FILE* out) { WriteRow(out, kEmailKind, "a@b.cn", row.source); }),
              "email\ta@b.cn\t" + row.shown + "\t\n");
  }
  EXPECT_EQ(Written([](std::FILE* out) { WriteRow(out, kQQKind, "", "s", "ok"); }), "qq\t\ts\tok\n");
}

TEST(RowOutput, AFollowerWritesEachRowOnceInOrder) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  ListFollower follower(list, kMobileKind);
  EXPECT_EQ(Written([&](std::FILE* out) { follower.WriteNewRows(out); }), "");
  list.AppendResult("13800000000", "http://a.cn/1");
  list.AppendResult("13800000001", "http://a.cn/2");
  EXPECT_EQ(Written([&](std::FILE* out) { EXPECT_EQ(follower.WriteNewRows(out), 2u); }),
            "mobile\t13800000000\thttp://a.cn/1\t\nmobile\t13800000001\thttp://a.cn/2\t\n");
  list.AppendResult("13800000002", "http://a.cn/3");
  EXPECT_EQ(Written([&](std::FILE* out) { follower.WriteNewRows(out); }),
            "mobile\t13800000002\thttp://a.cn/3\t\n");
  EXPECT_EQ(Written([&](std::FILE* out) { follower.WriteNewRows(out); }), "");
}

TEST(RowOutput, RowsAppendedWhileAFollowerWritesComeOnceInOrderWithTheirChecks) {
  ui::ChangeNotifier notifier;
  TResultList list(notifier);
  verify::TVerifyOptions options;
  options.Lookups = false;
  ListFollower follower(list, kEmailKind, 0, std::make_shared<verify::TContactVerifier>(options),
                        verify::kEmailRow);
  constexpr int kRows = 2000;
  const auto rowOf = [](int i) {
    return (i % 3 == 0 ? "info+" : "u") + std::to_string(i) +
           (i % 2 == 0 ? "@example.com" : "@mailinator.com");
  };
  const auto sourceOf = [](int i) { return "http://a.cn/" + std::to_string(i % 7); };
  std::string expected;
  for (int i = 0; i < kRows; ++i) {
    expected += "email\t" + rowOf(i) + "\t" + sourceOf(i) + "\t" + (i % 3 == 0 ? "role," : "") +
                (i % 2 == 0 ? "unchecked" : "disposable") + "\n";
  }
  std::thread appender([&] {
    for (int i = 0; i < kRows; ++i) list.AppendResult(rowOf(i), sourceOf(i));
  });
  const std::string written = Written([&](std::FILE* out) {
    size_t rows = 0;
    while (rows < kRows) rows += follower.WriteNewRows(out);
    appender.join();
    EXPECT_EQ(follower.WriteNewRows(out), 0u);
  });
  EXPECT_EQ(written, expected);
}

}  // namespace
}  // namespace qm::cli
