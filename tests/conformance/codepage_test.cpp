// The platform's code-page conversions, as the program's text relies on them.
#include <gtest/gtest.h>

#include <string>

#include "conformance/harness.h"

namespace {

std::u16string ToWide(win::Api& api, const std::string& text) {
  int n = api.MultiByteToWideChar(936, 0, text.c_str(), -1, nullptr, 0);
  EXPECT_GT(n, 0) << "MultiByteToWideChar size of \"" << text << "\": " << LastError(api);
  std::u16string wide(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
  EXPECT_EQ(api.MultiByteToWideChar(936, 0, text.c_str(), -1, wide.data(), n), n)
      << "MultiByteToWideChar of \"" << text << "\": " << LastError(api);
  return wide;
}

std::string ToText(win::Api& api, const std::u16string& wide) {
  int n = api.WideCharToMultiByte(936, 0, wide.c_str(), -1, nullptr, 0);
  EXPECT_GT(n, 0) << "WideCharToMultiByte size of " << ::testing::PrintToString(wide) << ": "
                  << LastError(api);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  EXPECT_EQ(api.WideCharToMultiByte(936, 0, wide.c_str(), -1, text.data(), n), n)
      << "WideCharToMultiByte of " << ::testing::PrintToString(wide) << ": " << LastError(api);
  return text;
}

TEST(CodePageTest, RoundTripsCodePage936) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string text = "Thistlegarden补丁程序\\补丁对比图 欧尼酱~";
  std::u16string wide = ToWide(api, text);
  // The count includes the terminator.
  EXPECT_EQ(wide, std::u16string(u"Thistlegarden补丁程序\\补丁对比图 欧尼酱~") + u'\0');
  EXPECT_EQ(ToText(api, wide), text + '\0');
  // The euro sign is the code page's single byte 0x80.
  EXPECT_EQ(ToWide(api, "\x80"), (std::u16string{0x20AC, 0}));
}

// GB18030, with which paths are converted: the bytes of code page 936 for
// every character 936 has (its euro sign too), four bytes for any other,
// surrogate pairs too.
TEST(CodePageTest, GB18030HoldsEveryCharacter) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::u16string wide = u"补丁 \u266A\u00C4\uAC8C\U0001F600\u20AC";
  const std::string bytes =
      "补丁 \x81\x37\xAC\x38\x81\x30\x87\x32\x82\x37\xDD\x35\x94\x39\xFC\x36\x80";
  char text[64] = {};
  const int n = api.WideCharToMultiByte(54936, 0, wide.c_str(), static_cast<int>(wide.size()), text,
                                        sizeof text);
  EXPECT_EQ(std::string(text, static_cast<std::size_t>(n > 0 ? n : 0)), bytes) << LastError(api);
  char16_t back[32] = {};
  const int units = api.MultiByteToWideChar(54936, 0, bytes.c_str(), static_cast<int>(bytes.size()),
                                            back, 32);
  EXPECT_EQ(std::u16string(back, static_cast<std::size_t>(units > 0 ? units : 0)), wide)
      << LastError(api);
}

TEST(CodePageTest, UnrepresentableAndShortBuffers) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  // Characters the code page lacks become its default character.
  EXPECT_EQ(ToText(api, u"a\u0E01b"), std::string("a?b") + '\0');
  EXPECT_EQ(ToText(api, u"\U0001F600"), std::string("??") + '\0');
  // A count without the terminator converts just those units.
  const char16_t wide[] = u"补丁";
  char out[8] = {};
  EXPECT_EQ(api.WideCharToMultiByte(936, 0, wide, 1, out, 8), 2) << "one unit of u\"补丁\": "
                                                                 << LastError(api);
  EXPECT_EQ(std::string(out), "补");
  // Too small a buffer is a failure, not a partial result.
  EXPECT_EQ(api.WideCharToMultiByte(936, 0, wide, -1, out, 3), 0)
      << "u\"补丁\" into 3 bytes gave \"" << std::string(out, 3) << "\"";
  EXPECT_EQ(api.GetLastError(), win::ERROR_INSUFFICIENT_BUFFER) << "u\"补丁\" into 3 bytes";
  char16_t units[2] = {};
  EXPECT_EQ(api.MultiByteToWideChar(936, 0, "abc", -1, units, 2), 0) << "\"abc\" into 2 units";
  EXPECT_EQ(api.GetLastError(), win::ERROR_INSUFFICIENT_BUFFER) << "\"abc\" into 2 units";
}

}  // namespace
