// Value and text operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iomanip>
#include <limits>
#include <utility>

#include "install/version_id.h"
#include "runtime/values.h"

namespace {

using std::nullopt;

// Each input against what `function` must give; a failure names the input.
template <typename In, typename Function>
void ExpectEach(Function function, std::initializer_list<std::pair<In, std::int32_t>> cases) {
  for (const auto& [in, expected] : cases)
    EXPECT_EQ(function(in), expected) << "input " << std::setprecision(17) << in;
}

TEST(ValueToTextTest, NumbersTruthAndCharArrays) {
  EXPECT_EQ(ValueToText(0), "0");
  EXPECT_EQ(ValueToText(-1), "-1");
  EXPECT_EQ(ValueToText(std::numeric_limits<std::int32_t>::max()), "2147483647");
  EXPECT_EQ(ValueToText(std::numeric_limits<std::int32_t>::min()), "-2147483648");

  EXPECT_EQ(TruthToText(1), "\xD5\xE6");  // 真
  EXPECT_EQ(TruthToText(-7), "\xD5\xE6");
  EXPECT_EQ(TruthToText(0), "\xBC\xD9");  // 假

  const char field[6] = {'a', '.', 'e', 0, 'x', 'y'};
  EXPECT_EQ(FixedCharsToText(field, sizeof field), "a.e");
  const char full[3] = {'a', 'b', 'c'};
  EXPECT_EQ(FixedCharsToText(full, sizeof full), "abc");
}

TEST(FloorToIntTest, NearIntegerRule) {
  ExpectEach<double>(FloorToInt, {{2.9999999999995, 3},
                                  {2.999999999998, 2},
                                  {276.93, 276},
                                  {306.99999999999994, 307},
                                  {306.9999, 306},
                                  {-0.5, -1},
                                  {-2.9999999999995, -3},
                                  {-0.9999999999995, -1},
                                  {-3.0, -3}});
}

TEST(FloorToIntTest, KeepsLow32BitsAndMapsUnrepresentableToZero) {
  ExpectEach<double>(FloorToInt, {{4294967296.0 + 5.25, 5},
                                  {2147483648.0, std::numeric_limits<std::int32_t>::min()},
                                  {-2147483649.0, std::numeric_limits<std::int32_t>::max()},
                                  {1e300, 0},
                                  {-1e300, 0},
                                  {std::nan(""), 0},
                                  {std::numeric_limits<double>::infinity(), 0}});
}

TEST(FloorToIntTest, AssemblySizeCodes) {
  ExpectEach<std::int32_t>(AssemblySizeCode, {{2904555, 276},
                                              {2904556, 277},
                                              {2894070, 276},
                                              {2894069, 275},
                                              {3229614, 307},
                                              {-1, -1}});
}

TEST(TextTest, CompareConcatLength) {
  EXPECT_EQ(CompareText("0.25a", "0.25A"), 1);
  EXPECT_EQ(CompareText("0.25A", "0.25a"), -1);
  EXPECT_EQ(CompareText("", Text()), 0);
  EXPECT_EQ(CompareText("ab", "abc"), -1);
  EXPECT_EQ(CompareText("\x80", "z"), 1);  // unsigned bytes
  EXPECT_EQ(CompareText(Text("ab\0x", 4), "ab"), 0);

  const Text name = "game.exe";
  EXPECT_EQ(ConcatTexts("C:\\", Text(), name, std::string_view("真")), "C:\\game.exe\xD5\xE6");
  EXPECT_EQ(ConcatTexts(Text("a\0b", 3), "c"), "ac");
  EXPECT_EQ(TextLength("补丁"), 4);
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength(Text("ab\0cd", 5)), 2);
}

TEST(TextTest, FindForward) {
  EXPECT_EQ(FindText("abc", ""), 1);
  EXPECT_EQ(FindText("", ""), -1);
  EXPECT_EQ(FindText("abc", "", 4), -1);

  EXPECT_EQ(FindText("aXbX", "X"), 2);
  EXPECT_EQ(FindText("aXbX", "X", 3), 4);
  EXPECT_EQ(FindText("aXbX", "X", 5), -1);
  EXPECT_EQ(FindText("aXbX", "X", -3), 2);
  EXPECT_EQ(FindText("aXbX", "bXc"), -1);
  EXPECT_EQ(FindText("ab", "abc"), -1);

  // 0x81 0x5C is one character; its trail byte is not a backslash.
  EXPECT_EQ(FindText("\x81\x5C\\", "\\"), 3);
  EXPECT_EQ(FindText("\xD5\xE6\xE6", "\xE6"), 3);
  EXPECT_EQ(FindText("\xD5", "\xD5"), 1);

  EXPECT_EQ(FindText("Thistle.EXE", "thistle.exe"), -1);
  EXPECT_EQ(FindText("Thistle.EXE", "e.exe", nullopt, true), 7);
  EXPECT_EQ(FindText("x\x81\x41", "\x81\x61", nullopt, true), -1);  // trail bytes never fold
}

TEST(TextTest, FindBackward) {
  EXPECT_EQ(FindTextBackward("aXbX", "X"), 4);
  EXPECT_EQ(FindTextBackward("aXbX", "X", 4), 2);
  EXPECT_EQ(FindTextBackward("aXbX", "X", 99), 4);
  EXPECT_EQ(FindTextBackward("aXbX", "X", 1), -1);
  EXPECT_EQ(FindTextBackward("abab", "ab", 4), 1);  // must lie wholly before start

  EXPECT_EQ(FindTextBackward("abc", ""), 1);
  EXPECT_EQ(FindTextBackward("abc", "", 1), -1);
  EXPECT_EQ(FindTextBackward("", ""), -1);

  EXPECT_EQ(FindTextBackward("C:\\\x81\x5C\\x", "\\"), 6);
  EXPECT_EQ(FindTextBackward("C:\\\x81\x5C", "\\"), 3);
  EXPECT_EQ(FindTextBackward("ab\x81\x5C", "\\"), -1);

  // Lead bytes are 0x81 to 0xFE: "€" (0x80) and 0xFF are one byte each, so
  // the backslash after them is a real one.
  EXPECT_EQ(FindTextBackward("C:\\games\\Thistlegarden\x80\\Thistlegarden.exe", "\\"), 24);
  EXPECT_EQ(FindTextBackward("C:\\a\xFF\\b", "\\"), 6);
  EXPECT_EQ(FindText("\x80\\\x80\\", "\\", 3), 4);
  EXPECT_EQ(FindText("\x80\xD5\xE6", "\xD5\xE6"), 2);
  // GB18030's four-byte characters walk as two pairs.
  EXPECT_EQ(FindTextBackward("C:\\\xA8\xBF\x81\x30\x84\x36\\x", "\\"), 10);
}

TEST(TextTest, CutAndLower) {
  EXPECT_EQ(TextLeft("abc", 2), "ab");
  EXPECT_EQ(TextLeft("abc", 9), "abc");
  EXPECT_EQ(TextLeft("abc", 0), "");
  EXPECT_EQ(TextLeft("\xD5\xE6", 1), "\xD5");

  EXPECT_EQ(ToLowerAscii("AZaz@[\xD5\xE6QX"), "azaz@[\xD5\xE6qx");
  EXPECT_EQ(ToLowerAscii("\x81\x41" "B"), "\x81\x41" "b");
  EXPECT_EQ(ToLowerAscii("A\x81"), "a\x81");
  EXPECT_EQ(ToLowerAscii("\x80" "A\xFF" "B"), "\x80" "a\xFF" "b");
}

}  // namespace
