// What the run's record relies on: the local time, the system's true
// version, its texts for errors, and UTF-8 from the program's path text.
#include <gtest/gtest.h>

#include <string>

#include "app/run_log.h"
#include "conformance/harness.h"
#include "runtime/text_encoding.h"

namespace {

using RunLogConformanceTest = HarnessTest;

TEST_F(RunLogConformanceTest, TimeVersionAndErrorTexts) {
  win::SYSTEMTIME now{};
  api().GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
  EXPECT_TRUE(now.wDay >= 1 && now.wDay <= 31);

  win::OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_EQ(api().RtlGetVersion(&version), win::STATUS_SUCCESS);
  EXPECT_GE(version.dwMajorVersion, 6u);

  // Texts for the errors a run reports, one line each; none for a number
  // the system does not know.
  for (const win::DWORD error : {2u, 5u, 32u, 112u, 1223u}) {
    SCOPED_TRACE(error);
    const Text text = ErrorText(api(), error);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.back(), ' ');
  }
  EXPECT_TRUE(ErrorText(api(), 0x20000001).empty());
}

TEST_F(RunLogConformanceTest, PathTextBecomesUtf8) {
  // "D:\游戏€ǹ" in the program's path bytes (GB18030), and in UTF-8.
  const Text path = "D:\\\xD3\xCE\xCF\xB7\x80\xA8\xBF";
  const std::u16string units = WideToUnits(TrimWideAtNul(TextToWide(api(), path, kPathCodePage), false));
  ASSERT_TRUE(units == u"D:\\\u6E38\u620F\u20AC\u01F9");
  char utf8[64] = {};
  const int n = api().WideCharToMultiByte(65001, 0, units.data(), static_cast<int>(units.size()), utf8,
                                          sizeof utf8);
  EXPECT_EQ(std::string(utf8, n > 0 ? n : 0), "D:\\\xE6\xB8\xB8\xE6\x88\x8F\xE2\x82\xAC\xC7\xB9");
}

}  // namespace
