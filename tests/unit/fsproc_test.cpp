// File operations and starting and ending processes, on a simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fsproc/file_ops.h"
#include "fsproc/process_ops.h"
#include "runtime/handles.h"
#include "platform/sim/machine.h"
#include "unit/scenario.h"

namespace {

using win::DWORD;

constexpr std::int32_t kCodePage = 936;

using scenario::CallCount;
using scenario::CallsAmong;

// The folder the last program started was started in.
std::string LastStartedIn(const sim::Machine& machine) {
  for (auto it = machine.processes.list.rbegin(); it != machine.processes.list.rend(); ++it)
    if (it->startedByProgram) return it->currentDirectory;
  return "(none)";
}

const std::string* FileData(const sim::Machine& machine, const std::string& path) {
  const auto* node = machine.files.Find(path);
  return node && !node->directory ? &node->data : nullptr;
}

bool IsFolder(const sim::Machine& machine, const std::string& path) {
  const auto* node = machine.files.Find(path);
  return node && node->directory;
}

// ---------------------------------------------------------------- sizes

// No such file and a look-up that failed are told apart; the size is whole.
TEST(LookUpFileTest, FoundMissingOrUnknown) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Games\\a.dll", "1234567");
  machine.files.AddFile("C:\\big.bin", "");
  machine.files.Find("C:\\big.bin")->sizeOverride = 0x100000000LL + 3240100;
  machine.files.AddFile("C:\\huge.bin", "");
  machine.files.Find("C:\\huge.bin")->sizeOverride = 0xFFFFFFFFLL;
  const FileLookup missing{FileLookup::kMissing, -1};
  EXPECT_EQ(LookUpFile(machine, "C:\\Games\\a.dll"), (FileLookup{FileLookup::kFound, 7}));
  EXPECT_EQ(LookUpFile(machine, "C:\\big.bin"), (FileLookup{FileLookup::kFound, 0x100000000LL + 3240100}));
  EXPECT_EQ(LookUpFile(machine, "C:\\huge.bin"), (FileLookup{FileLookup::kFound, 0xFFFFFFFFLL}));
  EXPECT_EQ(LookUpFile(machine, "C:\\Games\\missing.dll"), missing);
  EXPECT_EQ(LookUpFile(machine, "C:\\NoFolder\\a.dll"), missing);
  machine.faults.Fail(win::Call::FindFirstFileA);
  EXPECT_EQ(LookUpFile(machine, "C:\\Games\\a.dll").state, FileLookup::kFailed);
  machine.faults.Fail(win::Call::FindFirstFileA);
  EXPECT_EQ(LookUpFile(machine, "C:\\Games\\missing.dll").state, FileLookup::kFailed);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// ---------------------------------------------------------------- writing

TEST(WriteBytesToFileTest, WritesTheArraysInOrderAndTruncates) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Out\\f.bin", std::string(100, 'z'));
  EXPECT_TRUE(WriteBytesToFile(machine, "C:\\Out\\f.bin", {"abc", "", "defg"}));
  ASSERT_NE(FileData(machine, "C:\\Out\\f.bin"), nullptr);
  EXPECT_EQ(*FileData(machine, "C:\\Out\\f.bin"), "abcdefg");
  EXPECT_EQ(CallCount(machine, "WriteFile"), 2);  // the empty array is skipped

  // Bytes, not text: zero bytes are written like any other.
  const std::string binary("\0\x01\0", 3);
  EXPECT_TRUE(WriteBytesToFile(machine, "C:\\Out\\new.bin", {binary}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\new.bin"), binary);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(WriteBytesToFileTest, OnlyEmptyArraysLeaveAnEmptyFile) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\Out");
  EXPECT_TRUE(WriteBytesToFile(machine, "C:\\Out\\marker", {""}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\marker"), "");
  machine.files.AddFile("C:\\Out\\old", "old content");
  EXPECT_TRUE(WriteBytesToFile(machine, "C:\\Out\\old", {"", ""}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\old"), "");
  EXPECT_EQ(CallCount(machine, "WriteFile"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(WriteBytesToFileTest, FilesThatCannotBeOpenedAreLeftAlone) {
  sim::Machine machine;
  EXPECT_FALSE(WriteBytesToFile(machine, "", {"abc"}));
  EXPECT_EQ(CallCount(machine, "CreateFileA"), 0);

  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\Missing\\f.bin", {"abc"}));
  EXPECT_FALSE(machine.files.Exists("C:\\Missing"));
  EXPECT_FALSE(machine.files.Exists("C:\\Missing\\f.bin"));

  machine.files.AddFile("C:\\ro.dll", "keep", win::FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\ro.dll", {"abc"}));
  EXPECT_EQ(*FileData(machine, "C:\\ro.dll"), "keep");

  machine.files.AddFile("C:\\locked.dll", "keep");
  machine.files.Find("C:\\locked.dll")->locked = true;
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\locked.dll", {"abc"}));
  EXPECT_EQ(*FileData(machine, "C:\\locked.dll"), "keep");

  machine.files.AddDirectory("C:\\AFolder");
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\AFolder", {"abc"}));
  EXPECT_TRUE(IsFolder(machine, "C:\\AFolder"));
  EXPECT_EQ(CallCount(machine, "WriteFile"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(WriteBytesToFileTest, AShortWriteFailsAndKeepsWhatWasWritten) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\Out");
  machine.files.freeBytes = 5;
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\Out\\f.bin", {"abc", "defg", "hij"}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\f.bin"), "abcde");
  EXPECT_EQ(CallCount(machine, "WriteFile"), 2);  // stops at the short write
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  // Truncating gives the old bytes back to the disk.
  EXPECT_TRUE(WriteBytesToFile(machine, "C:\\Out\\f.bin", {"12345"}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\f.bin"), "12345");
}

TEST(WriteBytesToFileTest, AFailedWriteOrCloseIsAFailure) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\Out");
  machine.faults.Fail(win::Call::WriteFile, 2);
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\Out\\f.bin", {"abc", "defg"}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\f.bin"), "abc");
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  machine.faults.Fail(win::Call::CloseHandle);
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\Out\\g.bin", {"abc"}));
  EXPECT_EQ(*FileData(machine, "C:\\Out\\g.bin"), "abc");
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// Whichever single call fails, the result says so and the file is closed.
TEST(WriteBytesToFileTest, EveryInjectedFailureIsReported) {
  for (long n = 1;; ++n) {
    sim::Machine machine;
    machine.files.AddFile("C:\\Out\\f.bin", "old");
    machine.faults.FailAtCall(n);
    const bool written = WriteBytesToFile(machine, "C:\\Out\\f.bin", {"abc", "defg"});
    if (machine.faults.failed.empty()) {
      EXPECT_TRUE(written);
      EXPECT_EQ(*FileData(machine, "C:\\Out\\f.bin"), "abcdefg");
      break;
    }
    EXPECT_FALSE(written) << "failing " << machine.faults.failed[0];
    EXPECT_EQ(machine.OpenHandleCount(), 0u) << "failing " << machine.faults.failed[0];
  }
}

// ---------------------------------------------------------------- copy, delete

TEST(CopyFileToTest, CopiesAndReplacesUnlessAskedNotTo) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Temp\\backup.dll", "patched");
  machine.files.AddFile("C:\\Game\\a.dll", "original");
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Temp\\backup.dll", "C:\\Game\\a.dll", true));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\a.dll"), "original");
  EXPECT_TRUE(CopyFileTo(machine, "C:\\Temp\\backup.dll", "C:\\Game\\a.dll"));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\a.dll"), "patched");
  EXPECT_EQ(*FileData(machine, "C:\\Temp\\backup.dll"), "patched");
  EXPECT_TRUE(CopyFileTo(machine, "C:\\Temp\\backup.dll", "C:\\Game\\b.dll", true));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\b.dll"), "patched");
}

TEST(CopyFileToTest, FailuresLeaveTheTargetUntouched) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Game\\a.dll", "original");
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Temp\\Thistlegarden补丁程序\\a.dll", "C:\\Game\\a.dll"));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\a.dll"), "original");
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\missing.dll", "C:\\Game\\new.dll"));
  EXPECT_FALSE(machine.files.Exists("C:\\Game\\new.dll"));

  // No folder is made for the target.
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\a.dll", "C:\\Temp\\New\\a.dll"));
  EXPECT_FALSE(machine.files.Exists("C:\\Temp\\New"));

  machine.files.AddFile("C:\\Game\\ro.dll", "ro", win::FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\a.dll", "C:\\Game\\ro.dll"));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\ro.dll"), "ro");

  machine.files.AddFile("C:\\Game\\held.dll", "held");
  machine.files.Find("C:\\Game\\held.dll")->locked = true;
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\a.dll", "C:\\Game\\held.dll"));
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\held.dll", "C:\\Game\\c.dll"));
  EXPECT_EQ(*FileData(machine, "C:\\Game\\held.dll"), "held");
  EXPECT_FALSE(machine.files.Exists("C:\\Game\\c.dll"));

  machine.files.freeBytes = 3;
  EXPECT_FALSE(CopyFileTo(machine, "C:\\Game\\a.dll", "C:\\Game\\d.dll"));
  EXPECT_FALSE(machine.files.Exists("C:\\Game\\d.dll"));
}

TEST(RemoveFileTest, DeletesOnlyWhatMayBeDeleted) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Game\\a.dll", "x");
  machine.files.AddFile("C:\\Game\\ro.dll", "x", win::FILE_ATTRIBUTE_READONLY);
  machine.files.AddFile("C:\\Game\\held.dll", "x");
  machine.files.Find("C:\\Game\\held.dll")->locked = true;
  EXPECT_TRUE(RemoveFile(machine, "C:\\Game\\a.dll"));
  EXPECT_FALSE(machine.files.Exists("C:\\Game\\a.dll"));
  EXPECT_FALSE(RemoveFile(machine, "C:\\Game\\a.dll"));
  EXPECT_FALSE(RemoveFile(machine, "C:\\Game\\ro.dll"));
  EXPECT_FALSE(RemoveFile(machine, "C:\\Game\\held.dll"));
  EXPECT_FALSE(RemoveFile(machine, "C:\\Game"));
  EXPECT_TRUE(machine.files.Exists("C:\\Game\\ro.dll"));
  EXPECT_TRUE(machine.files.Exists("C:\\Game\\held.dll"));
  EXPECT_TRUE(IsFolder(machine, "C:\\Game"));
}

// ---------------------------------------------------------------- set aside

// ---------------------------------------------------------------- folders

TEST(MakeDirectoryTreeTest, CreatesEachMissingLevelInOrder) {
  sim::Machine machine;
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\A\\B\\C", kCodePage));
  // Each level needs its parent, so three successful creations came in order.
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 3);
  EXPECT_TRUE(IsFolder(machine, "C:\\A"));
  EXPECT_TRUE(IsFolder(machine, "C:\\A\\B"));
  EXPECT_TRUE(IsFolder(machine, "C:\\A\\B\\C"));
  EXPECT_EQ(machine.files.Find("C:\\A\\B\\C")->name, "C:\\A\\B\\C");
  EXPECT_EQ(CallCount(machine, "LocalFree"), 1);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  // Existing levels are passed over.
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\A\\B\\C\\D", kCodePage));
  EXPECT_TRUE(IsFolder(machine, "C:\\A\\B\\C\\D"));
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\A\\B", kCodePage));
}

TEST(MakeDirectoryTreeTest, SlashesAndATrailingBackslash) {
  sim::Machine machine;
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:/A/B", kCodePage));
  EXPECT_EQ(machine.files.Find("C:\\A")->name, "C:\\A");
  EXPECT_EQ(machine.files.Find("C:\\A\\B")->name, "C:\\A\\B");

  machine.faults.calls.clear();
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\X\\Y\\", kCodePage));
  // X, Y at its backslash, and Y once more at the terminator.
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 3);
  EXPECT_TRUE(IsFolder(machine, "C:\\X\\Y"));
}

TEST(MakeDirectoryTreeTest, ChineseNames) {
  sim::Machine machine;
  const std::string folder = "C:\\Users\\Player\\AppData\\Local\\Temp\\Thistlegarden补丁程序\\补丁对比图";
  EXPECT_TRUE(MakeDirectoryTree(machine, folder, kCodePage));
  ASSERT_TRUE(IsFolder(machine, folder));
  EXPECT_EQ(machine.files.Find(folder)->name, folder);
  EXPECT_TRUE(IsFolder(machine, "C:\\Users\\Player\\AppData\\Local\\Temp\\Thistlegarden补丁程序"));
}

TEST(MakeDirectoryTreeTest, ShortPathsCreateNothing) {
  sim::Machine machine;
  MakeDirectoryTree(machine, "C:", kCodePage);
  MakeDirectoryTree(machine, "A", kCodePage);
  EXPECT_FALSE(MakeDirectoryTree(machine, "", kCodePage));
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 0);
  EXPECT_EQ(CallCount(machine, "LocalAlloc"), 0);
  // Three characters are enough to walk: the root itself is tried.
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\", kCodePage));
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 1);
}

TEST(MakeDirectoryTreeTest, AFailedLevelDoesNotStopTheWalk) {
  sim::Machine machine;
  machine.faults.Fail(win::Call::CreateDirectoryW, 2);
  EXPECT_FALSE(MakeDirectoryTree(machine, "C:\\A\\B\\C", kCodePage));
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 3);
  EXPECT_TRUE(IsFolder(machine, "C:\\A"));
  EXPECT_FALSE(machine.files.Exists("C:\\A\\B"));

  // The result is the state of the whole path: a failed level that already
  // exists does not matter.
  machine.faults.Fail(win::Call::CreateDirectoryW, 1);
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\A\\B", kCodePage));

  // A file in the way.
  machine.files.AddFile("C:\\F", "x");
  EXPECT_FALSE(MakeDirectoryTree(machine, "C:\\F\\G", kCodePage));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(MakeDirectoryTreeTest, WithoutItsBufferReportsThePathAsItIs) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\Exists\\Here");
  machine.faults.Fail(win::Call::LocalAlloc, 1, 2);
  EXPECT_FALSE(MakeDirectoryTree(machine, "C:\\New\\Folder", kCodePage));
  EXPECT_TRUE(MakeDirectoryTree(machine, "C:\\Exists\\Here", kCodePage));
  EXPECT_EQ(CallCount(machine, "CreateDirectoryW"), 0);
  EXPECT_FALSE(machine.files.Exists("C:\\New"));

  // Nor does a failed conversion create anything.
  machine.faults.Fail(win::Call::MultiByteToWideChar);
  EXPECT_FALSE(MakeDirectoryTree(machine, "C:\\New\\Folder", kCodePage));
  EXPECT_FALSE(machine.files.Exists("C:\\New"));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// Each kind names a folder of its own; the machine keeps the shell folders
// under Windows' CSIDL numbers, written here by their names.
TEST(SpecialFolderPathTest, EveryKindIsItsOwnFolder) {
  enum : int { kPersonal = 5, kFavorites = 6, kDesktopDirectory = 16, kFonts = 20,
               kStartMenu = 11, kPrograms = 2, kStartup = 7, kAppData = 26 };
  sim::Machine machine;
  machine.folders.special = {
      {kPersonal, "C:\\Users\\Player\\Documents"},
      {kFavorites, "C:\\Users\\Player\\Favorites"},
      {kDesktopDirectory, "C:\\Users\\Player\\Desktop"},
      {kFonts, "C:\\Windows\\Fonts"},
      {kStartMenu, "C:\\Users\\Player\\Start Menu"},
      {kPrograms, "C:\\Users\\Player\\Start Menu\\Programs"},
      {kStartup, "C:\\Users\\Player\\Start Menu\\Programs\\Startup"},
      {kAppData, "C:\\Users\\Player\\AppData\\Roaming"}};
  machine.folders.windows = "D:\\Win";
  machine.folders.system = "D:\\Win\\Sys";
  machine.folders.temp = "E:\\Temp\\";
  const std::pair<int, const char*> kinds[] = {
      {1, "C:\\Users\\Player\\Documents\\"},
      {2, "C:\\Users\\Player\\Favorites\\"},
      {3, "C:\\Users\\Player\\Desktop\\"},
      {4, "C:\\Windows\\Fonts\\"},
      {5, "C:\\Users\\Player\\Start Menu\\"},
      {6, "C:\\Users\\Player\\Start Menu\\Programs\\"},
      {7, "C:\\Users\\Player\\Start Menu\\Programs\\Startup\\"},
      {8, "C:\\Users\\Player\\AppData\\Roaming\\"},
      {9, "D:\\Win\\"},
      {10, "D:\\Win\\Sys\\"},
      {11, "E:\\Temp\\"}};
  for (const auto& [kind, folder] : kinds) {
    machine.faults.calls.clear();
    EXPECT_EQ(SpecialFolderPath(machine, kind), folder) << "kind " << kind;
    // One question to the platform, and no handle left open.
    EXPECT_EQ(machine.faults.calls.size(), 1u) << "kind " << kind;
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
  }

  machine.faults.calls.clear();
  EXPECT_EQ(SpecialFolderPath(machine, 0), "");
  EXPECT_EQ(SpecialFolderPath(machine, 12), "");
  EXPECT_EQ(SpecialFolderPath(machine, -1), "");
  EXPECT_TRUE(machine.faults.calls.empty());
}

TEST(SpecialFolderPathTest, OneTrailingBackslash) {
  sim::Machine machine;
  const std::pair<const char*, const char*> cases[] = {
      {"D:\\Tmp", "D:\\Tmp\\"},
      {"D:\\", "D:\\"},
      // The last byte of a two-byte character is not a backslash.
      {"D:\\乗", "D:\\乗\\"},
      {"D:\\乗\\", "D:\\乗\\"},
      // "€" (0x80) is a character of one byte: the backslash after it is real.
      {"D:\\Tmp\x80\\", "D:\\Tmp\x80\\"},
      {"D:\\Tmp\x80", "D:\\Tmp\x80\\"},
  };
  for (const auto& [temp, expected] : cases) {
    machine.folders.temp = temp;
    EXPECT_EQ(SpecialFolderPath(machine, 11), expected) << "temporary folder " << temp;
  }
}

TEST(SpecialFolderPathTest, NoFolderGivesEmptyText) {
  sim::Machine machine;
  machine.folders.special.erase(6);
  EXPECT_EQ(SpecialFolderPath(machine, 2), "");
  machine.faults.Fail(win::Call::GetTempPathA);
  EXPECT_EQ(SpecialFolderPath(machine, 11), "");
  machine.faults.Fail(win::Call::SHGetSpecialFolderPathA);
  EXPECT_EQ(SpecialFolderPath(machine, 1), "");
  machine.folders.temp = "";
  EXPECT_EQ(SpecialFolderPath(machine, 11), "");
  machine.folders.windows = "";
  EXPECT_EQ(SpecialFolderPath(machine, 9), "");
}

TEST(SpecialFolderPathTest, ThePlatformsRoomOf260Bytes) {
  sim::Machine machine;
  // 259 characters fit; the backslash makes 260.
  machine.folders.temp = "C:\\" + std::string(256, 'a');
  EXPECT_EQ(SpecialFolderPath(machine, 11), machine.folders.temp + "\\");
  // 260 do not: the platform only reports the size it would need.
  machine.folders.temp = "C:\\" + std::string(257, 'a');
  EXPECT_EQ(SpecialFolderPath(machine, 11), "");
  machine.folders.system = "C:\\" + std::string(300, 's');
  EXPECT_EQ(SpecialFolderPath(machine, 10), "");
}

// ---------------------------------------------------------------- processes

TEST(EndProcessByIdTest, ZeroEndsTheCallingProcess) {
  sim::Machine machine;
  machine.self.exitCode = 7;
  EXPECT_TRUE(EndProcessById(machine));
  EXPECT_TRUE(machine.self.exited);
  EXPECT_EQ(machine.self.exitCode, 0u);
  EXPECT_EQ(CallCount(machine, "OpenProcess"), 0);
  EXPECT_EQ(CallCount(machine, "CloseHandle"), 1);
}

TEST(EndProcessByIdTest, EndsAnotherProcess) {
  sim::Machine machine;
  const DWORD game = machine.processes.Add("Thistlegarden.exe", u"\\Device\\HarddiskVolume3\\G\\Thistlegarden.exe");
  machine.processes.Find(game)->exitCode = 9;
  EXPECT_TRUE(EndProcessById(machine, game));
  EXPECT_FALSE(machine.processes.Find(game)->running);
  EXPECT_EQ(machine.processes.Find(game)->exitCode, 0u);
  EXPECT_FALSE(machine.self.exited);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
  // Gone now: it can no longer be opened.
  EXPECT_FALSE(EndProcessById(machine, game));
}

// Gone, or running with rights this program lacks: told apart.
TEST(EndProcessByIdTest, ProcessesThatCannotBeEnded) {
  sim::Machine machine;
  EndOutcome outcome = EndOutcome::kEnded;
  EXPECT_FALSE(EndProcessById(machine, 31337, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kGone);
  EXPECT_EQ(CallCount(machine, "TerminateProcess"), 0);

  const DWORD guarded = machine.processes.Add("guarded.exe", u"\\Device\\HarddiskVolume3\\guarded.exe");
  machine.processes.Find(guarded)->openableRights = win::PROCESS_QUERY_INFORMATION;
  EXPECT_FALSE(EndProcessById(machine, guarded, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kRefused);
  EXPECT_TRUE(machine.processes.Find(guarded)->running);

  const DWORD other = machine.processes.Add("other.exe", u"\\Device\\HarddiskVolume3\\other.exe");
  machine.faults.Fail(win::Call::TerminateProcess);
  EXPECT_FALSE(EndProcessById(machine, other, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kRefused);
  EXPECT_TRUE(machine.processes.Find(other)->running);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// What a check saw: the handle it was given and the rights it was opened with.
struct SeenByCheck {
  sim::Machine* machine;
  bool accept;
  win::HANDLE handle = 0;
  win::DWORD rights = 0;
};

bool RecordCheck(void* context, win::HANDLE process) {
  auto& seen = *static_cast<SeenByCheck*>(context);
  seen.handle = process;
  seen.rights = seen.machine->processes.grantedRights.at(process);
  return seen.accept;
}

TEST(EndProcessByIdTest, OneHandleIsCheckedEndedAndWaitedFor) {
  sim::Machine machine;
  const DWORD game = machine.processes.Add("Thistlegarden.exe", u"\\Device\\HarddiskVolume3\\G\\Thistlegarden.exe");
  SeenByCheck refuse{&machine, false};
  EXPECT_FALSE(EndProcessById(machine, game, RecordCheck, &refuse));
  EXPECT_TRUE(machine.processes.Find(game)->running);
  EXPECT_EQ(CallCount(machine, "TerminateProcess"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  SeenByCheck accept{&machine, true};
  EXPECT_TRUE(EndProcessById(machine, game, RecordCheck, &accept));
  EXPECT_FALSE(machine.processes.Find(game)->running);
  EXPECT_EQ(accept.rights, win::PROCESS_TERMINATE | win::SYNCHRONIZE | win::PROCESS_QUERY_INFORMATION);
  // One open; the check, the end and the wait all went through its handle.
  EXPECT_EQ(CallCount(machine, "OpenProcess"), 2);
  EXPECT_EQ(CallsAmong(machine, {"OpenProcess", "TerminateProcess", "WaitForSingleObject",
                                 "CloseHandle"}),
            (std::vector<std::string>{"OpenProcess", "CloseHandle", "OpenProcess",
                                      "TerminateProcess", "WaitForSingleObject", "CloseHandle"}));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(EndProcessByIdTest, TheWaitForTheEndIsBounded) {
  sim::Machine machine;
  const DWORD hung = machine.processes.Add("hung.exe", u"\\Device\\HarddiskVolume3\\hung.exe");
  machine.processes.Find(hung)->hangsOnEnd = true;
  const win::DWORD before = machine.clock.tick;
  EndOutcome outcome = EndOutcome::kEnded;
  EXPECT_FALSE(EndProcessById(machine, hung, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kStillThere);
  EXPECT_EQ(machine.clock.tick - before, kEndProcessWait);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  // One slow to close is waited for while it takes no longer than the bound.
  const DWORD slow = machine.processes.Add("slow.exe", u"\\Device\\HarddiskVolume3\\slow.exe");
  machine.processes.Find(slow)->endTakes = 9000;
  const win::DWORD slowFrom = machine.clock.tick;
  EXPECT_TRUE(EndProcessById(machine, slow, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kEnded);
  EXPECT_EQ(machine.clock.tick - slowFrom, 9000u);
  EXPECT_FALSE(machine.processes.Find(slow)->running);

  // Without the right to wait the process cannot be opened at all.
  const DWORD guarded = machine.processes.Add("guarded.exe", u"\\Device\\HarddiskVolume3\\guarded.exe");
  machine.processes.Find(guarded)->openableRights = win::PROCESS_TERMINATE | win::PROCESS_QUERY_INFORMATION;
  EXPECT_FALSE(EndProcessById(machine, guarded, nullptr, nullptr, kEndProcessWait, &outcome));
  EXPECT_EQ(outcome, EndOutcome::kRefused);  // not ended at all
  EXPECT_TRUE(machine.processes.Find(guarded)->running);

  // A failed wait is no end the caller may count on.
  const DWORD other = machine.processes.Add("other.exe", u"\\Device\\HarddiskVolume3\\other.exe");
  machine.faults.Fail(win::Call::WaitForSingleObject);
  EXPECT_FALSE(EndProcessById(machine, other));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(RunCommandLineTest, TheStartedProgramsFolder) {
  sim::Machine machine;
  machine.files.AddFile("D:\\游戏 目录\\Thistlegarden.exe", "MZ");
  EXPECT_TRUE(RunCommandLine(machine, "\"D:\\游戏 目录\\Thistlegarden.exe\"", false, std::nullopt,
                             "D:\\游戏 目录\\"));
  EXPECT_EQ(LastStartedIn(machine), "D:\\游戏 目录\\");
  // Without one it starts in the caller's folder; a missing one starts nothing.
  EXPECT_TRUE(RunCommandLine(machine, "\"D:\\游戏 目录\\Thistlegarden.exe\""));
  EXPECT_EQ(LastStartedIn(machine), machine.self.currentDirectory);
  EXPECT_FALSE(RunCommandLine(machine, "\"D:\\游戏 目录\\Thistlegarden.exe\"", false, std::nullopt,
                              "D:\\gone\\"));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

const sim::ProcessTable::Process* LastStarted(const sim::Machine& machine) {
  for (auto it = machine.processes.list.rbegin(); it != machine.processes.list.rend(); ++it)
    if (it->startedByProgram) return &*it;
  return nullptr;
}

TEST(RunCommandLineTest, StartsTheProgramWithoutWaitingForItsEnd) {
  sim::Machine machine;
  machine.files.AddFile("C:\\Game\\Thistlegarden.exe", "MZ");
  EXPECT_TRUE(RunCommandLine(machine, "C:\\Game\\Thistlegarden.exe"));
  const auto* game = LastStarted(machine);
  ASSERT_NE(game, nullptr);
  EXPECT_EQ(game->exeName, "Thistlegarden.exe");
  EXPECT_EQ(game->imagePath, u"\\Device\\HarddiskVolume3\\Game\\Thistlegarden.exe");
  EXPECT_EQ(game->commandLine, "C:\\Game\\Thistlegarden.exe");
  EXPECT_EQ(game->showWindow, 1u);
  EXPECT_TRUE(game->running);
  EXPECT_EQ(CallCount(machine, "WaitForInputIdle"), 1);
  EXPECT_EQ(CallCount(machine, "WaitForSingleObject"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(RunCommandLineTest, WaitingReturnsAfterTheProgramHasEnded) {
  sim::Machine machine;
  EXPECT_TRUE(RunCommandLine(machine, "cmd.exe /c exit 3", true));
  const auto* cmd = LastStarted(machine);
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(cmd->exeName, "cmd.exe");
  EXPECT_FALSE(cmd->running);
  EXPECT_EQ(CallCount(machine, "WaitForSingleObject"), 1);
  EXPECT_EQ(CallCount(machine, "WaitForInputIdle"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// The started program's first window, by Windows' show-window names: a normal
// one unless asked otherwise, and modes out of range taken as the nearest.
TEST(RunCommandLineTest, ShowModes) {
  enum : DWORD { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3,
                 SW_SHOWNOACTIVATE = 4, SW_MINIMIZE = 6 };
  auto shown = [](std::optional<std::int32_t> mode) {
    sim::Machine machine;
    EXPECT_TRUE(RunCommandLine(machine, "explorer.exe", false, mode));
    const auto* started = LastStarted(machine);
    return started ? started->showWindow : ~DWORD{0};
  };
  EXPECT_EQ(shown(std::nullopt), SW_SHOWNORMAL);
  EXPECT_EQ(shown(1), SW_HIDE);
  EXPECT_EQ(shown(2), SW_SHOWNORMAL);
  EXPECT_EQ(shown(3), SW_SHOWMINIMIZED);
  EXPECT_EQ(shown(4), SW_SHOWMAXIMIZED);
  EXPECT_EQ(shown(5), SW_SHOWNOACTIVATE);
  EXPECT_EQ(shown(6), SW_MINIMIZE);
  for (std::int32_t low : {0, -3, INT32_MIN}) EXPECT_EQ(shown(low), shown(1)) << "mode " << low;
  for (std::int32_t high : {7, 9, INT32_MAX}) EXPECT_EQ(shown(high), shown(6)) << "mode " << high;
}

TEST(RunCommandLineTest, AProgramThatCannotStart) {
  sim::Machine machine;
  EXPECT_FALSE(RunCommandLine(machine, "C:\\Game\\Thistlegarden.exe"));
  EXPECT_FALSE(RunCommandLine(machine, ""));
  EXPECT_FALSE(RunCommandLine(machine, "C:\\Windows"));
  machine.faults.Fail(win::Call::CreateProcessA);
  EXPECT_FALSE(RunCommandLine(machine, "explorer.exe"));
  EXPECT_EQ(LastStarted(machine), nullptr);
  EXPECT_EQ(CallCount(machine, "WaitForInputIdle"), 0);
  EXPECT_EQ(CallCount(machine, "CloseHandle"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// The line is passed as it stands: an unquoted path with blanks starts the
// first program its words name. This is why the run quotes the game's path.
TEST(RunCommandLineTest, AnUnquotedPathWithBlanks) {
  sim::Machine machine;
  const std::string game = "C:\\Program Files\\Game\\Game.exe";
  machine.files.AddFile(game, "MZ");
  EXPECT_TRUE(RunCommandLine(machine, game));
  EXPECT_EQ(LastStarted(machine)->exeName, "Game.exe");

  machine.files.AddFile("C:\\Program.exe", "MZ");
  EXPECT_TRUE(RunCommandLine(machine, game));
  EXPECT_EQ(LastStarted(machine)->exeName, "Program.exe");
  EXPECT_EQ(LastStarted(machine)->commandLine, game);

  EXPECT_TRUE(RunCommandLine(machine, "\"" + game + "\""));
  EXPECT_EQ(LastStarted(machine)->exeName, "Game.exe");
  EXPECT_EQ(LastStarted(machine)->imagePath, u"\\Device\\HarddiskVolume3\\Program Files\\Game\\Game.exe");
}

TEST(RunCommandLineTest, TheFileManagerOnAChineseFolder) {
  sim::Machine machine;
  const std::string line =
      "explorer.exe C:\\Users\\Player\\AppData\\Local\\Temp\\Thistlegarden补丁程序\\补丁对比图";
  EXPECT_TRUE(RunCommandLine(machine, line));
  const auto* explorer = LastStarted(machine);
  ASSERT_NE(explorer, nullptr);
  EXPECT_EQ(explorer->exeName, "explorer.exe");
  EXPECT_EQ(explorer->imagePath, u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  EXPECT_EQ(explorer->commandLine, line);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(RunCommandLineTest, HandlesAreClosedWhateverTheWaitGives) {
  sim::Machine machine;
  machine.faults.Fail(win::Call::WaitForInputIdle);
  EXPECT_TRUE(RunCommandLine(machine, "explorer.exe"));
  machine.faults.Fail(win::Call::WaitForSingleObject);
  EXPECT_TRUE(RunCommandLine(machine, "explorer.exe", true));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

}  // namespace

// ---------------------------------------------------------------- owners

namespace {

// Owners hand their handle on when moved, give it up when released, close
// the old one when given a new one, and report a checked close.
TEST(HandleOwnerTest, MoveReleaseResetAndClose) {
  sim::Machine machine;
  machine.files.AddFile("C:\\a.bin", "a");
  auto open = [&] {
    return machine.CreateFileA("C:\\a.bin", win::GENERIC_READ, 0, win::OPEN_EXISTING, 0);
  };
  UniqueFileHandle first(machine, open());
  ASSERT_TRUE(first);
  UniqueFileHandle second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
  EXPECT_EQ(machine.OpenHandleCount(), 1u);

  UniqueFileHandle third(machine, win::INVALID_HANDLE_VALUE);
  third = std::move(second);
  EXPECT_EQ(machine.OpenHandleCount(), 1u);
  const win::HANDLE raw = third.release();
  EXPECT_FALSE(third);
  EXPECT_EQ(machine.OpenHandleCount(), 1u);
  third.reset(raw);
  third.reset(raw);  // the same value again: still held, not closed
  EXPECT_EQ(machine.OpenHandleCount(), 1u);
  machine.files.AddFile("C:\\b.bin", "b");
  third.reset(machine.CreateFileA("C:\\b.bin", win::GENERIC_READ, 0, win::OPEN_EXISTING, 0));
  EXPECT_EQ(machine.OpenHandleCount(), 1u);  // the first closed

  EXPECT_TRUE(third.close());
  EXPECT_FALSE(third.close());  // nothing held
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  // A close that reports an error is reported, and the handle is gone.
  UniqueFileHandle failing(machine, open());
  machine.faults.Fail(win::Call::CloseHandle);
  EXPECT_FALSE(failing.close());
  EXPECT_FALSE(failing);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// A write is true only when the close succeeded too.
TEST(HandleOwnerTest, AWriteWhoseCloseFailsFails) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\d");
  machine.faults.Fail(win::Call::CloseHandle);
  EXPECT_FALSE(WriteBytesToFile(machine, "C:\\d\\f.bin", {"abc"}));
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
  machine.faults.Fail(win::Call::CloseHandle);
  EXPECT_FALSE(WriteBesideAndSwap(machine, 936, "C:\\d\\g.new", "C:\\d\\g", {"abc"}, true));
  EXPECT_EQ(machine.files.Find("C:\\d\\g"), nullptr);
  EXPECT_EQ(machine.files.Find("C:\\d\\g.new"), nullptr);
}

}  // namespace
