#include "text/line_split.h"

#include <cstring>

namespace qm {

void SplitLines(std::string_view text, std::vector<std::string>& lines) {
  size_t count = 0;
  auto emit = [&](const char* begin, size_t length) {
    if (count < lines.size()) {
      lines[count].assign(begin, length);
    } else {
      lines.emplace_back(begin, length);
    }
    ++count;
  };
  const char* p = text.data();
  const char* const end = p + text.size();
  // The next LF at or after p (end when there is none). It is searched for again only once
  // passed: searching afresh for every line of a body broken by lone CRs only would read the
  // rest of the body once per line.
  const char* lf = nullptr;
  while (p < end) {
    // The next break is the first CR or LF; memchr for LF first, which is the common one.
    if (!lf || lf < p) {
      lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (!lf) lf = end;
    }
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(lf - p)));
    if (cr) {
      emit(p, static_cast<size_t>(cr - p));
      p = (cr + 1 < end && cr[1] == '\n') ? cr + 2 : cr + 1;
    } else if (lf < end) {
      emit(p, static_cast<size_t>(lf - p));
      p = lf + 1;
    } else {
      emit(p, static_cast<size_t>(end - p));
      p = end;
    }
  }
  lines.resize(count);
}

}  // namespace qm
