#include "text/line_split.h"

namespace qm {

void SplitLines(std::string_view text, std::vector<std::string>& lines) {
  size_t count = 0;
  ForEachLine(text, [&](size_t begin, size_t end) {
    if (count < lines.size()) {
      lines[count].assign(text.data() + begin, end - begin);
    } else {
      lines.emplace_back(text.data() + begin, end - begin);
    }
    ++count;
  });
  lines.resize(count);
}

}  // namespace qm
