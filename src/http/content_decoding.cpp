#include "http/content_decoding.h"

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "text/trim.h"

namespace qm {
namespace {

constexpr size_t kOutputPiece = 64u << 10;
// The least step of a buffer whose growth is counted, so that the budget is not asked for
// every piece.
constexpr size_t kCountedStep = 256u << 10;

enum class TCoding { Identity, Gzip, Deflate, Brotli, Unknown };

TCoding CodingNamed(std::string_view name) {
  const std::string lower = AsciiLower(TrimView(name));
  if (lower.empty() || lower == "identity" || lower == "chunked") return TCoding::Identity;
  if (lower == "gzip" || lower == "x-gzip") return TCoding::Gzip;
  if (lower == "deflate") return TCoding::Deflate;
  if (lower == "br") return TCoding::Brotli;
  return TCoding::Unknown;
}

// Where one layer of codings writes its text.
struct TOutput {
  std::string& Text;
  size_t MaxBytes;
  // What the decoding's other buffer (the text of the layer before) holds meanwhile.
  size_t OtherBytes;
  const TDecodingGrowth& MayGrow;
};

// Grows the text by up to one piece within the cap and the room it is allowed; the free
// space starts at `free`. 0 when the text may not grow.
size_t GrowWithin(TOutput& output, char*& free) {
  std::string& out = output.Text;
  const size_t used = out.size();
  size_t piece = std::min(kOutputPiece, output.MaxBytes - used);
  if (output.MayGrow && used + piece > out.capacity()) {
    const size_t capacity =
        std::min(output.MaxBytes, std::max({used + piece, 2 * out.capacity(), kCountedStep}));
    if (output.MayGrow(output.OtherBytes + capacity)) {
      out.reserve(capacity);
    } else {
      piece = std::min(piece, out.capacity() - used);
    }
  }
  out.resize(used + piece);
  free = out.data() + used;
  return piece;
}

// What a stream that turned out corrupt gives: the text decoded before the fault, when
// there is any and a header said the bytes are compressed; else the body as it came.
TContentDecoding AfterFault(bool vouched, bool decodedAny) {
  return vouched && decodedAny ? TContentDecoding::Decoded : TContentDecoding::AsReceived;
}

// Plain text sent under a coding's name may read as a stream that ends at once, or that
// wants more, without a byte of text: a stream is only taken when it gave text or ended
// exactly with the body.
TContentDecoding Checked(TContentDecoding outcome, std::string_view in, bool decodedAny,
                         bool endedWithTheBody) {
  if (outcome == TContentDecoding::Decoded && !in.empty() && !decodedAny && !endedWithTheBody) {
    return TContentDecoding::AsReceived;
  }
  return outcome;
}

// zlib's inflate for gzip (every member of a multi-member file), zlib-wrapped and raw
// deflate streams.
TContentDecoding Inflate(std::string_view in, bool gzip, TOutput& output) {
  std::string& out = output.Text;
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
  bool memberEnded = false;
  bool ended = false;
  for (;;) {
    if (out.size() == output.MaxBytes) {
      outcome = TContentDecoding::CutAtCap;
      break;
    }
    char* free = nullptr;
    const size_t room = GrowWithin(output, free);
    if (room == 0) {
      outcome = TContentDecoding::CutForMemory;
      break;
    }
    stream.next_out = reinterpret_cast<Bytef*>(free);
    stream.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - stream.avail_out);
    if (rc == Z_STREAM_END) {
      // Another gzip member may follow; anything else after the end is left alone.
      if (gzip && stream.avail_in >= 2 && stream.next_in[0] == 0x1F && stream.next_in[1] == 0x8B) {
        memberEnded = true;
        inflateReset(&stream);
        continue;
      }
      ended = true;
      break;
    }
    if (rc == Z_BUF_ERROR && stream.avail_in == 0) break;  // the stream ends early
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      // A raw deflate stream has no header: plain text sent under the name decodes to
      // nonsense until it fails, so only a wrapped stream keeps its text.
      outcome = AfterFault(gzip || zlibWrapped, memberEnded || !out.empty());
      break;
    }
  }
  const bool endedWithTheBody = ended && stream.avail_in == 0;
  inflateEnd(&stream);
  return Checked(outcome, in, memberEnded || !out.empty(), endedWithTheBody);
}

TContentDecoding Unbrotli(std::string_view in, TOutput& output) {
  std::string& out = output.Text;
  out.clear();
  BrotliDecoderState* state = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
  if (state == nullptr) return TContentDecoding::AsReceived;
  size_t availableIn = in.size();
  const auto* nextIn = reinterpret_cast<const uint8_t*>(in.data());
  TContentDecoding outcome = TContentDecoding::Decoded;
  bool ended = false;
  for (;;) {
    if (out.size() == output.MaxBytes) {
      outcome = TContentDecoding::CutAtCap;
      break;
    }
    char* free = nullptr;
    size_t availableOut = GrowWithin(output, free);
    if (availableOut == 0) {
      outcome = TContentDecoding::CutForMemory;
      break;
    }
    auto* nextOut = reinterpret_cast<uint8_t*>(free);
    const BrotliDecoderResult rc = BrotliDecoderDecompressStream(state, &availableIn, &nextIn,
                                                                 &availableOut, &nextOut, nullptr);
    out.resize(out.size() - availableOut);
    if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
      ended = true;
      break;
    }
    // The stream ends early; what the decoder holds of it is still to be taken.
    if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT &&
        (!BrotliDecoderHasMoreOutput(state) || nextOut == reinterpret_cast<uint8_t*>(free))) {
      break;
    }
    if (rc == BROTLI_DECODER_RESULT_ERROR) {
      outcome = AfterFault(true, !out.empty());
      break;
    }
  }
  BrotliDecoderDestroyInstance(state);
  return Checked(outcome, in, !out.empty(), ended && availableIn == 0);
}

TContentDecoding DecodeOne(TCoding coding, std::string_view in, TOutput& output) {
  switch (coding) {
    case TCoding::Gzip:
      return Inflate(in, true, output);
    case TCoding::Deflate:
      return Inflate(in, false, output);
    case TCoding::Brotli:
      return Unbrotli(in, output);
    case TCoding::Identity:
    case TCoding::Unknown:
      break;
  }
  return TContentDecoding::AsReceived;
}

}  // namespace

TContentDecoding DecodeContent(std::string_view codings, std::string_view body, size_t maxBytes,
                               std::string& out, const TDecodingGrowth& mayGrow) {
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
  bool refused = false;
  for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
    const bool first = layer == layers.rbegin();
    TOutput output{out, maxBytes, first ? 0 : input.capacity(), mayGrow};
    const TContentDecoding outcome =
        DecodeOne(*layer, first ? body : std::string_view(input), output);
    if (outcome == TContentDecoding::AsReceived) return outcome;
    cut = cut || outcome == TContentDecoding::CutAtCap;
    refused = refused || outcome == TContentDecoding::CutForMemory;
    if (std::next(layer) != layers.rend()) input.swap(out);
  }
  if (refused) return TContentDecoding::CutForMemory;
  return cut ? TContentDecoding::CutAtCap : TContentDecoding::Decoded;
}

}  // namespace qm
