// FindText and FindTextBackward against a plain reference walk.
//
// Input: flags (bit 0 ignoreCase, bit 1 start given), start (16-bit), a
// counted sought text, then the text.
#include <optional>

#include "fuzz_input.h"
#include "runtime/values.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// sought at text[at..]: two-byte characters exactly, other bytes with ASCII
// letters folded when ignoreCase.
bool Matches(std::string_view text, std::size_t at, std::string_view sought, bool ignoreCase) {
  if (at + sought.size() > text.size()) return false;
  const std::vector<bool> trail = TrailBytes(text.substr(at, sought.size()));
  for (std::size_t i = 0; i < sought.size(); ++i) {
    const char a = text[at + i], b = sought[i];
    const bool exact = !ignoreCase || trail[i] || static_cast<unsigned char>(a) >= 0x80;
    if (exact ? a != b : Lower(a) != Lower(b)) return false;
  }
  return true;
}

// Character starts of text[from..end) when walked from `from`, first to last.
std::vector<std::size_t> Starts(std::string_view text, std::size_t from, std::size_t end) {
  std::vector<std::size_t> starts;
  const std::vector<bool> trail = TrailBytes(text, from);
  for (std::size_t p = from; p < end; ++p)
    if (!trail[p]) starts.push_back(p);
  return starts;
}

std::int32_t ReferenceForward(std::string_view text, std::string_view sought,
                              std::optional<std::int32_t> start, bool ignoreCase) {
  text = ClipText(text);
  sought = ClipText(sought);
  const std::size_t from = start && *start > 1 ? static_cast<std::size_t>(*start) - 1 : 0;
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  for (std::size_t p : Starts(text, from, text.size()))
    if (Matches(text, p, sought, ignoreCase)) return static_cast<std::int32_t>(p + 1);
  return -1;
}

std::int32_t ReferenceBackward(std::string_view text, std::string_view sought,
                               std::optional<std::int32_t> start, bool ignoreCase) {
  text = ClipText(text);
  sought = ClipText(sought);
  std::size_t end = text.size();
  if (start) end = *start <= 1 ? 0 : std::min<std::size_t>(end, static_cast<std::size_t>(*start) - 1);
  if (end == 0) return -1;
  if (sought.empty()) return 1;
  std::int32_t found = -1;
  for (std::size_t p : Starts(text, 0, end))
    if (p + sought.size() <= end && Matches(text, p, sought, ignoreCase))
      found = static_cast<std::int32_t>(p + 1);
  return found;
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
