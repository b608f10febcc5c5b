#include "hostile/gzip_body.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace qm::bench {
namespace {

class GzipStream {
 public:
  GzipStream() {
    // 15 window bits, plus 16 for the gzip wrapper.
    if (deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
      throw std::runtime_error("deflateInit2 failed");
    }
  }
  ~GzipStream() { deflateEnd(&stream_); }
  GzipStream(const GzipStream&) = delete;
  GzipStream& operator=(const GzipStream&) = delete;

  void Add(std::string_view text, int flush) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream_.avail_in = static_cast<uInt>(text.size());
    int status = Z_OK;
    do {
      unsigned char buffer[65536];
      stream_.next_out = buffer;
      stream_.avail_out = sizeof buffer;
      status = deflate(&stream_, flush);
      if (status == Z_STREAM_ERROR) throw std::runtime_error("deflate failed");
      out_.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream_.avail_out);
    } while (stream_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  }
  std::string Take() { return std::move(out_); }

 private:
  z_stream stream_{};
  std::string out_;
};

}  // namespace

std::string GzipMember(std::string_view text) {
  GzipStream stream;
  stream.Add(text, Z_FINISH);
  return stream.Take();
}

std::string GzipMemberRepeated(std::string_view head, std::string_view block, size_t total) {
  GzipStream stream;
  stream.Add(head, Z_NO_FLUSH);
  for (size_t done = head.size(); done < total;) {
    const size_t piece = std::min(block.size(), total - done);
    stream.Add(block.substr(0, piece), Z_NO_FLUSH);
    done += piece;
  }
  stream.Add({}, Z_FINISH);
  return stream.Take();
}

}  // namespace qm::bench
