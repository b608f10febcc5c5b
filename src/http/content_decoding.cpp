#include "http/content_decoding.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "text/trim.h"

namespace qm {
namespace {

constexpr size_t kOutputPiece = 64u << 10;

enum class TCoding { Identity, Gzip, Deflate, Brotli, Unknown };

TCoding CodingNamed(std::string_view name) {
  const std::string lower = AsciiLower(TrimView(name));
  if (lower.empty() || lower == "identity" || lower == "chunked") return TCoding::Identity;
  if (lower == "gzip" || lower == "x-gzip") return TCoding::Gzip;
  if (lower == "deflate") return TCoding::Deflate;
  if (lower == "br") return TCoding::Brotli;
  return TCoding::Unknown;
}

// Grows `out` by up to one piece within the cap; the free space starts at `free`.
size_t GrowWithin(std::string& out, size_t maxBytes, char*& free) {
  const size_t used = out.size();
  const size_t piece = std::min(kOutputPiece, maxBytes - used);
  out.resize(used + piece);
  free = out.data() + used;
  return piece;
}

// zlib's inflate for gzip (every member of a multi-member file), zlib-wrapped and raw
// deflate streams.
TContentDecoding Inflate(std::string_view in, bool gzip, size_t maxBytes, std::string& out) {
  out.clear();
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  // "deflate" is meant to carry the zlib wrapper, but many servers send the raw stream.
  const bool zlibWrapped =
      in.size() >= 2 && (bytes[0] & 0x0F) == 8 && ((bytes[0] << 8) | bytes[1]) % 31 == 0;
  const int windowBits = gzip ? 15 + 16 : (zlibWrapped ? 15 : -15);
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) return TContentDecoding::AsReceived;
  stream.next_in = const_cast<Bytef*>(bytes);
  stream.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), UINT32_MAX));
  TContentDecoding outcome = TContentDecoding::Decoded;
  for (;;) {
    if (out.size() == maxBytes) {
      outcome = TContentDecoding::CutAtCap;
      break;
    }
    char* free = nullptr;
    const size_t room = GrowWithin(out, maxBytes, free);
    stream.next_out = reinterpret_cast<Bytef*>(free);
    stream.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - stream.avail_out);
    if (rc == Z_STREAM_END) {
      // Another gzip member may follow; anything else after the end is left alone.
      if (gzip && stream.avail_in >= 2 && stream.next_in[0] == 0x1F && stream.next_in[1] == 0x8B) {
        inflateReset(&stream);
        continue;
      }
      break;
    }
    if (rc == Z_BUF_ERROR && stream.avail_in == 0) break;  // the stream ends early
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      outcome = TContentDecoding::AsReceived;
      break;
    }
  }
  inflateEnd(&stream);
  return outcome;
}

TContentDecoding Unbrotli(std::string_view in, size_t maxBytes, std::string& out) {
  out.clear();
  BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
  if (state == nullptr) return TContentDecoding::AsReceived;
  size_t availableIn = in.size();
  const auto* nextIn = reinterpret_cast<const uint8_t*>(in.data());
  TContentDecoding outcome = TContentDecoding::Decoded;
  for (;;) {
    if (out.size() == maxBytes) {
      outcome = TContentDecoding::CutAtCap;
      break;
    }
    char* free = nullptr;
    size_t availableOut = GrowWithin(out, maxBytes, free);
    auto* nextOut = reinterpret_cast<uint8_t*>(free);
    const BrotliDecoderResult rc = BrotliDecoderDecompressStream(state, &availableIn, &nextIn,
                                                                 &availableOut, &nextOut, nullptr);
    out.resize(out.size() - availableOut);
    if (rc == BROTLI_DECODER_RESULT_SUCCESS) break;
    if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) break;  // the stream ends early
    if (rc == BROTLI_DECODER_RESULT_ERROR) {
      outcome = TContentDecoding::AsReceived;
      break;
    }
  }
  BrotliDecoderDestroyInstance(state);
  return outcome;
}

TContentDecoding DecodeOne(TCoding coding, std::string_view in, size_t maxBytes, std::string& out) {
  switch (coding) {
    case TCoding::Gzip:
      return Inflate(in, true, maxBytes, out);
    case TCoding::Deflate:
      return Inflate(in, false, maxBytes, out);
    case TCoding::Brotli:
      return Unbrotli(in, maxBytes, out);
    case TCoding::Identity:
    case TCoding::Unknown:
      break;
  }
  return TContentDecoding::AsReceived;
}

}  // namespace

TContentDecoding DecodeContent(std::string_view codings, std::string_view body, size_t maxBytes,
                               std::string& out) {
  std::vector<TCoding> layers;
  size_t start = 0;
  while (start <= codings.size()) {
    const size_t comma = std::min(codings.find(',', start), codings.size());
    const TCoding coding = CodingNamed(codings.substr(start, comma - start));
    if (coding == TCoding::Unknown) return TContentDecoding::AsReceived;
    if (coding != TCoding::Identity) layers.push_back(coding);
    start = comma + 1;
  }
  if (layers.empty()) return TContentDecoding::AsReceived;
  // The last coding applied is the first undone.
  std::string input;
  bool cut = false;
  for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
    const std::string_view from = layer == layers.rbegin() ? body : std::string_view(input);
    const TContentDecoding outcome = DecodeOne(*layer, from, maxBytes, out);
    if (outcome == TContentDecoding::AsReceived) return outcome;
    cut = cut || outcome == TContentDecoding::CutAtCap;
    if (std::next(layer) != layers.rend()) input.swap(out);
  }
  return cut ? TContentDecoding::CutAtCap : TContentDecoding::Decoded;
}

}  // namespace qm
