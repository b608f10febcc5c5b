#pragma once
#include <string>

namespace qm::test {

// UTF-8 text written in another charset (an iconv name), as pages in that charset hold it;
// what the charset cannot hold is dropped.
std::string EncodeUtf8As(const std::string& utf8, const char* charset);

}  // namespace qm::test
