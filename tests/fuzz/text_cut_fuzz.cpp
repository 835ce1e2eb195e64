// TextLeft, ToLowerAscii and CompareText.
//
// Input: n (32-bit), a counted second text, then the text.
#include <algorithm>
#include <cstring>

#include "fuzz_input.h"
#include "runtime/values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::int32_t n = input.Int32();
  const std::string other = input.Counted();
  const std::string raw = input.Rest();
  const std::string_view text = ClipText(raw);
  const std::size_t kept = n <= 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), text.size());

  FUZZ_CHECK(TextLength(raw) == static_cast<std::int32_t>(text.size()));

  const Text left = TextLeft(raw, n);
  FUZZ_CHECK(left.size() == kept);
  FUZZ_CHECK(text.substr(0, kept) == left);

  // Only A-Z outside two-byte characters change, each to its lower case.
  const Text lower = ToLowerAscii(raw);
  FUZZ_CHECK(lower.size() == text.size());
  const std::vector<bool> trail = TrailBytes(text);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool folds = !trail[i] && c >= 'A' && c <= 'Z';
    FUZZ_CHECK(lower[i] == (folds ? static_cast<char>(c - 'A' + 'a') : c));
  }
  FUZZ_CHECK(ToLowerAscii(lower) == lower);

  // Ordered as memcmp on unsigned bytes, shorter prefix first.
  const std::string_view second = ClipText(other);
  const int bytes = std::memcmp(text.data(), second.data(), std::min(text.size(), second.size()));
  const int expected = bytes != 0 ? (bytes < 0 ? -1 : 1)
                       : text.size() == second.size() ? 0
                       : text.size() < second.size() ? -1 : 1;
  FUZZ_CHECK(CompareText(raw, other) == expected);
  FUZZ_CHECK(CompareText(other, raw) == -expected);
  return 0;
}
