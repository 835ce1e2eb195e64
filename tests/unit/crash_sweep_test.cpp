// A good install cut off at each of its platform calls, as by a closed
// console window, a killed process or a power cut: data not flushed may be
// lost and changes to the tree not committed undone. At every instant the
// assembly's path holds the whole original or the whole payload, and the
// player's original exists whole (the assembly or a kept copy); the next run
// on what survived patches the game, loses the original at no instant either,
// and leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using sim::FileSystem;

using scenario::kAssemblySize;

struct Run {
  const char* name;
  std::deque<int> answers;
  bool window = true;
  // An original an earlier build set aside, of another version's size, lies
  // beside the assembly (and stays there).
  bool otherAside = false;
  // The game's folder only administrators may change: the elevated part
  // does the file work, and is cut off too.
  bool adminOnly = false;
};

// How the machine goes down: the process alone (nothing lost), or the power
// with the unflushed data cut off and the uncommitted changes undone, or
// with the unflushed data turned to zeros.
struct Loss {
  const char* name;
  FileSystem::Loss data;
  bool uncommitted;
};
constexpr Loss kLosses[] = {
    {"process killed", FileSystem::Loss::kNothing, false},
    {"power cut, data cut off, changes undone", FileSystem::Loss::kTruncate, true},
    {"power cut, data zeroed", FileSystem::Loss::kZero, false},
};

constexpr char kAsideSuffix[] = ".aside1";

void Prepare(sim::Machine& machine, const Run& run) {
  machine.user.answers = run.answers;
  machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                                 {sim::ScriptedUser::Action::kPressOk, ""}};
}

// Every file under `folder`, by name relative to it: its bytes where they
// lie (a copy of megabytes in each of hundreds of runs costs more than the
// run under AddressSanitizer).
std::map<std::string, const std::string*> FilesUnder(const sim::Machine& machine, const std::string& folder) {
  std::map<std::string, const std::string*> out;
  for (const auto& [key, node] : machine.files.nodes)
    if (!node.directory && node.name.starts_with(folder)) out[node.name.substr(folder.size())] = &node.data;
  return out;
}

// Crashes the run at every call whose disk differs from the call before
// (the disk at the other calls is the same, and so is what follows), under
// each loss; counts the crashes checked.
void Sweep(const Run& run, int* checked) {
  const std::string original(kAssemblySize, 'o');
  const std::string payload(scenario::PayloadBytes("0.25c"));
  const std::string managed = std::string(scenario::kGameFolder) + "Thistlegarden_Data\\Managed\\";
  const std::string ours = std::string(scenario::kTemp) + "Thistlegarden补丁程序\\";

  std::vector<long> stamps;
  {
    sim::Machine clean;
    const scenario::Game game = scenario::InstallGame(clean, kAssemblySize, run.window);
    if (run.otherAside) clean.files.AddFile(game.AssemblyPath() + kAsideSuffix, std::string(2904555, 'a'));
    if (run.adminOnly) scenario::MakeAdminOnly(clean, game);
    Prepare(clean, run);
    EXPECT_EQ(ProgramEntry(clean), 0);
    stamps = clean.faults.stamps;
  }
  for (std::size_t n = 1; n <= stamps.size(); ++n) {
    if (n > 1 && stamps[n - 1] == stamps[n - 2]) continue;
    for (const Loss& loss : kLosses) {
      SCOPED_TRACE(std::string(run.name) + ", crash at call " + std::to_string(n) + ", " + loss.name);
      sim::Machine machine;
      scenario::Game game = scenario::InstallGame(machine, kAssemblySize, run.window);
      if (run.otherAside)
        machine.files.AddFile(game.AssemblyPath() + kAsideSuffix, std::string(2904555, 'a'));
      if (run.adminOnly) scenario::MakeAdminOnly(machine, game);
      Prepare(machine, run);
      machine.files.unflushedLoss = loss.data;
      machine.files.uncommittedLost = loss.uncommitted;
      machine.faults.CrashAtCall(static_cast<long>(n));
      const std::string assemblyPath = game.AssemblyPath();
      long lostAt = 0;
      scenario::WatchOriginal(machine, assemblyPath, original, &lostAt);
      ProgramEntry(machine);
      EXPECT_TRUE(machine.faults.crashed);
      EXPECT_EQ(machine.faults.stamps[n - 1], stamps[n - 1]);

      const auto* assembly = scenario::File(machine, game.AssemblyPath());
      ASSERT_NE(assembly, nullptr) << "no assembly";
      ASSERT_TRUE(assembly->data == original || assembly->data == payload)
          << "an assembly of " << assembly->data.size() << " bytes";
      EXPECT_EQ(lostAt, 0) << "the original existed nowhere before call " << lostAt;
      EXPECT_TRUE(scenario::OriginalSomewhere(machine, assemblyPath, original))
          << "the original is lost";

      // The player starts the game again and the installer once more: a game
      // left patched is offered its original back (and agrees), any other is
      // patched.
      const bool leftPatched = assembly->data == payload;
      sim::Machine again;
      scenario::RestartOn(again, std::move(machine), run.window);
      Prepare(again, run);
      if (leftPatched) again.user.answers = {scenario::kIdOk};
      long lostAgainAt = 0;
      scenario::WatchOriginal(again, assemblyPath, original, &lostAgainAt);
      EXPECT_EQ(ProgramEntry(again), 0);
      EXPECT_EQ(lostAgainAt, 0) << "the next run lost the original before call " << lostAgainAt;
      ASSERT_TRUE(scenario::File(again, game.AssemblyPath())->data == (leftPatched ? original : payload))
          << (leftPatched ? "not restored" : "not patched");
      auto inManaged = FilesUnder(again, managed);
      if (run.otherAside) {
        EXPECT_EQ(inManaged.count("Assembly-CSharp.dll.aside1"), 1u) << "the aside is gone";
        inManaged.erase("Assembly-CSharp.dll.aside1");
      }
      // The assembly and the one kept original, whole, with its record.
      const auto kept = inManaged.find(scenario::KeptOriginalName(scenario::kLabel));
      ASSERT_NE(kept, inManaged.end());
      EXPECT_TRUE(*kept->second == original) << "the kept original is not whole";
      EXPECT_EQ(inManaged.count(scenario::kKeptRecordName), 1u);
      EXPECT_EQ(inManaged.size(), 3u) << "left beside the assembly: " << inManaged.rbegin()->first;
      const auto inOurs = FilesUnder(again, ours);
      const std::set<std::string> names = [&] {
        std::set<std::string> out;
        // The runs' records, at most five.
        for (const auto& [name, data] : inOurs)
          if (!name.starts_with("运行记录")) out.insert(name);
        EXPECT_LE(inOurs.size() - out.size(), 5u);
        return out;
      }();
      const std::set<std::string> installed = {"Assembly-CSharp.dll", "补丁对比图\\该文件夹没用可以直接删除",
                                               "补丁对比图\\安装前.PNG", "补丁对比图\\安装后.PNG"};
      // A restore writes nothing there: what the crashed run wrote stays,
      // as the power cut left it.
      if (leftPatched) {
        EXPECT_TRUE(std::includes(installed.begin(), installed.end(), names.begin(), names.end()));
      } else {
        EXPECT_EQ(names, installed);
        EXPECT_TRUE(*inOurs.at("Assembly-CSharp.dll") == payload);
      }
      ++*checked;
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(CrashSweepTest, ConfirmedVersion) {
  int checked = 0;
  Sweep({"confirmed", {scenario::kIdOk}}, &checked);
  EXPECT_GE(checked, 3 * 15);
}

TEST(CrashSweepTest, DeclinedVersionThenManualPick) {
  int checked = 0;
  Sweep({"declined, then picked", {scenario::kIdCancel, scenario::kIdOk}}, &checked);
  EXPECT_GE(checked, 3 * 15);
}

TEST(CrashSweepTest, GameWithoutWindow) {
  int checked = 0;
  Sweep({"no window", {scenario::kIdOk}, false}, &checked);
  EXPECT_GE(checked, 3 * 15);
}

TEST(CrashSweepTest, LeftoverAside) {
  int checked = 0;
  Sweep({"an earlier build's aside", {scenario::kIdOk}, true, true}, &checked);
  EXPECT_GE(checked, 3 * 15);
}

TEST(CrashSweepTest, AdminOnlyFolderThroughTheElevatedPart) {
  int checked = 0;
  Sweep({"admin-only folder", {scenario::kIdOk}, true, false, true}, &checked);
  EXPECT_GE(checked, 3 * 15);
}

// The crash model itself: what a crash keeps and loses.
TEST(CrashSweepTest, WhatACrashKeeps) {
  for (const Loss& loss : kLosses) {
    SCOPED_TRACE(loss.name);
    sim::Machine machine;
    machine.files.AddDirectory("C:\\d");
    machine.files.AddFile("C:\\d\\old", "old data");
    machine.files.unflushedLoss = loss.data;
    machine.files.uncommittedLost = loss.uncommitted;
    auto write = [&](const char* path, const char* data, bool flush) {
      const win::HANDLE file =
          machine.CreateFileA(path, win::GENERIC_WRITE, 0, win::CREATE_ALWAYS, 0);
      win::DWORD done = 0;
      machine.WriteFile(file, data, static_cast<win::DWORD>(std::strlen(data)), &done);
      if (flush) machine.FlushFileBuffers(file);
      machine.CloseHandle(file);
    };
    write("C:\\d\\flushed", "flushed", true);
    write("C:\\d\\unflushed", "unflushed", false);
    machine.MoveFileExW(u"C:\\d\\flushed", u"C:\\d\\moved", win::MOVEFILE_WRITE_THROUGH);
    machine.DeleteFileA("C:\\d\\old");
    machine.faults.CrashAtCall(1);
    EXPECT_FALSE(machine.DeleteFileA("C:\\d\\moved"));  // the machine is down
    ASSERT_TRUE(machine.faults.crashed);

    const auto* moved = machine.files.Find("C:\\d\\moved");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->data, "flushed");
    EXPECT_EQ(machine.files.Find("C:\\d\\flushed"), nullptr);
    // Its creation was committed by the write-through move; its data was
    // never flushed. The delete after the move was not committed.
    const auto* unflushed = machine.files.Find("C:\\d\\unflushed");
    ASSERT_NE(unflushed, nullptr);
    const std::string expected = loss.data == FileSystem::Loss::kZero       ? std::string(9, '\0')
                                 : loss.data == FileSystem::Loss::kTruncate ? std::string()
                                                                            : "unflushed";
    EXPECT_EQ(unflushed->data, expected);
    const auto* old = machine.files.Find("C:\\d\\old");
    if (loss.uncommitted) {
      ASSERT_NE(old, nullptr);
      EXPECT_EQ(old->data, "old data");
    } else {
      EXPECT_EQ(old, nullptr);
    }
  }
}

}  // namespace
