// What the elevated part relies on: the program's own path and command line.
#include <gtest/gtest.h>

#include <string>

#include "app/elevation.h"
#include "conformance/harness.h"
#include "runtime/text_encoding.h"

namespace {

using ElevationConformanceTest = HarnessTest;

// The program name comes first, in quotes, and an empty line gives it alone.
TEST_F(ElevationConformanceTest, TheProgramsOwnPathAndCommandLine) {
  win::WCHAR path[1024] = {};
  const win::DWORD n = api().GetModuleFileNameW(0, path, 1024);
  ASSERT_GT(n, 3u) << LastError(api());
  ASSERT_LT(n, 1024u);
  // The same path as the 8-bit call gives, converted.
  char narrow[2048] = {};
  ASSERT_GT(api().GetModuleFileNameA(0, narrow, sizeof narrow), 0u);
  EXPECT_TRUE(WideToUnits(TrimWideAtNul(TextToWide(api(), narrow, kPathCodePage), false)) ==
              std::u16string(path, n));

  const win::WCHAR* line = api().GetCommandLineW();
  ASSERT_NE(line, nullptr);
  int count = 0;
  win::WCHAR** argv = api().CommandLineToArgvW(line, &count);
  ASSERT_NE(argv, nullptr) << LastError(api());
  EXPECT_GE(count, 1);
  api().LocalFree(argv);

  argv = api().CommandLineToArgvW(u"", &count);
  ASSERT_NE(argv, nullptr);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(std::u16string(argv[0]) == std::u16string(path, n));
  api().LocalFree(argv);
}

}  // namespace
