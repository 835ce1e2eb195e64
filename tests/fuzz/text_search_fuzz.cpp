// FindText and FindTextBackward against a brute-force reference.
//
// Input: flags (bit 0 ignoreCase, bit 1 start given), start (16-bit), a
// counted sought text, then the text.
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "runtime/values.h"

namespace {

// The reference follows the documented search literally and shares nothing
// with the code it checks: it tries every byte of the region and keeps those
// the character walk from the region's first byte stops at.

std::string Clipped(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\0') break;
    out += c;
  }
  return out;
}

// The bytes a character walk over text[first..end) stops at.
std::set<std::size_t> WalkStops(const std::string& text, std::size_t first, std::size_t end) {
  std::set<std::size_t> stops;
  for (std::size_t i = first; i < end; i += IsLeadByte(text[i]) ? 2 : 1)
    stops.insert(i);
  return stops;
}

// A-Z to a-z in single-byte characters; a two-byte character stays as it is.
std::string FoldLetters(const std::string& s) {
  std::string out = s;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (IsLeadByte(out[i]))
      ++i;
    else if (out[i] >= 'A' && out[i] <= 'Z')
      out[i] = static_cast<char>(out[i] - 'A' + 'a');
  }
  return out;
}

// 1-based positions, in order, of the occurrences of `sought` lying wholly in
// text[first..end) at a stop of the walk from `first`.
std::vector<std::int32_t> Occurrences(const std::string& text, const std::string& sought,
                                      std::size_t first, std::size_t end, bool ignoreCase) {
  std::vector<std::int32_t> found;
  const std::set<std::size_t> stops = WalkStops(text, first, end);
  const std::string wanted = ignoreCase ? FoldLetters(sought) : sought;
  for (std::size_t p = first; p + sought.size() <= end; ++p) {
    if (stops.count(p) == 0) continue;
    const std::string here = text.substr(p, sought.size());
    if ((ignoreCase ? FoldLetters(here) : here) == wanted)
      found.push_back(static_cast<std::int32_t>(p + 1));
  }
  return found;
}

std::int32_t ReferenceForward(std::string_view rawText, std::string_view rawSought,
                              std::optional<std::int32_t> start, bool ignoreCase) {
  const std::string text = Clipped(rawText), sought = Clipped(rawSought);
  // From byte `start` (below 1: the first byte) to the end.
  std::size_t first = 0;
  if (start && *start > 1) first = static_cast<std::size_t>(*start - 1);
  const bool empty = first >= text.size();
  if (sought.empty()) return empty ? -1 : 1;
  if (empty) return -1;
  const auto found = Occurrences(text, sought, first, text.size(), ignoreCase);
  return found.empty() ? -1 : found.front();
}

std::int32_t ReferenceBackward(std::string_view rawText, std::string_view rawSought,
                               std::optional<std::int32_t> start, bool ignoreCase) {
  const std::string text = Clipped(rawText), sought = Clipped(rawSought);
  // The first start-1 bytes; all of them without a start.
  std::size_t end = text.size();
  if (start) {
    if (*start <= 1)
      end = 0;
    else if (static_cast<std::size_t>(*start - 1) < end)
      end = static_cast<std::size_t>(*start - 1);
  }
  if (sought.empty()) return end == 0 ? -1 : 1;
  const auto found = Occurrences(text, sought, 0, end, ignoreCase);
  return found.empty() ? -1 : found.back();
}

// A hit lies in the text, holds the sought bytes, and when the walk began at
// the first byte it does not start on a trail byte.
void CheckHit(std::string_view text, std::string_view sought, std::int32_t position,
              bool fromFirstByte, bool ignoreCase) {
  text = ClipText(text);
  sought = ClipText(sought);
  if (position == -1) return;
  FUZZ_CHECK(position >= 1 && static_cast<std::size_t>(position) <= text.size());
  if (sought.empty()) return;
  const std::size_t at = static_cast<std::size_t>(position) - 1;
  FUZZ_CHECK(at + sought.size() <= text.size());
  if (!ignoreCase) FUZZ_CHECK(text.substr(at, sought.size()) == sought);
  if (fromFirstByte) FUZZ_CHECK(!TrailBytes(text)[at]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t flags = input.Byte();
  const std::int16_t startField = input.Int16();
  const std::string sought = input.Counted();
  const std::string text = input.Rest();
  const bool ignoreCase = flags & 1;
  const std::optional<std::int32_t> start =
      flags & 2 ? std::optional<std::int32_t>(startField) : std::nullopt;

  const std::int32_t forward = FindText(text, sought, start, ignoreCase);
  FUZZ_CHECK(forward == ReferenceForward(text, sought, start, ignoreCase));
  CheckHit(text, sought, forward, !start || *start <= 1, ignoreCase);
  if (forward > 0 && !ClipText(sought).empty() && start) FUZZ_CHECK(forward >= *start);

  const std::int32_t backward = FindTextBackward(text, sought, start, ignoreCase);
  FUZZ_CHECK(backward == ReferenceBackward(text, sought, start, ignoreCase));
  CheckHit(text, sought, backward, true, ignoreCase);
  if (backward > 0 && !ClipText(sought).empty() && start)
    FUZZ_CHECK(backward - 1 + static_cast<std::int32_t>(ClipText(sought).size()) <= *start - 1);

  // Without a start both searches see the same occurrences.
  if (!start && !ClipText(sought).empty()) {
    FUZZ_CHECK((forward == -1) == (backward == -1));
    FUZZ_CHECK(forward <= backward);
  }
  return 0;
}
