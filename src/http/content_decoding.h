#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

enum class TContentDecoding {
  // `out` holds the decoded body (also when a stream ended early or turned corrupt after a
  // good start: what it gave up to there).
  Decoded,
  // `out` holds the first `maxBytes` bytes of a body that decodes to more.
  CutAtCap,
  // `out` holds what was decoded before the decoder's buffers were refused more room.
  CutForMemory,
  // The body is to be used as it came: the codings name nothing to undo, or one that is not
  // known, or the stream is not what its coding says.
  AsReceived,
};

// Asked before the decoder's buffers grow, with the bytes they are then to hold in all
// (their capacity); false refuses the growth.
using TDecodingGrowth = std::function<bool(size_t bytes)>;

// Undoes the codings of a Content-Encoding (or Transfer-Encoding) list such as "gzip" or
// "deflate, br", applied in the order given: "gzip" and "x-gzip", "deflate" (with or
// without its zlib wrapper), "br"; "identity" and "chunked" change nothing. Never writes
// more than `maxBytes` bytes to `out`. With `mayGrow`, buffers grow in steps it allows.
TContentDecoding DecodeContent(std::string_view codings, std::string_view body, size_t maxBytes,
                               std::string& out, const TDecodingGrowth& mayGrow = {});

}  // namespace qm
