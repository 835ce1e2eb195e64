// Small value, text and byte-array operations.
//
// Text arguments end at their first zero byte, if any; an empty view stands
// for an absent text. Positions are 1-based byte positions, -1 is "none".
// Operations marked GBK-aware treat a byte from 0x81 to 0xFE (code page 936's
// lead bytes) as the first of a two-byte character and step over the byte
// after it; 0x80 ("€") and 0xFF are characters of one byte. A GB18030
// four-byte character walks as two such pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "runtime/types.h"

// `root` followed directly by `part`, whatever either holds: a path of a
// folder ending in "\\" and a part below it.
Text JoinPath(std::string_view root, std::string_view part);

// Signed decimal, as "%d".
Text ValueToText(std::int32_t value);
// A copy of the text.
Text ValueToText(std::string_view text);
// "真" for nonzero, "假" for zero.
Text TruthToText(std::int32_t truth);
// A fixed char array: the bytes before the first zero, all when there is none.
Text FixedCharsToText(const char* data, std::size_t capacity);

// Floor with near-integers (within 1e-12 below, away from zero) rounded up to
// the whole number; low 32 bits of the 64-bit result. NaN, infinities and
// values outside the 64-bit range give 0.
std::int32_t FloorToInt(double x);

// -1, 0 or 1 as strcmp on unsigned bytes.
std::int32_t CompareText(std::string_view a, std::string_view b);

Text ConcatTextList(std::initializer_list<std::string_view> parts);
template <typename... Parts>
Text ConcatTexts(const Parts&... parts) {
  return ConcatTextList({std::string_view(parts)...});
}

std::int32_t TextLength(std::string_view text);

// First occurrence at or after `start` (below 1 counts as 1); GBK-aware walk
// from `start`. An empty `sought` gives 1 for a non-empty region, else -1.
std::int32_t FindText(std::string_view text, std::string_view sought,
                      std::optional<std::int32_t> start = std::nullopt, bool ignoreCase = false);
// Last occurrence lying wholly in the first start-1 bytes (whole text when
// `start` is absent); GBK-aware walk from the first byte.
std::int32_t FindTextBackward(std::string_view text, std::string_view sought,
                              std::optional<std::int32_t> start = std::nullopt,
                              bool ignoreCase = false);

// The first min(n, length) bytes; empty when n <= 0. Byte-wise.
Text TextLeft(std::string_view text, std::int32_t n);
// A-Z to a-z; GBK-aware, so two-byte characters are copied unchanged.
Text ToLowerAscii(std::string_view text);
