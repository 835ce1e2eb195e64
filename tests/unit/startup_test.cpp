// Start-up, the banner and shutdown on a simulated machine.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "platform/sim/machine.h"
#include "unit/scenario.h"

namespace {

using scenario::Line;
using scenario::Lines;

long IndexOf(const win::FaultingApi& faults, const std::string& name) {
  auto it = std::find(faults.calls.begin(), faults.calls.end(), name);
  return it == faults.calls.end() ? -1 : it - faults.calls.begin();
}

const std::vector<Line> kBanner = [] {
  auto lines = scenario::GoodInstallLines(0, 0, "", "");
  lines.resize(scenario::kBannerLines);
  return lines;
}();

TEST(StartupTest, PrintsTheBannerFirstAndEndsWithZero) {
  sim::Machine machine;
  machine.console.attributes = 0x1F;
  EXPECT_EQ(ProgramEntry(machine), 0);
  auto lines = Lines(machine.console);
  ASSERT_GE(lines.size(), kBanner.size());
  for (std::size_t i = 0; i < kBanner.size(); ++i) {
    EXPECT_EQ(lines[i].text, kBanner[i].text) << "line " << i;
    EXPECT_EQ(lines[i].attributes, kBanner[i].attributes) << "line " << i;
  }
  // Colours, console code page, OLE and windows are all put back.
  EXPECT_EQ(machine.console.attributes, 0x1F);
  EXPECT_EQ(machine.console.outputCodePage, 437u);
  EXPECT_EQ(machine.self.oleInitialized, 0);
  EXPECT_TRUE(machine.windows.windows.empty());
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(StartupTest, StepsRunInOrder) {
  sim::Machine machine;
  ProgramEntry(machine);
  const auto& f = machine.faults;
  std::vector<long> order = {IndexOf(f, "OleInitialize"),    IndexOf(f, "GetModuleFileNameA"),
                             IndexOf(f, "SetCurrentDirectoryA"), IndexOf(f, "CreateWindowExA"),
                             IndexOf(f, "GetStdHandle"),     IndexOf(f, "SetConsoleOutputCP"),
                             IndexOf(f, "WriteFile"),        IndexOf(f, "DestroyWindow"),
                             IndexOf(f, "OleUninitialize")};
  for (long at : order) EXPECT_GE(at, 0);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  // The code page is switched to 936 before the first line and back at the end.
  EXPECT_EQ(std::count(f.calls.begin(), f.calls.end(), "SetConsoleOutputCP"), 2);
  // No message loop when no window is left open.
  EXPECT_EQ(IndexOf(f, "GetMessageA"), -1);
}

TEST(StartupTest, MakesTheProgramFolderCurrent) {
  sim::Machine machine;
  machine.self.modulePath = "D:\\补丁\\ThistlegardenPatch.exe";
  machine.files.AddFile(machine.self.modulePath, "MZ");
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(machine.self.currentDirectory, "D:\\补丁");

  // A module path without a backslash leaves the current folder alone.
  sim::Machine bare;
  bare.self.modulePath = "ThistlegardenPatch.exe";
  EXPECT_EQ(ProgramEntry(bare), 0);
  EXPECT_EQ(bare.self.currentDirectory, "C:\\Users\\Player\\Downloads");
  EXPECT_GT(Lines(bare.console).size(), kBanner.size());
}

// Before anything else: DLLs loaded later come from the system's folder only.
TEST(StartupTest, DllSearchIsLimitedToTheSystemFolderFirst) {
  sim::Machine machine;
  ProgramEntry(machine);
  ASSERT_FALSE(machine.faults.calls.empty());
  EXPECT_EQ(machine.faults.calls[0], "SetDefaultDllDirectories");
  EXPECT_EQ(machine.self.dllDirectories, win::LOAD_LIBRARY_SEARCH_SYSTEM32);

  // A system without it (Windows 7 before its update) runs the same.
  sim::Machine old;
  old.self.missingExports.insert("SetDefaultDllDirectories");
  EXPECT_EQ(ProgramEntry(old), 0);
  EXPECT_EQ(old.self.dllDirectories, 0u);
  EXPECT_EQ(Lines(old.console), Lines(machine.console));
}

// The folder is cut at its last real backslash, whatever the path's length.
TEST(StartupTest, OwnFolderOfLongAndTwoBytePaths) {
  struct Case {
    std::string module;
    std::string folder;  // the current folder afterwards
  };
  const std::string deep = "D:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b');
  // 乗 is 0x81 0x5C in code page 936: its second byte is no backslash.
  const Case cases[] = {
      {deep + "\\ThistlegardenPatch.exe", deep},
      {"D:\\补丁\\乗.exe", "D:\\补丁"},
      {"D:\\乗\\ThistlegardenPatch.exe", "D:\\乗"},
      // "€" is the one byte 0x80, no lead byte.
      {"D:\\补丁\x80\\ThistlegardenPatch.exe", "D:\\补丁\x80"},
      {"E:\\ThistlegardenPatch.exe", "E:\\"},
  };
  for (const Case& c : cases) {
    sim::Machine machine;
    machine.self.modulePath = c.module;
    machine.files.AddFile(c.module, "MZ");
    // Where a cut at the byte 0x5C would lead.
    machine.files.AddDirectory("D:\\补丁\\\x81");
    EXPECT_EQ(ProgramEntry(machine), 0) << c.module;
    EXPECT_EQ(machine.self.currentDirectory, c.folder) << c.module;
  }
}

TEST(StartupTest, ConsoleAlreadyOnCodePage936IsLeftAlone) {
  sim::Machine machine;
  machine.console.outputCodePage = 936;
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(IndexOf(machine.faults, "SetConsoleOutputCP"), -1);
  EXPECT_EQ(machine.console.outputCodePage, 936u);
}

TEST(StartupTest, RedirectedOutputWritesNothing) {
  sim::Machine machine;
  machine.console.redirected = true;
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(machine.console.redirectedBytes, "");
  EXPECT_EQ(IndexOf(machine.faults, "WriteFile"), -1);
}

TEST(StartupTest, FailingPlatformCallsDoNotStopTheRun) {
  for (const char* call : {"OleInitialize", "GetModuleFileNameA", "SetCurrentDirectoryA",
                           "CreateWindowExA", "GetConsoleOutputCP", "SetConsoleOutputCP"}) {
    sim::Machine machine;
    machine.faults.Fail(call);
    EXPECT_EQ(ProgramEntry(machine), 0) << call;
    EXPECT_GT(Lines(machine.console).size(), kBanner.size()) << call;
    EXPECT_EQ(machine.console.outputCodePage, 437u) << call;
  }
}

TEST(StartupTest, UnreadableWindowDefinitionsAreARuntimeError) {
  sim::Machine machine;
  machine.faults.Fail(win::Call::RegisterClassExA, 2);  // the owner's class passes, the definitions' fail
  EXPECT_EQ(ProgramEntry(machine), -1);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  const auto& box = machine.dialogs.shown[0];
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：载入窗口模板数据段出错!\r\n\r\n5, 1\r\n");
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.style, 0x10u);
  EXPECT_EQ(box.owner, 0u);
  EXPECT_TRUE(machine.console.written.empty());
  EXPECT_TRUE(machine.windows.windows.empty());
  EXPECT_EQ(machine.self.oleInitialized, 0);
}

// One run at a time in the session: a second start while a run is going
// says so in a brief box and ends, touching nothing; the first run is as if
// alone.
TEST(StartupTest, ASecondStartWhileARunIsGoingOnlySaysSo) {
  sim::Machine machine;
  scenario::Game game = scenario::InstallGame(machine, scenario::kAssemblySize);
  machine.user.answers = {scenario::kIdOk, scenario::kIdOk};
  std::size_t writtenBefore = 0, writtenAfter = 0;
  long changesBefore = 0, changesAfter = 0;
  int second = -1;
  // The player starts it again while the first run asks its question.
  machine.user.onShow = [&, &m = machine] {
    if (second != -1) return;
    writtenBefore = m.console.written.size();
    changesBefore = m.files.changes();
    second = 1;
    second = ProgramEntry(m);
    writtenAfter = m.console.written.size();
    changesAfter = m.files.changes();
  };
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(writtenAfter, writtenBefore);
  EXPECT_EQ(changesAfter, changesBefore);
  ASSERT_EQ(machine.dialogs.shown.size(), 2u);
  // Recorded as answered: the second start's box closed first.
  const auto& box = machine.dialogs.shown[0];
  EXPECT_EQ(box.text, "补丁程序已经在运行，请在先打开的窗口中继续。");
  EXPECT_EQ(box.caption, "友情提醒");
  EXPECT_EQ(box.style, 0x10040u);
  EXPECT_EQ(box.timeout, 5000u);
  // One patch, one restarted game, no failure report.
  EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
  EXPECT_EQ(scenario::Started(machine).size(), 2u);
  EXPECT_EQ(machine.dialogs.shown[1].caption, "欧尼酱~这个事情很重要！");
  // The mutex goes with the run: the next start runs.
  EXPECT_TRUE(machine.processes.mutexes.empty());
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// The run holds the mutex until its closing line, not through the closing
// wait: a start during those ten seconds runs.
TEST(StartupTest, TheClosingWaitHoldsNoMutex) {
  sim::Machine machine;
  scenario::InstallGame(machine, scenario::kAssemblySize);
  machine.user.answers = {scenario::kIdOk};
  std::vector<std::size_t> heldAtSleep;
  auto inner = machine.faults.stamp;
  machine.faults.stamp = [&machine, &heldAtSleep, inner] {
    if (machine.faults.calls.back() == "Sleep") heldAtSleep.push_back(machine.processes.mutexes.size());
    return inner();
  };
  EXPECT_EQ(ProgramEntry(machine), 0);
  ASSERT_GE(heldAtSleep.size(), 2u);
  EXPECT_EQ(heldAtSleep.front(), 1u);
  EXPECT_EQ(heldAtSleep.back(), 0u);
  EXPECT_EQ(std::count(heldAtSleep.begin(), heldAtSleep.end(), 0u), 1);
}

// A run started with other rights (as administrator) holds a mutex this
// start is refused: a run is going all the same.
TEST(StartupTest, AMutexRefusedToThisStartMeansARunIsGoing) {
  sim::Machine machine;
  scenario::Game game = scenario::InstallGame(machine, scenario::kAssemblySize);
  const std::string before = machine.files.Find(game.AssemblyPath())->data;
  machine.processes.mutexes[u"Local\\ThistlegardenPatch.OneRun"] = 1;
  machine.processes.elevatedMutexes.insert(u"Local\\ThistlegardenPatch.OneRun");
  machine.user.answers = {scenario::kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, "补丁程序已经在运行，请在先打开的窗口中继续。");
  EXPECT_TRUE(machine.console.written.empty());
  EXPECT_EQ(machine.files.changes(), 0);
  EXPECT_EQ(machine.files.Find(game.AssemblyPath())->data, before);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

// Without its mutex a second run could work on the same files: the run
// says so and changes nothing (ElevationTest has its screen).
TEST(StartupTest, AMutexThatCannotBeMadeStopsTheRunBeforeAnyChange) {
  sim::Machine machine;
  scenario::Game game = scenario::InstallGame(machine, scenario::kAssemblySize);
  machine.user.answers = {scenario::kIdOk};
  const std::string original = machine.files.Find(game.AssemblyPath())->data;
  machine.faults.Fail(win::Call::CreateMutexW);
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(machine.files.Find(game.AssemblyPath())->data, original);
  EXPECT_EQ(machine.files.changes(), 0);
}

TEST(RuntimeErrorTest, ReportSkipsTheCleanupRoutines) {
  sim::Machine machine;
  ProgramState state(machine);
  static int ran = 0;
  RegisterCleanup(state, [](ProgramState&) { ++ran; });
  RegisterCleanup(state, [](ProgramState&) { ++ran; });
  EXPECT_EQ(ReportRuntimeError(state, 1, "数组成员引用下标超出定义范围", -7, 12), -1);
  EXPECT_EQ(machine.dialogs.shown.at(0).text,
            "运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n"
            "\r\n-7, 12\r\n");
  EXPECT_TRUE(state.cleanupRoutines.empty());
  EXPECT_EQ(ran, 0);
  // Without number and message only the location stays.
  EXPECT_EQ(ReportRuntimeError(state, 0, "", 0, 0), -1);
  EXPECT_EQ(machine.dialogs.shown.at(1).text, "运行时出错!\r\n\r\n0, 0\r\n");
}

TEST(CleanupTest, RegisteredOnceRunsOnce) {
  sim::Machine machine;
  ProgramState state(machine);
  CleanupRoutine routine = [](ProgramState& s) { s.chosenVersion += "x"; };
  RegisterCleanup(state, routine);
  RegisterCleanup(state, routine);
  RegisterCleanup(state, [](ProgramState& s) { s.chosenVersion += "y"; });
  ASSERT_EQ(state.cleanupRoutines.size(), 2u);
  for (auto r : state.cleanupRoutines) r(state);
  EXPECT_EQ(state.chosenVersion, "xy");
}

}  // namespace
