// Reading a stream to its end, as a thumbnail handler reads the document's: a read may give fewer
// bytes than asked for, whether it says that the stream has ended or not; only a read that gives
// none ends it.

#ifndef THUMBNAILS_WHOLE_STREAM_H_
#define THUMBNAILS_WHOLE_STREAM_H_

#include <algorithm>
#include <cstddef>
#include <string>

#include "thumbnails/structure.h"

enum class StreamEnd { kWhole, kTooLarge, kFailed };

// The most that one read asks for.
inline constexpr std::size_t kStreamPiece = 1 << 20;

// Appends the stream's bytes to `bytes`, up to kMaxFileBytes and a read beyond.
// `read(buffer, size, &got)` asks for up to `size` bytes and returns false where the read fails.
template <typename Read>
StreamEnd ReadWhole(Read&& read, std::string* bytes) {
  for (;;) {
    const std::size_t had = bytes->size();
    bytes->resize(had + kStreamPiece);
    std::size_t got = 0;
    const bool read_well = read(bytes->data() + had, kStreamPiece, &got);
    bytes->resize(had + std::min(got, kStreamPiece));
    if (!read_well) {
      return StreamEnd::kFailed;
    }
    if (bytes->size() > kMaxFileBytes) {
      return StreamEnd::kTooLarge;
    }
    if (got == 0) {
      return StreamEnd::kWhole;
    }
  }
}

#endif  // THUMBNAILS_WHOLE_STREAM_H_
