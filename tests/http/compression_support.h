#pragma once
// Bodies compressed as servers send them.
#include <brotli/encode.h>
#include <zlib.h>

#include <string>

namespace qm::test {

enum class Wrapper { Gzip, Zlib, Raw };

inline std::string Deflate(const std::string& text, Wrapper wrapper) {
  const int bits = wrapper == Wrapper::Gzip ? 15 + 16 : wrapper == Wrapper::Zlib ? 15 : -15;
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

inline std::string Gzip(const std::string& text) {
  return Deflate(text, Wrapper::Gzip);
}

inline std::string Brotli(const std::string& text) {
  size_t size = BrotliEncoderMaxCompressedSize(text.size()) + 16;
  std::string out(size, '\0');
  BrotliEncoderCompress(5, 22, BROTLI_MODE_TEXT, text.size(),
                        reinterpret_cast<const uint8_t*>(text.data()), &size,
                        reinterpret_cast<uint8_t*>(out.data()));
  out.resize(size);
  return out;
}

}  // namespace qm::test
