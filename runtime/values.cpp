#include "runtime/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A text ends at its first zero byte.
std::string_view Clip(std::string_view text) {
  const std::size_t end = text.find('\0');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Code page 936's (and GB18030's) lead bytes; 0x80 ("€") and 0xFF stand alone.
bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::size_t Length(std::int32_t n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

// `sought` at text[at..]; with ignoreCase only its single-byte letters fold.
bool MatchesAt(std::string_view text, std::size_t at, std::string_view sought, bool ignoreCase) {
  if (!ignoreCase) return text.compare(at, sought.size(), sought) == 0;
  for (std::size_t i = 0; i < sought.size(); ++i) {
    const char a = text[at + i], b = sought[i];
    if (IsLead(Byte(sought, i))) {
      if (a != b || (i + 1 < sought.size() && text[at + i + 1] != sought[i + 1])) return false;
      ++i;
    } else if (LowerAscii(a) != LowerAscii(b)) {
      return false;
    }
  }
  return true;
}

// Walks text[from..end) GBK-aware; returns the 0-based position of the first
// match (last when `last`), or npos.
std::size_t Walk(std::string_view text, std::size_t from, std::size_t end, std::string_view sought,
                 bool ignoreCase, bool last) {
  std::size_t found = std::string_view::npos;
  for (std::size_t p = from; p < end && end - p >= sought.size();) {
    if (MatchesAt(text, p, sought, ignoreCase)) {
      if (!last) return p;
      found = p;
    }
    p += IsLead(Byte(text, p)) ? 2 : 1;
  }
  return found;
}

std::int32_t Position(std::size_t index) {
  return index == std::string_view::npos ? -1 : static_cast<std::int32_t>(index + 1);
}

}  // namespace

Text ValueToText(std::int32_t value) {
  char digits[12];
  char* p = digits + sizeof digits;
  // Work in unsigned so INT32_MIN negates cleanly.
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) magnitude = 0u - magnitude;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return Text(p, static_cast<std::size_t>(digits + sizeof digits - p));
}

Text ValueToText(std::string_view text) { return Text(Clip(text)); }

Text JoinPath(std::string_view root, std::string_view part) {
  Text path;
  path.reserve(root.size() + part.size());
  path.append(root);
  path.append(part);
  return path;
}

Text TruthToText(std::int32_t truth) { return truth != 0 ? "真" : "假"; }

Text FixedCharsToText(const char* data, std::size_t capacity) {
  if (data == nullptr) return Text();
  const auto* zero = static_cast<const char*>(std::memchr(data, 0, capacity));
  return Text(data, zero ? static_cast<std::size_t>(zero - data) : capacity);
}

std::int32_t FloorToInt(double x) {
  double whole = 0;
  const double fraction = std::modf(x, &whole);
  if (std::fabs(fraction) > 0.999999999999) x = x > 0 ? whole + 1 : whole - 1;
  const double floored = std::floor(x);
  // Outside the 64-bit range (and NaN) the conversion is undefined; give 0,
  // the low half of the x86 "integer indefinite" result.
  if (!(floored >= -9223372036854775808.0 && floored < 9223372036854775808.0)) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(floored)));
}

std::int32_t CompareText(std::string_view a, std::string_view b) {
  a = Clip(a);
  b = Clip(b);
  // string_view compares chars through char_traits<char>, which orders as unsigned char.
  const int order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

Text ConcatTextList(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += Clip(part).size();
  Text joined;
  joined.reserve(size);
  for (std::string_view part : parts) joined += Clip(part);
  return joined;
}

std::int32_t TextLength(std::string_view text) {
  return static_cast<std::int32_t>(Clip(text).size());
}

std::int32_t FindText(std::string_view text, std::string_view sought,
                      std::optional<std::int32_t> start, bool ignoreCase) {
  text = Clip(text);
  sought = Clip(sought);
  const std::size_t from = start && *start > 1 ? static_cast<std::size_t>(*start) - 1 : 0;
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  return Position(Walk(text, from, text.size(), sought, ignoreCase, false));
}

std::int32_t FindTextBackward(std::string_view text, std::string_view sought,
                              std::optional<std::int32_t> start, bool ignoreCase) {
  text = Clip(text);
  sought = Clip(sought);
  std::size_t end = text.size();
  if (start) end = *start > 1 ? std::min(end, static_cast<std::size_t>(*start) - 1) : 0;
  if (end == 0) return -1;
  if (sought.empty()) return 1;
  return Position(Walk(text, 0, end, sought, ignoreCase, true));
}

Text TextLeft(std::string_view text, std::int32_t n) {
  text = Clip(text);
  return Text(text.substr(0, Length(n)));
}

Text ToLowerAscii(std::string_view text) {
  Text lower(Clip(text));
  for (std::size_t i = 0; i < lower.size(); ++i) {
    if (IsLead(Byte(lower, i)))
      ++i;
    else
      lower[i] = LowerAscii(lower[i]);
  }
  return lower;
}
