// Game discovery against the platform: text conversions, drive mapping, the
// program's own image path and process lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "conformance/harness.h"
#include "discovery/game_lookup.h"
#include "discovery/image_path.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

// The first process FindProcessIdsByName gives, or 0.
win::DWORD FirstIdByName(win::Api& api, std::string_view name) {
  const std::vector<win::DWORD> found = FindProcessIdsByName(api, name);
  return found.empty() ? 0 : found.front();
}

constexpr std::int32_t kCodePage = 936;

WideText Wide(std::u16string_view units) { return UnitsToWide(units); }

std::string ModulePath(win::Api& api) {
  char path[520] = {};
  api.GetModuleFileNameA(0, path, sizeof path);
  return path;
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// A drive's target list as QueryDosDeviceW gives it, and its unit count.
std::u16string DriveTargets(win::Api& api, char16_t letter, win::DWORD* count = nullptr) {
  const char16_t drive[3] = {letter, u':', 0};
  char16_t target[261] = {};
  const win::DWORD n = api.QueryDosDeviceW(drive, target, 260);
  if (count) *count = n;
  return std::u16string(target, n);
}

// --------------------------------------------------------------- text

TEST(DiscoveryTextTest, RoundTripsGbkText) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const Text text = "C:\\游戏\\Thistlegarden补丁程序\\欧尼酱~.exe";
  const WideText wide = TextToWide(api, text, kCodePage);
  EXPECT_EQ(wide, Wide(u"C:\\游戏\\Thistlegarden补丁程序\\欧尼酱~.exe") + std::string(2, '\0'));
  EXPECT_EQ(WideToText(api, wide, kCodePage), text);
  // Little-endian units and one zero unit, counted in the length.
  EXPECT_EQ(TextToWide(api, "A补", kCodePage), std::string("A\0\x65\x88\0\0", 6));
}

TEST(DiscoveryTextTest, EmptyAndZeroUnits) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const WideText none = TextToWide(api, "", kCodePage);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(WideArg(none).get(), nullptr);
  // The text ends at its first zero byte.
  EXPECT_EQ(TextToWide(api, std::string("ab\0cd", 5), kCodePage), Wide(u"ab") + std::string(2, '\0'));

  EXPECT_EQ(WideToText(api, WideText(), kCodePage), "");
  EXPECT_EQ(WideToText(api, Wide(std::u16string(u"\0abc", 4)), kCodePage), "");
  EXPECT_EQ(WideToText(api, Wide(std::u16string(u"ab\0cd", 5)), kCodePage), "ab");
  // Without a terminator, and with a last odd byte as a unit of its own.
  EXPECT_EQ(WideToText(api, Wide(u"ab"), kCodePage), "ab");
  EXPECT_EQ(WideToText(api, std::string("a\0b", 3), kCodePage), "ab");
}

TEST(DiscoveryTextTest, UnrepresentableCharactersBecomeQuestionMarks) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  EXPECT_EQ(WideToText(api, Wide(u"C:\\\u0E01\\补.exe"), kCodePage), "C:\\?\\补.exe");
  EXPECT_EQ(WideToText(api, Wide(u"\U0001F600"), kCodePage), "??");
}

// --------------------------------------------------------------- folder part

TEST(DiscoveryPathTest, FolderPart) {
  EXPECT_EQ(PathFolderPart("C:\\Games\\Thistlegarden.exe"), "C:\\Games\\");
  EXPECT_EQ(PathFolderPart("C:\\Games\\"), "C:\\");
  EXPECT_EQ(PathFolderPart("C:\\"), "");
  EXPECT_EQ(PathFolderPart("Thistlegarden.exe"), "");
  EXPECT_EQ(PathFolderPart(""), "");
  EXPECT_EQ(PathFolderPart("\\Device\\Mup\\server\\share\\Thistlegarden.exe"),
            "\\Device\\Mup\\server\\share\\");
  // 乗 is 0x81 0x5C: its second byte is not a backslash.
  EXPECT_EQ(PathFolderPart("C:\\游戏\\乗.exe"), "C:\\游戏\\");
  EXPECT_EQ(PathFolderPart("C:\\乗\\Thistlegarden.exe"), "C:\\乗\\");
  EXPECT_EQ(PathFolderPart("C:\\Games\\乗"), "C:\\Games\\");
  // "€" is the one byte 0x80: the folder is not cut one level too high.
  EXPECT_EQ(PathFolderPart("C:\\games\\Thistlegarden\x80\\Thistlegarden.exe"),
            "C:\\games\\Thistlegarden\x80\\");
}

// --------------------------------------------------------------- drives

TEST(DiscoveryDriveTest, QueryDosDeviceCountsBothZeros) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  int mapped = 0;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    win::DWORD count = 0;
    const std::u16string targets = DriveTargets(api, letter, &count);
    const char16_t drive[3] = {letter, u':', 0};
    char16_t target[261] = {};
    SCOPED_TRACE(std::string("QueryDosDeviceW(\"") + char(letter) + ":\") gave " +
                 std::to_string(count) + " units: " + ::testing::PrintToString(targets));
    if (count == 0) {
      EXPECT_EQ(api.GetLastError(), win::ERROR_FILE_NOT_FOUND);
      continue;
    }
    ++mapped;
    // The target, its zero and the list's zero.
    ASSERT_GE(count, 3u);
    EXPECT_EQ(targets[count - 1], 0);
    EXPECT_EQ(targets[count - 2], 0);
    EXPECT_EQ(api.QueryDosDeviceW(drive, target, count), count);
    EXPECT_EQ(api.QueryDosDeviceW(drive, target, count - 1), 0u) << "buffer of " << count - 1;
    EXPECT_EQ(api.GetLastError(), win::ERROR_INSUFFICIENT_BUFFER) << "buffer of " << count - 1;
  }
  EXPECT_GT(mapped, 0) << "no drive letter has a target";
  const char16_t notADrive[2] = {u'C', 0};
  char16_t target[261] = {};
  EXPECT_EQ(api.QueryDosDeviceW(notADrive, target, 260), 0u)
      << "QueryDosDeviceW(\"C\") gave " << ::testing::PrintToString(std::u16string(target));
  EXPECT_EQ(api.GetLastError(), win::ERROR_FILE_NOT_FOUND) << "QueryDosDeviceW(\"C\")";
}

TEST(DiscoveryDriveTest, DevicePathsMapToTheirDrives) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  // Only a drive with a single target maps paths.
  std::u16string devices[26];
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    win::DWORD count = 0;
    const std::u16string targets = DriveTargets(api, letter, &count);
    if (count >= 3 && targets.find(u'\0') == count - 2)
      devices[letter - u'A'] = targets.substr(0, count - 2);
  }
  auto firstLetterOf = [&](const std::u16string& device) -> char16_t {
    for (int i = 0; i < 26; ++i)
      if (!device.empty() && devices[i] == device) return static_cast<char16_t>(u'A' + i);
    return 0;
  };
  const std::u16string tail = u"\\Games\\Thistlegarden\\Thistlegarden.exe";
  int checked = 0;
  for (const auto& device : devices) {
    if (device.empty()) continue;
    SCOPED_TRACE("device " + ::testing::PrintToString(device));
    ++checked;
    const WideText mapped = DevicePathToDrivePath(api, Wide(device + tail + u'\0'));
    EXPECT_EQ(mapped, Wide(std::u16string{firstLetterOf(device), u':'} + tail + u'\0'))
        << WideToText(api, mapped, kCodePage);
    // A longer device name that begins with this one is another device.
    const WideText longer = Wide(device + u"0" + tail + u'\0');
    if (firstLetterOf(device + u"0") == 0) {
      EXPECT_EQ(DevicePathToDrivePath(api, longer), longer);
    }
  }
  EXPECT_GT(checked, 0) << "no drive letter has a single target";
}

TEST(DiscoveryDriveTest, OtherPathForms) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  EXPECT_EQ(DevicePathToDrivePath(api, Wide(u"\\??\\C:\\Games\\Thistlegarden.exe")),
            Wide(u"C:\\Games\\Thistlegarden.exe"));
  EXPECT_EQ(DevicePathToDrivePath(api, Wide(std::u16string(u"\\??\\q:\\x.exe\0", 13))),
            Wide(std::u16string(u"q:\\x.exe\0", 9)));
  for (const char16_t* unchanged :
       {u"\\Device\\NoSuchVolume\\Games\\Thistlegarden.exe", u"\\??\\UNC\\server\\share\\x.exe",
        u"\\??\\C:", u"C:\\Games\\Thistlegarden.exe", u""})
    EXPECT_EQ(DevicePathToDrivePath(api, Wide(unchanged)), Wide(unchanged))
        << ::testing::PrintToString(std::u16string(unchanged));
}

// --------------------------------------------------------------- this program

TEST(DiscoveryImageTest, OwnImageNameRecord) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const win::HANDLE self = api.GetCurrentProcess();
  win::ULONG length = 0;
  ASSERT_EQ(api.NtQueryInformationProcess(self, win::ProcessImageFileName, nullptr, 0, &length),
            win::STATUS_INFO_LENGTH_MISMATCH)
      << "no buffer; length " << length;
  ASSERT_GT(length, sizeof(win::UNICODE_STRING)) << "the length asked for";
  std::u16string buffer((length + 1) / 2, u'\0');
  win::ULONG again = 0;
  ASSERT_EQ(api.NtQueryInformationProcess(self, win::ProcessImageFileName, buffer.data(), length,
                                          &again),
            win::STATUS_SUCCESS)
      << "buffer of " << length << "; length " << again;
  win::UNICODE_STRING record{};
  std::memcpy(&record, buffer.data(), sizeof record);
  // The characters follow the record; Windows counts a zero unit in
  // MaximumLength, Wine does not.
  EXPECT_EQ(reinterpret_cast<char*>(record.Buffer),
            reinterpret_cast<char*>(buffer.data()) + sizeof record);
  SCOPED_TRACE("Length " + std::to_string(record.Length) + ", MaximumLength " +
               std::to_string(record.MaximumLength) + ", buffer " + std::to_string(length));
  EXPECT_EQ(record.Length % 2, 0);
  EXPECT_GE(record.MaximumLength, record.Length);
  EXPECT_LE(sizeof record + record.MaximumLength, length);
  const std::string name = FileName(ModulePath(api));
  const Text image = WideToText(
      api, UnitsToWide(std::u16string_view(record.Buffer, record.Length / 2)), kCodePage);
  EXPECT_EQ(ToLowerAscii(image.substr(image.size() - name.size())), ToLowerAscii(name)) << image;

  // A handle without query rights is refused; another class is not this one.
  const win::HANDLE limited = api.OpenProcess(win::PROCESS_TERMINATE, win::FALSE,
                                              api.GetCurrentProcessId());
  ASSERT_NE(limited, 0u) << "OpenProcess(PROCESS_TERMINATE, own ID): " << LastError(api);
  EXPECT_EQ(api.NtQueryInformationProcess(limited, win::ProcessImageFileName, nullptr, 0, &length),
            win::STATUS_ACCESS_DENIED)
      << "a PROCESS_TERMINATE handle";
  api.CloseHandle(limited);
}

TEST(DiscoveryImageTest, OwnPathInDriveLetterForm) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string module = ModulePath(api);
  const Text viaKernel = WideToText(api, QueryProcessImageName(api, 0), kCodePage);
  EXPECT_EQ(ToLowerAscii(viaKernel), ToLowerAscii(module)) << "process 0, " << LastError(api);
  EXPECT_EQ(ToLowerAscii(GetProcessImagePath(api, 0, kCodePage)), ToLowerAscii(module))
      << "process 0, " << LastError(api);
  // By process ID the same path comes back, and the debug privilege is off.
  EXPECT_EQ(ToLowerAscii(GetProcessImagePath(api, api.GetCurrentProcessId(), kCodePage)),
            ToLowerAscii(module))
      << "process " << api.GetCurrentProcessId() << ", " << LastError(api);
  win::BOOL wasEnabled = win::TRUE;
  if (api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::FALSE, win::FALSE, &wasEnabled) ==
      win::STATUS_SUCCESS) {
    EXPECT_EQ(wasEnabled, win::FALSE) << "debug privilege left on by the path lookup";
  }
  EXPECT_EQ(PathFolderPart(GetProcessImagePath(api, 0, kCodePage)),
            module.substr(0, module.find_last_of('\\') + 1));
}

TEST(DiscoveryImageTest, ProcessesThatCannotBeOpened) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  EXPECT_EQ(api.OpenProcess(win::PROCESS_QUERY_INFORMATION, win::FALSE, 0x7FFFFFF0u), 0u)
      << "process 0x7FFFFFF0";
  EXPECT_EQ(api.GetLastError(), win::ERROR_INVALID_PARAMETER) << "OpenProcess of 0x7FFFFFF0";
  EXPECT_EQ(GetProcessImagePath(api, 0x7FFFFFF0u, kCodePage), "") << "process 0x7FFFFFF0";
}

TEST(DiscoveryImageTest, DebugPrivilegeReportsItsPreviousState) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  win::BOOL original = win::FALSE;
  if (api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::TRUE, win::FALSE, &original) !=
      win::STATUS_SUCCESS)
    GTEST_SKIP() << "the token does not hold the debug privilege";
  win::BOOL was = win::FALSE;
  EXPECT_EQ(api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::FALSE, win::FALSE, &was),
            win::STATUS_SUCCESS)
      << "turning it off, the first time";
  EXPECT_EQ(was, win::TRUE) << "state before turning it off, the first time";
  EXPECT_EQ(api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::FALSE, win::FALSE, &was),
            win::STATUS_SUCCESS)
      << "turning it off, the second time";
  EXPECT_EQ(was, win::FALSE) << "state before turning it off, the second time";
  // The thread has no token of its own.
  EXPECT_EQ(api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::TRUE, win::TRUE, &was),
            static_cast<win::NTSTATUS>(0xC000007Cu))
      << "the thread's token";
  api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, original, win::FALSE, &was);
}

// --------------------------------------------------------------- processes

TEST(DiscoveryProcessTest, FindsItselfByName) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string name = FileName(ModulePath(api));
  std::string upper = name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  EXPECT_EQ(FirstIdByName(api, upper), api.GetCurrentProcessId()) << upper;
  EXPECT_EQ(FirstIdByName(api, name + "x"), 0u) << name + "x";
  EXPECT_EQ(FirstIdByName(api, name.substr(0, name.size() - 1)), 0u)
      << name.substr(0, name.size() - 1);
  EXPECT_EQ(FirstIdByName(api, "no-such-program-d1.exe"), 0u);
}

TEST(DiscoveryProcessTest, SnapshotWalk) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const win::HANDLE snapshot = api.CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, win::INVALID_HANDLE_VALUE) << LastError(api);
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry) - 8;
  // Too small a record is refused (ERROR_BAD_LENGTH on Windows, 122 on Wine).
  EXPECT_EQ(api.Process32First(snapshot, &entry), win::FALSE) << "dwSize " << entry.dwSize;
  if (harness->simulated()) {
    EXPECT_EQ(api.GetLastError(), 24u) << "dwSize " << entry.dwSize;
  }
  entry.dwSize = sizeof(entry);
  int listed = 0;
  bool self = false;
  for (win::BOOL more = api.Process32First(snapshot, &entry); more;
       more = api.Process32Next(snapshot, &entry)) {
    ++listed;
    self |= entry.th32ProcessID == api.GetCurrentProcessId();
  }
  // ERROR_NO_MORE_FILES
  EXPECT_EQ(api.GetLastError(), 18u) << "at the end of " << listed << " entries";
  EXPECT_GT(listed, 0);
  EXPECT_TRUE(self) << "process " << api.GetCurrentProcessId() << " not among " << listed;
  EXPECT_EQ(api.Process32Next(snapshot, &entry), win::FALSE) << "past the end";
  EXPECT_EQ(api.GetLastError(), 18u) << "past the end";
  EXPECT_NE(api.CloseHandle(snapshot), win::FALSE) << LastError(api);
}

// --------------------------------------------------------------- windows

TEST(DiscoveryWindowTest, NoWindowLeavesTheProcessIdAlone) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  EXPECT_EQ(LocateWindow(api, 0, 0, std::nullopt, Text("Thistlegarden-d1 no such window")), 0u);
  // Discovery keeps the ID the name lookup found when there is no window.
  win::DWORD processId = 1234;
  EXPECT_EQ(api.GetWindowThreadProcessId(0, &processId), 0u) << "window 0";
  EXPECT_EQ(api.GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE) << "window 0";
  EXPECT_EQ(processId, 1234u) << "process ID written for window 0";
}

}  // namespace
