// Faults injected over a backend: what a failed call answers and what
// reaches the backend behind it.
#include <gtest/gtest.h>

#include "platform/faulting_api.h"
#include "platform/sim/machine.h"

namespace {

TEST(FaultingApiTest, AFailedCallAnswersAsWindowsFailsAndNeverReachesTheBackend) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\Data");
  win::FaultingApi api(machine.model);
  api.Fail(win::Call::CreateFileA);
  api.Fail(win::Call::GetTempPathA);
  api.Fail(win::Call::RegOpenKeyExW);

  EXPECT_EQ(api.CreateFileA("C:\\Data\\a.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0),
            win::INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.GetLastError(), win::ERROR_GEN_FAILURE);
  EXPECT_FALSE(machine.files.Exists("C:\\Data\\a.txt"));
  EXPECT_EQ(machine.files.changes(), 0);

  char buffer[260] = "untouched";
  EXPECT_EQ(api.GetTempPathA(sizeof buffer, buffer), 0u);
  EXPECT_STREQ(buffer, "untouched");

  win::HKEY key = 0;
  EXPECT_EQ(api.RegOpenKeyExW(win::HKEY_CURRENT_USER, u"Software", 0, win::KEY_QUERY_VALUE, &key),
            win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, 0u);

  EXPECT_EQ(api.failed, (std::vector<std::string>{"CreateFileA", "GetTempPathA", "RegOpenKeyExW"}));
  // The plans are spent: the next calls reach the backend.
  const win::HANDLE file =
      api.CreateFileA("C:\\Data\\a.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0);
  EXPECT_NE(file, win::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(machine.files.Exists("C:\\Data\\a.txt"));
  EXPECT_EQ(api.CloseHandle(file), win::TRUE);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(FaultingApiTest, AFailedCloseStillReleasesTheHandle) {
  sim::Machine machine;
  win::FaultingApi api(machine.model);
  const win::HANDLE file = api.CreateFileA("C:\\a.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0);
  ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
  api.Fail(win::Call::CloseHandle);
  EXPECT_EQ(api.CloseHandle(file), win::FALSE);
  EXPECT_EQ(api.GetLastError(), win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(FaultingApiTest, ACrashStopsEveryFailableCallAndCallsThatCannotFailGoOn) {
  sim::Machine machine;
  win::FaultingApi api(machine.model);
  int crashes = 0;
  api.onCrash = [&] { ++crashes; };
  api.CrashAtCall(2);
  EXPECT_NE(api.CreateFileA("C:\\a.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0),
            win::INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.CreateFileA("C:\\b.txt", win::GENERIC_WRITE, 0, win::CREATE_NEW, 0),
            win::INVALID_HANDLE_VALUE);
  const win::DWORD before = machine.clock.tick;
  api.Sleep(10);
  EXPECT_EQ(machine.clock.tick, before + 10);
  EXPECT_TRUE(api.crashed);
  EXPECT_EQ(crashes, 1);
  EXPECT_FALSE(machine.files.Exists("C:\\b.txt"));
  EXPECT_EQ(api.calls, (std::vector<std::string>{"CreateFileA", "CreateFileA", "Sleep"}));
}

TEST(FaultingApiDeathTest, ANameTheListLacksStopsTheTest) {
  sim::Machine machine;
  EXPECT_DEATH(machine.faults.Fail("MoveFileExA"), "no platform call is named MoveFileExA");
}

}  // namespace
