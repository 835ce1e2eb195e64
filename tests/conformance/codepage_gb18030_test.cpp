// Code page 54936, with which paths are converted: every code point comes
// back as itself, with the bytes of GB18030-2022 and code page 936's bytes
// for every character 936 has; a lone surrogate has none.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "conformance/harness.h"
#include "gb18030_reference.inc"

namespace {

constexpr win::UINT kPath = 54936;

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[4];
  for (unsigned char b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", b);
    out += digits;
  }
  return out;
}

std::string Narrow(win::Api& api, const std::u16string& wide) {
  const int n = api.WideCharToMultiByte(kPath, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0);
  if (n <= 0) return std::string();
  std::string text(static_cast<std::size_t>(n), '\0');
  const int m = api.WideCharToMultiByte(kPath, 0, wide.data(), static_cast<int>(wide.size()),
                                        text.data(), n);
  return m == n ? text : std::string();
}

std::u16string Widen(win::Api& api, const std::string& text) {
  const int n = api.MultiByteToWideChar(kPath, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string wide(static_cast<std::size_t>(n), u'\0');
  const int m = api.MultiByteToWideChar(kPath, 0, text.data(), static_cast<int>(text.size()),
                                        wide.data(), n);
  return m == n ? wide : std::u16string();
}

std::u16string Units(char32_t code) {
  if (code < 0x10000) return std::u16string(1, static_cast<char16_t>(code));
  return {static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)),
          static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF))};
}

// The basic plane at once against the reference; on a difference, the first
// code point that differs.
TEST(CodePageGB18030Test, BasicPlaneAsTheReference) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  std::u16string plane;
  for (char32_t code = 0x80; code < 0x10000; ++code)
    if (code < 0xD800 || code >= 0xE000) plane += static_cast<char16_t>(code);
  const std::string reference(kReference, kReferenceSize);
  const std::string bytes = Narrow(api, plane);
  if (bytes != reference) {
    std::size_t at = 0;
    for (char16_t unit : plane) {
      const std::string one = Narrow(api, std::u16string(1, unit));
      if (one != reference.substr(at, one.size()) || one.empty()) {
        ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(unit) << " gave " << Hex(one)
                      << "; the reference continues " << Hex(reference.substr(at, 4))
                      << LastError(api);
        break;
      }
      at += one.size();
    }
    FAIL() << "the basic plane differs from the reference";
  }
  EXPECT_EQ(Widen(api, reference), plane) << "the reference's bytes read back";
}

// Every code point beyond the basic plane: four bytes counted off from
// 0x90 0x30 0x81 0x30, and back.
TEST(CodePageGB18030Test, SupplementaryPlanesComeBack) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  for (char32_t first = 0x10000; first < 0x110000; first += 0x10000) {
    std::u16string wide;
    std::string expected;
    for (char32_t code = first; code < first + 0x10000; ++code) {
      wide += Units(code);
      std::uint32_t index = 189000 + (code - 0x10000);
      char four[4];
      four[3] = static_cast<char>(0x30 + index % 10);
      index /= 10;
      four[2] = static_cast<char>(0x81 + index % 126);
      index /= 126;
      four[1] = static_cast<char>(0x30 + index % 10);
      four[0] = static_cast<char>(0x81 + index / 10);
      expected.append(four, 4);
    }
    const std::string bytes = Narrow(api, wide);
    ASSERT_EQ(bytes == expected, true) << "plane " << (first >> 16) << ": " << LastError(api);
    ASSERT_EQ(Widen(api, bytes) == wide, true) << "plane " << (first >> 16) << " read back";
  }
}

// Code page 936's two bytes for every character 936 has, except its private use
// code points whose cells GB18030 gives a character: those take four bytes.
TEST(CodePageGB18030Test, CharactersOf936KeepItsBytes) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  int twoByte = 0, moved = 0;
  for (char32_t code = 0x80; code < 0x10000; ++code) {
    if (code >= 0xD800 && code < 0xE000) continue;
    const char16_t unit = static_cast<char16_t>(code);
    char in936[4] = {};
    const int n = api.WideCharToMultiByte(936, 0, &unit, 1, in936, sizeof in936);
    if (n != 2) continue;
    // Only what comes back as itself is a character 936 has.
    char16_t back[2] = {};
    if (api.MultiByteToWideChar(936, 0, in936, n, back, 2) != 1 || back[0] != unit) continue;
    const std::string path = Narrow(api, std::u16string(1, unit));
    if (path == std::string(in936, static_cast<std::size_t>(n))) {
      ++twoByte;
      continue;
    }
    EXPECT_TRUE(code >= 0xE000 && code < 0xF900 && path.size() == 4)
        << "U+" << std::hex << static_cast<unsigned>(code) << ": 936 " << Hex(std::string(in936, 2))
        << ", path " << Hex(path);
    ++moved;
  }
  EXPECT_GT(twoByte, 21000);
  EXPECT_EQ(moved, 100) << "the private use code points of the cells GB18030 gives a character";
  EXPECT_EQ(Narrow(api, u"\u20AC"), "\x80");
  EXPECT_EQ(Widen(api, "\xA2\xE3"), u"\u20AC") << "GB18030's own euro sign";
  // The characters 936 lacks that GB18030 holds in two bytes.
  EXPECT_EQ(Narrow(api, u"\u01F9\u303E\u2FF0\u2FFB\u2E81\u4DAE\u1E3F\uFE10\u9FB4"),
            "\xA8\xBF\xA9\x89\xA9\x8A\xA9\x95\xFE\x50\xFE\x9F\xA8\xBC\xA6\xD9\xFE\x59");
}

// A name that cannot come back as itself is refused, not taken for another.
TEST(CodePageGB18030Test, LoneSurrogatesAndBrokenBytesFail) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  char out[16] = {};
  for (char16_t unit = 0xD800; unit < 0xE000; ++unit) {
    const char16_t wide[3] = {u'a', unit, u'b'};
    ASSERT_EQ(api.WideCharToMultiByte(kPath, 0, wide, 3, out, sizeof out), 0)
        << "U+" << std::hex << static_cast<unsigned>(unit);
    ASSERT_EQ(api.GetLastError(), win::ERROR_NO_UNICODE_TRANSLATION);
  }
  const char16_t reversed[2] = {0xDC00, 0xD800};
  EXPECT_EQ(api.WideCharToMultiByte(kPath, 0, reversed, 2, out, sizeof out), 0);
  char16_t wide[8] = {};
  for (const char* broken : {"\xFF", "a\x81", "\x81\x30", "\x81\x30\x81", "\x81\x7F", "\x84\x31\xA5\x30",
                             "\xE3\x32\x9A\x36"}) {
    EXPECT_EQ(api.MultiByteToWideChar(kPath, 0, broken, static_cast<int>(std::string(broken).size()),
                                      wide, 8),
              0)
        << Hex(broken);
    EXPECT_EQ(api.GetLastError(), win::ERROR_NO_UNICODE_TRANSLATION) << Hex(broken);
  }
}

}  // namespace
