// FindBytes, ReplaceBytes and BytesLeft against plain references. Byte
// arrays do not end at a zero byte.
//
// Input: start, count (32-bit each, folded into a small range when flag bit
// 0 is set), flags (bit 1: a replacement is given), a counted pattern, a
// counted replacement, then the array.
#include <algorithm>
#include <optional>

#include "fuzz_input.h"
#include "runtime/values.h"

namespace {

std::int32_t ReferenceFind(const Bytes& bytes, const Bytes& pattern, std::int32_t start) {
  if (pattern.empty()) return -1;
  const std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  for (std::size_t p = from; p + pattern.size() <= bytes.size(); ++p)
    if (std::equal(pattern.begin(), pattern.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p)))
      return static_cast<std::int32_t>(p + 1);
  return -1;
}

Bytes ReferenceReplace(const Bytes& bytes, std::int64_t start, std::int64_t count,
                       const std::optional<Bytes>& replacement) {
  const auto length = static_cast<std::int64_t>(bytes.size());
  start = std::clamp<std::int64_t>(start, 1, length + 1);
  count = std::clamp<std::int64_t>(count, 0, length - (start - 1));
  Bytes result;
  for (std::int64_t i = 0; i < start - 1; ++i) result += bytes[static_cast<std::size_t>(i)];
  if (replacement) result += *replacement;
  for (std::int64_t i = start - 1 + count; i < length; ++i) result += bytes[static_cast<std::size_t>(i)];
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  std::int32_t start = input.Int32();
  std::int32_t count = input.Int32();
  const std::uint8_t flags = input.Byte();
  const Bytes pattern = input.Counted();
  const Bytes replacementBytes = input.Counted();
  const Bytes bytes = input.Rest();
  if (flags & 1) {
    // Most interesting values lie near the array; keep the extremes reachable.
    start = start % 300;
    count = count % 300;
  }
  const std::optional<Bytes> replacement =
      flags & 2 ? std::optional<Bytes>(replacementBytes) : std::nullopt;

  const std::int32_t found = FindBytes(bytes, pattern, start);
  FUZZ_CHECK(found == ReferenceFind(bytes, pattern, start));

  const Bytes replaced = replacement ? ReplaceBytes(bytes, start, count, *replacement)
                                     : ReplaceBytes(bytes, start, count);
  FUZZ_CHECK(replaced == ReferenceReplace(bytes, start, count, replacement));

  const std::size_t kept =
      count <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(count), bytes.size());
  const Bytes left = BytesLeft(bytes, count);
  FUZZ_CHECK(left == bytes.substr(0, kept));
  FUZZ_CHECK(BytesLength(bytes) == static_cast<std::int32_t>(bytes.size()));
  return 0;
}
