// Game discovery on a simulated machine: window and process lookup, the
// process image path and the WideText operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery/game_lookup.h"
#include "discovery/image_path.h"
#include "platform/sim/machine.h"
#include "unit/scenario.h"
#include "runtime/text_encoding.h"

namespace {

// The first process FindProcessIdsByName gives, or 0.
win::DWORD FirstIdByName(win::Api& api, std::string_view name) {
  const std::vector<win::DWORD> found = FindProcessIdsByName(api, name);
  return found.empty() ? 0 : found.front();
}

constexpr std::int32_t kCodePage = 936;
const char16_t kGameImage[] = u"\\Device\\HarddiskVolume3\\Games\\Thistlegarden\\Thistlegarden.exe";
const char kGamePath[] = "C:\\Games\\Thistlegarden\\Thistlegarden.exe";

using scenario::CallCount;
using scenario::CallsAmong;

WideText Wide(std::u16string_view units) { return UnitsToWide(units); }
WideText Terminated(std::u16string_view units) { return UnitsToWide(units) + std::string(2, '\0'); }

// --------------------------------------------------------------- lookup

// Windows titled "Thistlegarden" of several programs: the file manager open
// on the game's folder above the game's own, a notes program below it.
TEST(FindGameTest, TheGamesWindowIsTheOneItsOwnProcessOwns) {
  sim::Machine machine;
  const win::DWORD explorer =
      machine.processes.Add("explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  const win::DWORD game = machine.processes.Add("THISTLEGARDEN.EXE", kGameImage);
  const win::DWORD notes = machine.processes.Add("Thistlegarden.exe.txt", kGameImage);
  const win::HWND gameWindow = machine.windows.AddForeign("Thistlegarden", "UnityWndClass", game);
  machine.windows.AddForeign("Thistlegarden", "Notepad", notes);
  machine.windows.Raise(machine.windows.AddForeign("thistlegarden", "CabinetWClass", explorer));

  const FoundGame found = FindGame(machine, "Thistlegarden", "Thistlegarden.exe");
  EXPECT_EQ(found.window, gameWindow);
  EXPECT_EQ(found.processId, game);
  EXPECT_EQ(CallCount(machine, "CreateToolhelp32Snapshot"), 1);
  EXPECT_EQ(CallCount(machine, "FindWindowExA"), 2);  // the file manager's, then the game's
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(FindGameTest, OtherProgramsWindowsLeaveTheProcessSearch) {
  sim::Machine machine;
  const win::DWORD explorer =
      machine.processes.Add("explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  machine.windows.AddForeign("Thistlegarden", "CabinetWClass", explorer);
  // No game at all: the windows are not even walked.
  FoundGame found = FindGame(machine, "Thistlegarden", "Thistlegarden.exe");
  EXPECT_EQ(found.window, 0u);
  EXPECT_EQ(found.processId, 0u);
  EXPECT_EQ(CallCount(machine, "FindWindowExA"), 0);

  // A game without a window: found by its process, the first of the list.
  const win::DWORD first = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Add("Thistlegarden.exe", kGameImage);
  found = FindGame(machine, "Thistlegarden", "Thistlegarden.exe");
  EXPECT_EQ(found.window, 0u);
  EXPECT_EQ(found.processId, first);

  // A window whose owner cannot be told is passed over, not the end of the walk.
  const win::HWND gameWindow = machine.windows.AddForeign("Thistlegarden", "UnityWndClass", first);
  machine.faults.Fail(win::Call::GetWindowThreadProcessId);
  found = FindGame(machine, "Thistlegarden", "Thistlegarden.exe");
  EXPECT_EQ(found.window, gameWindow);
  EXPECT_EQ(found.processId, first);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(FindGameTest, NoSnapshotFindsNothing) {
  sim::Machine machine;
  const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.windows.AddForeign("Thistlegarden", "UnityWndClass", game);
  machine.faults.Fail(win::Call::CreateToolhelp32Snapshot);
  const FoundGame found = FindGame(machine, "Thistlegarden", "Thistlegarden.exe");
  EXPECT_EQ(found.window, 0u);
  EXPECT_EQ(found.processId, 0u);
}

TEST(GameLookupTest, WindowOwnerDecidesTheProcess) {
  sim::Machine machine;
  const win::DWORD byName = machine.processes.Add("Thistlegarden.exe", kGameImage);
  const win::DWORD owner = machine.processes.Add("UnityPlayer.exe", kGameImage);
  machine.windows.AddForeign("Notepad", "Notepad", 77);
  const win::HWND window = machine.windows.AddForeign("Thistlegarden", "UnityWndClass", owner);

  const win::HWND found = LocateWindow(machine, 0, 0, std::nullopt, Text("Thistlegarden"));
  EXPECT_EQ(found, window);
  win::DWORD processId = byName;
  machine.GetWindowThreadProcessId(found, &processId);
  EXPECT_EQ(processId, owner);
  EXPECT_EQ(CallCount(machine, "CreateToolhelp32Snapshot"), 0);
}

TEST(GameLookupTest, WindowArgumentsReachFindWindowEx) {
  sim::Machine machine;
  const win::HWND first = machine.windows.AddForeign("Thistlegarden", "UnityWndClass", 50);
  const win::HWND second = machine.windows.AddForeign("Thistlegarden", "Other", 60);
  EXPECT_EQ(LocateWindow(machine), first);  // no class, no title: any top-level window
  EXPECT_EQ(LocateWindow(machine, 0, first, std::nullopt, Text("Thistlegarden")), second);
  EXPECT_EQ(LocateWindow(machine, 0, 0, Text("Other")), second);
  EXPECT_EQ(LocateWindow(machine, 0, 0, Text("UnityWndClass"), Text("Thistlegarden")), first);
  EXPECT_EQ(LocateWindow(machine, 0, 0, std::nullopt, Text("Thistlegarden 2")), 0u);
}

TEST(GameLookupTest, NoWindowKeepsTheIdFoundByName) {
  sim::Machine machine;
  const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
  const win::HWND window = LocateWindow(machine, 0, 0, std::nullopt, Text("Thistlegarden"));
  ASSERT_EQ(window, 0u);
  win::DWORD processId = FirstIdByName(machine, "Thistlegarden.exe");
  EXPECT_EQ(processId, game);
  machine.GetWindowThreadProcessId(window, &processId);
  EXPECT_EQ(processId, game);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(GameLookupTest, NameMatchingRules) {
  sim::Machine machine;
  machine.processes.Add("Thistlegarden.exe.bak", u"\\Device\\HarddiskVolume3\\a.exe");
  machine.processes.Add("Thistlegarden", u"\\Device\\HarddiskVolume3\\b.exe");
  const win::DWORD ended = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Find(ended)->running = false;
  const win::DWORD first = machine.processes.Add("THISTLEGARDEN.EXE", kGameImage);
  machine.processes.Add("Thistlegarden.exe", kGameImage);
  // 乤 (0x81 0x61) is not 丄 (0x81 0x41) with its second byte lower-cased.
  machine.processes.Add("乤.exe", u"\\Device\\HarddiskVolume3\\c.exe");
  const win::DWORD gbk = machine.processes.Add("丄.EXE", u"\\Device\\HarddiskVolume3\\d.exe");

  // Ended processes are not listed; the first match in the list wins.
  EXPECT_EQ(FirstIdByName(machine, "Thistlegarden.exe"), first);
  EXPECT_EQ(FirstIdByName(machine, "thistlegarden.EXE"), first);
  EXPECT_EQ(FirstIdByName(machine, "丄.exe"), gbk);
  EXPECT_EQ(FirstIdByName(machine, "Thistlegarden.ex"), 0u);
  EXPECT_EQ(FirstIdByName(machine, "Thistle"), 0u);
  EXPECT_EQ(FirstIdByName(machine, "ThistlegardenPatch.exe"), machine.self.processId);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(GameLookupTest, NoGameAndNoSnapshot) {
  sim::Machine machine;
  machine.processes.Add("explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  EXPECT_EQ(FirstIdByName(machine, "Thistlegarden.exe"), 0u);
  EXPECT_EQ(CallCount(machine, "CloseHandle"), 1);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.faults.Fail(win::Call::CreateToolhelp32Snapshot);
  EXPECT_EQ(FirstIdByName(machine, "Thistlegarden.exe"), 0u);
  EXPECT_EQ(CallCount(machine, "Process32First"), 1);  // only from the first lookup
}

TEST(GameLookupTest, EverySnapshotIsClosedWhateverFails) {
  sim::Machine machine;
  machine.processes.Add("explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
  for (long n = 1;; ++n) {
    machine.faults.Clear();
    machine.faults.failed.clear();
    machine.faults.FailAtCall(n);
    const win::DWORD found = FirstIdByName(machine, "Thistlegarden.exe");
    if (machine.faults.failed.empty()) {
      EXPECT_EQ(found, game);
      break;
    }
    EXPECT_TRUE(found == 0 || found == game) << "call " << n;
    if (machine.faults.failed[0] != "CloseHandle") {
      EXPECT_EQ(machine.OpenHandleCount(), 0u) << "call " << n;
    }
  }
}

TEST(GameLookupTest, SnapshotIsTakenAtOnce) {
  sim::Machine machine;
  const win::HANDLE snapshot = machine.CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0);
  machine.processes.Add("Thistlegarden.exe", kGameImage);
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  ASSERT_TRUE(machine.Process32First(snapshot, &entry));
  EXPECT_STREQ(entry.szExeFile, "ThistlegardenPatch.exe");
  EXPECT_FALSE(machine.Process32Next(snapshot, &entry));
  EXPECT_EQ(machine.GetLastError(), 18u);
  machine.CloseHandle(snapshot);
  EXPECT_FALSE(machine.Process32First(snapshot, &entry));
  EXPECT_EQ(machine.GetLastError(), win::ERROR_INVALID_HANDLE);
}

// --------------------------------------------------------------- image path

TEST(ProcessImagePathTest, GamePathWithThePrivilegeOnlyAroundTheOpen) {
  sim::Machine machine;
  const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Find(game)->needsDebugPrivilege = true;
  machine.processes.debugPrivilegeEnabled = true;

  EXPECT_EQ(GetProcessImagePath(machine, game, kCodePage), kGamePath);
  EXPECT_EQ(CallsAmong(machine, {"RtlAdjustPrivilege", "OpenProcess", "NtQueryInformationProcess",
                                 "HeapAlloc", "HeapFree", "CloseHandle"}),
            (std::vector<std::string>{"RtlAdjustPrivilege", "OpenProcess", "RtlAdjustPrivilege",
                                      "NtQueryInformationProcess", "HeapAlloc",
                                      "NtQueryInformationProcess", "HeapFree", "CloseHandle"}));
  ASSERT_EQ(machine.processes.privilegeLog.size(), 2u);
  EXPECT_TRUE(machine.processes.privilegeLog[0]);
  EXPECT_FALSE(machine.processes.privilegeLog[1]);
  EXPECT_FALSE(machine.processes.debugPrivilegeEnabled);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(ProcessImagePathTest, OwnPathForProcessIdZero) {
  sim::Machine machine;
  machine.processes.debugPrivilegeEnabled = true;
  EXPECT_EQ(GetProcessImagePath(machine, 0, kCodePage), "C:\\Games\\Tools\\ThistlegardenPatch.exe");
  EXPECT_EQ(CallCount(machine, "RtlAdjustPrivilege"), 0);
  EXPECT_EQ(CallCount(machine, "OpenProcess"), 0);
  EXPECT_TRUE(machine.processes.debugPrivilegeEnabled);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(ProcessImagePathTest, ProcessesThatCannotBeOpened) {
  sim::Machine machine;
  const win::DWORD guarded = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Find(guarded)->openableRights = win::PROCESS_TERMINATE;
  const win::DWORD privileged = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Find(privileged)->needsDebugPrivilege = true;
  const win::DWORD ended = machine.processes.Add("Thistlegarden.exe", kGameImage);
  machine.processes.Find(ended)->running = false;

  EXPECT_EQ(GetProcessImagePath(machine, guarded, kCodePage), "");
  EXPECT_EQ(GetProcessImagePath(machine, ended, kCodePage), "");
  EXPECT_EQ(GetProcessImagePath(machine, 31337, kCodePage), "");
  machine.processes.debugPrivilegeHeld = false;
  EXPECT_EQ(GetProcessImagePath(machine, privileged, kCodePage), "");
  EXPECT_EQ(PathFolderPart(GetProcessImagePath(machine, privileged, kCodePage)), "");
  EXPECT_EQ(CallCount(machine, "NtQueryInformationProcess"), 0);
  EXPECT_FALSE(machine.processes.debugPrivilegeEnabled);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(ProcessImagePathTest, QueryFailuresGiveNoName) {
  struct Case {
    const char* call;
    int nth;
    long heapAllocs;
    long queries;
  };
  for (const Case& c : {Case{"NtQueryInformationProcess", 1, 0, 1}, Case{"HeapAlloc", 1, 1, 1},
                        Case{"NtQueryInformationProcess", 2, 1, 2}}) {
    sim::Machine machine;
    const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
    machine.faults.Fail(c.call, c.nth);
    EXPECT_EQ(QueryProcessImageName(machine, game), WideText()) << c.call << c.nth;
    EXPECT_EQ(CallCount(machine, "HeapAlloc"), c.heapAllocs) << c.call << c.nth;
    EXPECT_EQ(CallCount(machine, "NtQueryInformationProcess"), c.queries) << c.call << c.nth;
    EXPECT_EQ(CallCount(machine, "CloseHandle"), 1) << c.call << c.nth;
    EXPECT_EQ(machine.OpenHandleCount(), 0u) << c.call << c.nth;
  }
}

TEST(ProcessImagePathTest, EveryInjectedFailureLeavesNothingOpen) {
  const std::string ntPath = "\\Device\\HarddiskVolume3\\Games\\Thistlegarden\\Thistlegarden.exe";
  for (long n = 1;; ++n) {
    sim::Machine machine;
    const win::DWORD game = machine.processes.Add("Thistlegarden.exe", kGameImage);
    machine.faults.FailAtCall(n);
    const Text path = GetProcessImagePath(machine, game, kCodePage);
    if (machine.faults.failed.empty()) {
      EXPECT_EQ(path, kGamePath);
      break;
    }
    const std::string& failed = machine.faults.failed[0];
    std::string expected = kGamePath;
    if (failed == "OpenProcess" || failed == "NtQueryInformationProcess" ||
        failed == "HeapAlloc" || failed == "WideCharToMultiByte")
      expected = "";
    // Only the query for C: matters; without it the NT form stays.
    if (failed == "QueryDosDeviceW" && CallCount(machine, "QueryDosDeviceW") == 26) expected = ntPath;
    EXPECT_EQ(path, expected) << "call " << n << " " << failed;
    if (failed != "HeapFree" && failed != "CloseHandle") {
      EXPECT_EQ(machine.OpenHandleCount(), 0u) << "call " << n << " " << failed;
    }
    // The privilege stays on only when turning it off is what failed.
    EXPECT_EQ(machine.processes.debugPrivilegeEnabled,
              failed == "RtlAdjustPrivilege" && n > 1)
        << "call " << n;
  }
}

TEST(ProcessImagePathTest, LongAndUnusualNames) {
  sim::Machine machine;
  const win::DWORD gbk = machine.processes.Add(
      "补丁.exe", u"\\Device\\HarddiskVolume3\\游戏\\\u0E01\\补丁.exe");
  EXPECT_EQ(GetProcessImagePath(machine, gbk, kCodePage), "C:\\游戏\\?\\补丁.exe");
  // MaximumLength of 32768 bytes or more reads as negative: no name.
  const win::DWORD huge = machine.processes.Add(
      "x.exe", u"\\Device\\HarddiskVolume3\\" + std::u16string(16400, u'x'));
  EXPECT_EQ(QueryProcessImageName(machine, huge), WideText());
  const win::DWORD empty = machine.processes.Add("System", u"");
  EXPECT_EQ(QueryProcessImageName(machine, empty), WideText());
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// --------------------------------------------------------------- drive letters

TEST(DevicePathTest, VolumesSharesAndUnmappedDevices) {
  sim::Machine machine;
  machine.drives.targets = {{'C', u"\\Device\\HarddiskVolume1"},
                            {'D', u"\\Device\\HarddiskVolume10"},
                            {'E', u"\\Device\\CdRom0"},
                            {'F', u"\\Device\\HarddiskVolume10"}};
  auto map = [&](std::u16string_view path) {
    return DevicePathToDrivePath(machine, Terminated(path));
  };
  EXPECT_EQ(map(u"\\Device\\HarddiskVolume1\\Games\\a.exe"), Terminated(u"C:\\Games\\a.exe"));
  // Volume 10 is not volume 1; the first letter of a device wins.
  EXPECT_EQ(map(u"\\Device\\HarddiskVolume10\\Games\\a.exe"), Terminated(u"D:\\Games\\a.exe"));
  EXPECT_EQ(map(u"\\Device\\Mup\\server\\share\\Games\\a.exe"),
            Terminated(u"\\Device\\Mup\\server\\share\\Games\\a.exe"));
  EXPECT_EQ(map(u"\\Device\\HarddiskVolume7\\Games\\a.exe"),
            Terminated(u"\\Device\\HarddiskVolume7\\Games\\a.exe"));
  // Case matters, and the prefix counts only at the start.
  EXPECT_EQ(map(u"\\device\\harddiskvolume1\\a.exe"), Terminated(u"\\device\\harddiskvolume1\\a.exe"));
  EXPECT_EQ(map(u"X\\Device\\HarddiskVolume1\\a.exe"), Terminated(u"X\\Device\\HarddiskVolume1\\a.exe"));
  // The device alone, without the backslash after it, is not mapped.
  EXPECT_EQ(map(u"\\Device\\HarddiskVolume1"), Terminated(u"\\Device\\HarddiskVolume1"));
  EXPECT_EQ(DevicePathToDrivePath(machine, WideText()), WideText());
}

TEST(DevicePathTest, ShareFolderKeepsItsBackslash) {
  sim::Machine machine;
  const win::DWORD game =
      machine.processes.Add("Thistlegarden.exe", u"\\Device\\Mup\\server\\share\\Thistlegarden.exe");
  EXPECT_EQ(PathFolderPart(GetProcessImagePath(machine, game, kCodePage)),
            "\\Device\\Mup\\server\\share\\");
}

TEST(DevicePathTest, WineDrivePathForm) {
  sim::Machine machine;
  machine.drives.targets.clear();
  EXPECT_EQ(DevicePathToDrivePath(machine, Terminated(u"\\??\\Z:\\Games\\a.exe")),
            Terminated(u"Z:\\Games\\a.exe"));
  EXPECT_EQ(CallCount(machine, "QueryDosDeviceW"), 0);
  const win::DWORD game = machine.processes.Add("Thistlegarden.exe", u"\\??\\C:\\Games\\补丁.exe");
  EXPECT_EQ(GetProcessImagePath(machine, game, kCodePage), "C:\\Games\\补丁.exe");
  for (const char16_t* unchanged : {u"\\??\\UNC\\server\\share\\a.exe", u"\\??\\1:\\a.exe",
                                    u"\\??\\C:a.exe", u"\\??\\C:"})
    EXPECT_EQ(DevicePathToDrivePath(machine, Terminated(unchanged)), Terminated(unchanged));
}

TEST(DevicePathTest, ShortCountsMapNothing) {
  sim::Machine machine;
  // QueryDosDeviceW answers 1 for A: and 2 for B:; a multi-target list for D:.
  machine.drives.targets = {{'A', std::u16string(1, u'\0')},
                            {'B', u""},
                            {'C', u"\\Device\\HarddiskVolume3"},
                            {'D', std::u16string(u"\\Device\\X\0\\Device\\Y\0\0", 22)}};
  win::WCHAR target[8] = {};
  const win::WCHAR driveA[3] = {u'A', u':', 0};
  const win::WCHAR driveB[3] = {u'B', u':', 0};
  EXPECT_EQ(machine.QueryDosDeviceW(driveA, target, 8), 1u);
  EXPECT_EQ(machine.QueryDosDeviceW(driveB, target, 8), 2u);
  EXPECT_EQ(DevicePathToDrivePath(machine, Terminated(u"\\Device\\HarddiskVolume3\\a.exe")),
            Terminated(u"C:\\a.exe"));
  EXPECT_EQ(DevicePathToDrivePath(machine, Terminated(u"\\Device\\Mup\\s\\a.exe")),
            Terminated(u"\\Device\\Mup\\s\\a.exe"));
  EXPECT_EQ(DevicePathToDrivePath(machine, Terminated(u"\\Device\\X\\a.exe")),
            Terminated(u"\\Device\\X\\a.exe"));
}

// --------------------------------------------------------------- WideText

TEST(WideTextTest, TrimAtNul) {
  const WideText abc = Wide(u"abc");
  EXPECT_EQ(TrimWideAtNul(abc, false), abc);
  EXPECT_EQ(TrimWideAtNul(abc, true), abc + std::string(2, '\0'));
  EXPECT_EQ(TrimWideAtNul(abc + "x", false), abc);  // a last odd byte is dropped
  EXPECT_EQ(TrimWideAtNul(abc + "x", true), abc + std::string(2, '\0'));
  EXPECT_EQ(TrimWideAtNul(Wide(std::u16string(u"ab\0c", 4)), true), Terminated(u"ab"));
  EXPECT_EQ(TrimWideAtNul(Wide(std::u16string(u"\0ab", 3)), true), WideText());
  // Zero bytes that straddle two units are not a zero unit.
  EXPECT_EQ(TrimWideAtNul(std::string("a\0\0b", 4), false), std::string("a\0\0b", 4));
  EXPECT_EQ(TrimWideAtNul("a", true), WideText());
  EXPECT_EQ(TrimWideAtNul(WideText(), true), WideText());
}

TEST(WideTextTest, CopyFromAddress) {
  EXPECT_EQ(WideFromAddress(nullptr), WideText());
  EXPECT_EQ(WideFromAddress(u""), WideText());
  EXPECT_EQ(WideFromAddress(u"补a"), std::string("\x65\x88" "a\0\0\0", 6));
}

TEST(WideTextTest, ArgumentsForPlatformCalls) {
  EXPECT_EQ(WideArg(WideText()).get(), nullptr);
  // Odd offsets inside a string stay unread: the units are copied.
  const WideText inner = std::string("x") + Wide(u"ab");
  const WideArg shifted(inner.substr(1));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(shifted.get()) % alignof(char16_t), 0u);
  EXPECT_EQ(std::u16string(shifted.get()), u"ab");  // terminated even without a zero unit
  EXPECT_EQ(std::u16string(WideArg(Wide(u"ab") + "c").get()), u"ab");
}

TEST(WideTextTest, FailedConversionsGiveEmptyResults) {
  sim::Machine machine;
  machine.faults.Fail(win::Call::WideCharToMultiByte);
  EXPECT_EQ(WideToText(machine, Terminated(u"ab"), kCodePage), "");
  machine.faults.Fail(win::Call::WideCharToMultiByte, 2);
  EXPECT_EQ(WideToText(machine, Terminated(u"ab"), kCodePage), "");
  machine.faults.Fail(win::Call::MultiByteToWideChar);
  EXPECT_EQ(TextToWide(machine, "ab", kCodePage), WideText());
  machine.faults.Fail(win::Call::MultiByteToWideChar, 2);
  EXPECT_EQ(TextToWide(machine, "ab", kCodePage), WideText());
  // A code page the system lacks.
  EXPECT_EQ(TextToWide(machine, "ab", 12345), WideText());
  EXPECT_EQ(WideToText(machine, Terminated(u"ab"), 12345), "");
  EXPECT_EQ(WideToText(machine, Terminated(u"ab"), kCodePage), "ab");
}

}  // namespace
