// Reading an embedded payload stream: stored bytes as they are, or an LZMA
// stream (the .lzma form: 5 property bytes, the 64-bit decoded size, the
// range-coded data) decoded by the LZMA SDK's decoder.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/types.h"

enum class StreamMethod : std::uint32_t { kStored = 0, kLzma = 1 };

// The largest dictionary a stream may ask for, and the most literal context
// bits (lc + lp) it may use: a stream beyond them is refused before anything
// is allocated.
inline constexpr std::uint32_t kLargestDictionary = 32u << 20;
inline constexpr unsigned kMostLiteralBits = 4;
// The .lzma header: properties, then the decoded size.
inline constexpr std::size_t kLzmaHeaderBytes = 13;

// The bytes [offset, offset + size) of `stream`, whose whole decoded form is
// `streamSize` bytes, into `*out` (replaced). A stored stream must be
// exactly `streamSize` bytes; an LZMA stream's header must name
// `streamSize`. When the part reaches the stream's end, the stream must end
// there too (its end mark, all its bytes used). False, with `*out` emptied,
// for a method not known, a part beyond the stream, or a stream that does not
// decode that far: damage. Bytes that decode are not checked here; their
// digest is the caller's.
bool DecodeStreamPart(std::string_view stream, StreamMethod method, std::uint64_t streamSize,
                      std::uint64_t offset, std::uint32_t size, Bytes* out);
