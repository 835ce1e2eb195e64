// The console writer on a console that is read back cell by cell.
#include <gtest/gtest.h>

#include "conformance/harness.h"
#include "runtime/console_writer.h"

namespace {

class ConsoleWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(harness->UseFreshConsole(false)) << LastError(harness->api());
    writer.create(harness->api());
  }
  // For a failed write: the platform's last error and the row written to.
  std::string Failed() {
    return LastError(harness->api()) + ", row 0 shows \"" + harness->ReadRow(0, 20, nullptr) +
           "\"";
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
  ASSERT_TRUE(writer.write(kBrightRed, kBrightWhite, "AB")) << Failed();
  ASSERT_TRUE(writer.write(kBrightWhite, kDarkMagenta, "C")) << Failed();
  ASSERT_TRUE(writer.write(0, 17, "D")) << Failed();
  WriteRaw("E");
  EXPECT_EQ(harness->ReadRow(0, 5, nullptr), "ABCDE");
  EXPECT_EQ(Attributes(0, 5), (std::vector<win::WORD>{0xFC, 0xFC, 0x5F, 0x77, 0x07}));
}

TEST_F(ConsoleWriterTest, TextGoesOutByteForByte) {
  const char percent[] = "100% %d %s %n %%\r\n";
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, percent)) << Failed();
  EXPECT_EQ(harness->ReadRow(0, 16, nullptr), "100% %d %s %n %%");
  const std::string gbk = "免责声明：~";
  ASSERT_TRUE(writer.write(kBrightRed, kBrightWhite, gbk)) << Failed();
  std::string row = harness->ReadRow(1, 20, nullptr);
  EXPECT_EQ(row.substr(0, row.find_last_not_of(' ') + 1), gbk) << "row 1: \"" << row << "\"";
}

TEST_F(ConsoleWriterTest, CursorMovesOnlyWithBothCoordinates) {
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "ab")) << Failed();
  // Written at (5, 2), cursor put back after "ab".
  ASSERT_TRUE(writer.write(5, 2, true, kBrightGreen, kBlack, "xy")) << Failed();
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "c")) << Failed();
  // Only one coordinate: written at the cursor.
  ASSERT_TRUE(writer.write(7, std::nullopt, false, kLightGrey, kBlack, "d")) << Failed();
  ASSERT_TRUE(writer.write(std::nullopt, 3, false, kLightGrey, kBlack, "e")) << Failed();
  EXPECT_EQ(harness->ReadRow(0, 5, nullptr), "abcde");
  EXPECT_EQ(harness->ReadRow(2, 7, nullptr), "     xy");
  EXPECT_EQ(Attributes(2, 7)[5], 0x0A) << "attribute of the x written at (5, 2)";
  // Without restoring, the next write follows the moved text.
  ASSERT_TRUE(writer.write(1, 4, false, kLightGrey, kBlack, "f")) << Failed();
  ASSERT_TRUE(writer.write(kLightGrey, kBlack, "g")) << Failed();
  EXPECT_EQ(harness->ReadRow(4, 3, nullptr), " fg");
}

TEST_F(ConsoleWriterTest, AbsentAndEmptyTexts) {
  EXPECT_TRUE(writer.write(std::nullopt, std::nullopt, false, kBrightRed, kBlack, std::nullopt))
      << Failed();
  EXPECT_TRUE(writer.write(kBrightRed, kBlack, "")) << Failed();
  WriteRaw("z");
  EXPECT_EQ(harness->ReadRow(0, 1, nullptr), "z");
  EXPECT_EQ(Attributes(0, 1)[0], 0x07) << "attribute left after absent and empty texts";
}

TEST_F(ConsoleWriterTest, NothingWithoutHandles) {
  ConsoleWriter never;
  EXPECT_FALSE(never.write(kBrightRed, kBlack, "x")) << "a writer never created";
  writer.destroy();
  EXPECT_FALSE(writer.write(kBrightRed, kBlack, "x")) << "a destroyed writer";
  writer.destroy();
  EXPECT_FALSE(writer.created());
  EXPECT_EQ(harness->ReadRow(0, 1, nullptr), " ");
}

TEST(ConsoleWriterRedirectedTest, WritesNothingToAFile) {
  auto harness = MakeHarness();
  ASSERT_TRUE(harness->UseFreshConsole(true)) << LastError(harness->api());
  ConsoleWriter writer;
  writer.create(harness->api());
  EXPECT_FALSE(writer.write(kBrightRed, kBrightWhite, "lost")) << "written to a file";
  EXPECT_FALSE(writer.write(kBrightRed, kBrightWhite, "")) << "written to a file";
  EXPECT_EQ(harness->RedirectedBytes(), "");
}

}  // namespace
