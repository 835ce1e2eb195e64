// The console writer on a console that is read back cell by cell.
#include <gtest/gtest.h>

#include "conformance/harness.h"
#include "runtime/console_writer.h"

namespace {

class ConsoleWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harness->UseFreshConsole(false));
    writer.create(harness->api());
  }
  std::vector<win::WORD> Attributes(int row, int count) {
    std::vector<win::WORD> attributes;
    harness->ReadRow(row, count, &attributes);
    return attributes;
  }
  // Raw bytes after the writer's, to see the attributes it left behind.
  void WriteRaw(const char* text) {
    win::DWORD written = 0;
    auto out = harness->api().GetStdHandle(win::STD_OUTPUT_HANDLE);
    harness->api().WriteFile(out, text, static_cast<win::DWORD>(std::char_traits<char>::length(text)),
                             &written);
  }

  std::unique_ptr<Harness> harness = MakeHarness();
  ConsoleWriter writer;
};

TEST(ConsoleAttributeTest, ColourTable) {
  EXPECT_EQ(ConsoleAttribute(kBrightRed, kBrightWhite), 0xFC);
  EXPECT_EQ(ConsoleAttribute(kBrightWhite, kDarkMagenta), 0x5F);
  EXPECT_EQ(ConsoleAttribute(kDarkCyan, kBlack), 0x03);
  EXPECT_EQ(ConsoleAttribute(kBrightYellow, kBrightBlue), 0x9E);
  EXPECT_EQ(ConsoleAttribute(kDarkRed, kDarkBlue), 0x14);  // index order is not bit order
  // Out-of-range indexes are light grey on either side; only the low 16 bits count.
  EXPECT_EQ(ConsoleAttribute(0, 17), 0x77);
  EXPECT_EQ(ConsoleAttribute(17, 1), 0x07);
  EXPECT_EQ(ConsoleAttribute(-1, 0x10000 + 1), 0x07);
  EXPECT_EQ(ConsoleAttribute(0x10000 + 10, 0x20000 + 16), 0xFC);
}

TEST_F(ConsoleWriterTest, WritesInColoursAndRestoresAttributes) {
  ASSERT_TRUE(writer.write(kBrightRed, kBrightWhite, "AB"));
  ASSERT_TRUE(writer.write(kBrightWhite, kDarkMagenta, "C"));
  ASSERT_TRUE(writer.write(0, 17, "D"));
  WriteRaw("E");
  EXPECT_EQ(harness->ReadRow(0, 5, nullptr), "ABCDE");
  EXPECT_EQ(Attributes(0, 5), (std::vector<win::WORD>{0xFC, 0xFC, 0x5F, 0x77, 0x07}));
}

TEST_F(ConsoleWriterTest, TextGoesOutByteForByte) {
  const char percent[] = "100% %d %s %n %%\r\n";
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, percent));
  EXPECT_EQ(harness->ReadRow(0, 16, nullptr), "100% %d %s %n %%");
  const std::string gbk = "免责声明：~";
  ASSERT_TRUE(writer.write(kBrightRed, kBrightWhite, gbk));
  std::string row = harness->ReadRow(1, 20, nullptr);
  EXPECT_EQ(row.substr(0, row.find_last_not_of(' ') + 1), gbk);
}

TEST_F(ConsoleWriterTest, CursorMovesOnlyWithBothCoordinates) {
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "ab"));
  // Written at (5, 2), cursor put back after "ab".
  ASSERT_TRUE(writer.write(5, 2, true, kBrightGreen, kBlack, "xy"));
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "c"));
  // Only one coordinate: written at the cursor.
  ASSERT_TRUE(writer.write(7, std::nullopt, false, kLightGrey, kBlack, "d"));
  ASSERT_TRUE(writer.write(std::nullopt, 3, false, kLightGrey, kBlack, "e"));
  EXPECT_EQ(harness->ReadRow(0, 5, nullptr), "abcde");
  EXPECT_EQ(harness->ReadRow(2, 7, nullptr), "     xy");
  EXPECT_EQ(Attributes(2, 7)[5], 0x0A);
  // Without restoring, the next write follows the moved text.
  ASSERT_TRUE(writer.write(1, 4, false, kLightGrey, kBlack, "f"));
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "g"));
  EXPECT_EQ(harness->ReadRow(4, 3, nullptr), " fg");
}

TEST_F(ConsoleWriterTest, AbsentAndEmptyTexts) {
  EXPECT_TRUE(writer.write(std::nullopt, std::nullopt, false, kBrightRed, kBlack, std::nullopt));
  EXPECT_TRUE(writer.write(kBrightRed, kBlack, ""));
  WriteRaw("z");
  EXPECT_EQ(harness->ReadRow(0, 1, nullptr), "z");
  EXPECT_EQ(Attributes(0, 1)[0], 0x07);
}

TEST_F(ConsoleWriterTest, NothingWithoutHandles) {
  ConsoleWriter never;
  EXPECT_FALSE(never.write(kBrightRed, kBlack, "x"));
  writer.destroy();
  EXPECT_FALSE(writer.write(kBrightRed, kBlack, "x"));
  writer.destroy();
  EXPECT_FALSE(writer.created());
  EXPECT_EQ(harness->ReadRow(0, 1, nullptr), " ");
}

TEST(ConsoleWriterRedirectedTest, WritesNothingToAFile) {
  auto harness = MakeHarness();
  ASSERT_TRUE(harness->UseFreshConsole(true));
  ConsoleWriter writer;
  writer.create(harness->api());
  EXPECT_FALSE(writer.write(kBrightRed, kBrightWhite, "lost"));
  EXPECT_FALSE(writer.write(kBrightRed, kBrightWhite, ""));
  EXPECT_EQ(harness->RedirectedBytes(), "");
}

}  // namespace
