// A good install run again and again with one platform call failing: the
// 1st, the 2nd, the 3rd ... once, or from then on, or together with the next
// call of another name. Whatever fails, the game's assembly ends up as it
// was or fully patched, the player's original exists whole at every
// instant (the assembly or a kept copy), and what the run reports matches
// what happened.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::kAssemblySize;

// The player's original, and the payload of the version the runs install.
const std::string& Original() {
  static const std::string original(kAssemblySize, 'o');
  return original;
}
const std::string& Payload() { return scenario::PayloadBytes("0.25c"); }

// What a file holds after a run, told by comparing it with the original and
// the payload, never by a copy: a sweep makes hundreds of runs, and under
// AddressSanitizer each copy of megabytes costs more than the run itself.
struct Held {
  enum What { kMissing, kOriginal, kPayload, kOther } what = kMissing;
  std::size_t size = 0;  // of other bytes

  static Held Of(const sim::FileSystem::Node* file) {
    if (!file) return {};
    if (file->data == Original()) return {kOriginal};
    if (file->data == Payload()) return {kPayload};
    return {kOther, file->data.size()};
  }
  bool operator==(What other) const { return what == other; }
  friend bool operator==(const Held&, const Held&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Held& held) {
    if (held.what == kOther) return out << held.size << " other bytes";
    return out << (held.what == kMissing ? "missing" : held.what == kOriginal ? "the original" : "the payload");
  }
};

struct Outcome {
  Held assembly;               // what the assembly holds afterwards
  Held backup;                 // what the backup holds
  std::vector<std::string> steps;  // the truth texts the step lines printed
  std::string failureReport;   // the RunFailureReport box, when shown
  bool asideLeft = false;      // a set-aside original or a new file left in the Managed folder
  Held kept;                   // what the kept original the run wrote holds
  std::size_t openHandles = 0;
  int exitCode = 0;
  long originalLostAt = 0;  // the first call before which the original existed nowhere
  long failable = 0;
  std::string failedCall;
  std::vector<std::string> failableNames;
  std::set<std::string> failedCalls;
  std::string elevation;  // what the run said after its elevated part, when it asked
};

// How the faults are laid out around the `failAt`-th failable call.
enum class Pattern { kOnce, kFromThenOn, kWithNextOther };

// What else lies on the machine before the run.
using Setup = void (*)(sim::Machine&, const scenario::Game&);

// `answers` script the user; `failAt` 0 injects nothing.
Outcome RunOnce(std::deque<int> answers, long failAt, bool window = true,
                Pattern pattern = Pattern::kOnce, const std::vector<std::string>* clean = nullptr,
                Setup setup = nullptr) {
  sim::Machine machine;
  // With extensions hidden, so that the registry reads are part of the run.
  machine.registry.SetDword("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                            "HideFileExt", 1);
  scenario::Game game = scenario::InstallGame(machine, kAssemblySize, window);
  if (setup) setup(machine, game);
  std::set<std::string> laidOut;
  for (const auto& [key, node] : machine.files.nodes) laidOut.insert(key);
  const std::string assemblyPath = game.AssemblyPath();
  const std::string& original = Original();
  Outcome out;
  scenario::WatchOriginal(machine, assemblyPath, original, &out.originalLostAt);
  machine.user.answers = std::move(answers);
  // When asked, the user picks the right version by hand.
  machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                                 {sim::ScriptedUser::Action::kPressOk, ""}};
  if (failAt > 0 && pattern == Pattern::kOnce) machine.faults.FailAtCall(failAt);
  if (failAt > 0 && pattern != Pattern::kOnce) {
    // The clean run's failable calls, in order, give the name and its use.
    const std::string& name = (*clean)[static_cast<std::size_t>(failAt - 1)];
    const int use = static_cast<int>(std::count(clean->begin(), clean->begin() + failAt, name));
    if (pattern == Pattern::kFromThenOn) {
      machine.faults.Fail(name, use, -1);
    } else {
      machine.faults.Fail(name, use);
      for (auto next = clean->begin() + failAt; next != clean->end(); ++next)
        if (*next != name) {
          machine.faults.Fail(*next, static_cast<int>(std::count(clean->begin(), next + 1, *next)));
          break;
        }
    }
  }
  out.exitCode = ProgramEntry(machine);
  if (out.originalLostAt == 0 && !scenario::OriginalSomewhere(machine, assemblyPath, original))
    out.originalLostAt = static_cast<long>(machine.faults.calls.size()) + 1;
  out.failable = machine.faults.failableCalls;
  out.failableNames = machine.faults.failableNames;
  if (!machine.faults.failed.empty()) out.failedCall = machine.faults.failed.front();
  out.failedCalls.insert(machine.faults.failed.begin(), machine.faults.failed.end());
  out.assembly = Held::Of(machine.files.Find(game.AssemblyPath()));
  // Without a temporary folder the backup lands beside the installer.
  const std::string backupPart = "Thistlegarden补丁程序\\Assembly-CSharp.dll";
  auto* backup = machine.files.Find(scenario::kTemp + backupPart);
  if (!backup) backup = machine.files.Find("C:\\Games\\Tools\\" + backupPart);
  out.backup = Held::Of(backup);
  // An earlier build's ".aside1" is the player's to keep: no run writes one.
  for (const auto& [key, node] : machine.files.nodes)
    if ((node.name.starts_with(game.AssemblyPath() + ".") && !node.name.ends_with(".aside1")) ||
        node.name.ends_with(".patch-new"))
      out.asideLeft = true;
  // The kept originals the run wrote: each the whole original ("missing"
  // when it wrote none).
  for (const auto& [key, node] : machine.files.nodes) {
    const bool keptName = node.name.starts_with(game.folder + "Thistlegarden_Data\\Managed\\原版Assembly-CSharp-") &&
                          node.name.ends_with(".dll.bak");
    if (keptName && !laidOut.count(key)) out.kept = Held::Of(&node);
  }
  out.openHandles = machine.OpenHandleCount();
  for (const auto& line : scenario::Lines(machine.console))
    if (line.text.starts_with("执行过程[")) out.steps.push_back(line.text.substr(line.text.size() - 4, 2));
  for (const auto& box : machine.dialogs.shown)
    if (box.text.starts_with("程序执行过程中出现错误！")) out.failureReport = box.text;
  const auto lines = scenario::Lines(machine.console);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].text.starts_with("游戏所在的文件夹需要管理员权限")) out.elevation = lines[i + 1].text;
  return out;
}

void CheckInvariant(const Outcome& out, long n, bool several) {
  SCOPED_TRACE("failing call " + std::to_string(n) + ": " + out.failedCall);
  // Only the window definitions failing to load ends the program early.
  const bool definitionsLost =
      out.failedCalls.count("RegisterClassExA") || (several && out.failedCalls.count("CreateWindowExA"));
  EXPECT_EQ(out.exitCode, definitionsLost && out.exitCode == -1 ? -1 : 0);
  EXPECT_NE(out.assembly, Held{Held::kMissing});
  // The player's original is never lost, not even for a moment.
  EXPECT_EQ(out.originalLostAt, 0) << "the original existed nowhere before call "
                                   << out.originalLostAt;
  const bool patched = out.assembly == Held::kPayload;
  EXPECT_TRUE(patched || out.assembly == Held::kOriginal) << "assembly: " << out.assembly;
  const bool backedUp = out.backup == Held::kPayload;
  EXPECT_TRUE(backedUp || out.backup == Held::kMissing) << "backup: " << out.backup;
  // A kept original is the whole original.
  EXPECT_TRUE(out.kept == Held::kOriginal || out.kept == Held::kMissing) << "kept: " << out.kept;
  // The step lines, where they reached the console, tell the truth: never a
  // success that did not happen. With more than one failure, a failed read
  // back and a failed restore behind it leave a patch reported as failed:
  // the run could not verify it.
  const bool said = out.steps.size() == 2 ? out.steps[0] == "真" : patched;
  if (said) {
    EXPECT_TRUE(patched);
  }
  if (!said && patched) {
    EXPECT_TRUE(several && (out.failedCalls.count("ReadFile") || out.failedCalls.count("CreateFileA")))
        << "a patch reported as failed";
  }
  if (out.steps.size() == 2) {
    EXPECT_EQ(out.steps[1], backedUp ? "真" : "假");
  }
  // So does the failure report, shown exactly when a step failed.
  if (!out.failureReport.empty()) {
    std::string expectedEnd = std::string(said ? "真" : "假") + "\r\n" + (backedUp ? "真" : "假");
    EXPECT_TRUE(out.failureReport.ends_with(expectedEnd));
    EXPECT_FALSE(said && backedUp);
  } else if (out.steps.size() == 2 && !out.failedCalls.count("MessageBoxTimeoutA")) {
    EXPECT_TRUE(said && backedUp) << "a failed step went unreported";
  }
  // What the run said of the disk after its elevated part is what is there.
  const auto says = [&out](const char* text) { return out.elevation.find(text) != std::string::npos; };
  if (says("游戏文件未作任何改动")) {
    EXPECT_EQ(out.assembly, Held{Held::kOriginal}) << out.elevation;
    EXPECT_EQ(out.kept, Held{Held::kMissing});
    EXPECT_FALSE(out.asideLeft);
  }
  if (says("原版已另存为")) {
    EXPECT_EQ(out.kept, Held{Held::kOriginal});
  }
  if (says("留下了未完成的临时文件")) {
    EXPECT_TRUE(out.asideLeft);
  }
  // Only a failing release leaves something open.
  static const std::set<std::string> kReleases = {"HeapFree", "LocalFree", "FindClose",
                                                     "RegCloseKey"};
  if (std::none_of(out.failedCalls.begin(), out.failedCalls.end(),
                   [](const std::string& call) { return kReleases.count(call) > 0; })) {
    EXPECT_EQ(out.openHandles, 0u);
  }
}

// The calls whose failure left something beside the assembly. Without
// `setup`, the sweep must have failed each call a good run makes.
std::set<std::string> Sweep(const std::deque<int>& answers, bool window = true,
                            Pattern pattern = Pattern::kOnce, Setup setup = nullptr) {
  Outcome clean = RunOnce(answers, 0, window, Pattern::kOnce, nullptr, setup);
  CheckInvariant(clean, 0, false);
  EXPECT_GT(clean.failable, 20);
  if (!setup) {
    EXPECT_EQ(clean.kept, Held{Held::kOriginal});
  }
  std::set<std::string> leftAside;
  std::set<std::string> covered;
  for (long n = 1; n <= clean.failable; ++n) {
    // A version window that can never be destroyed stays open for good: the
    // user closes it again and again.
    if (pattern == Pattern::kFromThenOn &&
        clean.failableNames[static_cast<std::size_t>(n - 1)] == "DestroyWindow")
      continue;
    Outcome out = RunOnce(answers, n, window, pattern, &clean.failableNames, setup);
    CheckInvariant(out, n, pattern != Pattern::kOnce);
    covered.insert(out.failedCall);
    if (out.asideLeft) leftAside.insert(out.failedCall);
    if (::testing::Test::HasFailure()) break;
  }
  for (const char* call : {"CreateToolhelp32Snapshot", "OpenProcess", "NtQueryInformationProcess",
                           "HeapAlloc", "RegOpenKeyExW", "RegQueryValueExW", "GetFileTitleW",
                           "MessageBoxTimeoutA", "MoveFileExW", "CreateFileA", "DeleteFileA",
                           "FlushFileBuffers", "ReadFile",
                           "CopyFileA", "CreateDirectoryW", "GetTempPathA", "TerminateProcess",
                           "CreateProcessA"})
    EXPECT_TRUE(setup || covered.count(call) ||
                (window && std::string(call) == "CreateToolhelp32Snapshot"))
        << call;
  return leftAside;
}

TEST(FaultLoopTest, ConfirmedVersion) {
  Outcome clean = RunOnce({scenario::kIdOk}, 0);
  EXPECT_EQ(clean.assembly, Held{Held::kPayload});
  EXPECT_TRUE(clean.failureReport.empty());
  // No single failure leaves anything beside the assembly.
  EXPECT_EQ(Sweep({scenario::kIdOk}), std::set<std::string>{});
}

TEST(FaultLoopTest, DeclinedVersionThenManualPick) {
  Outcome clean = RunOnce({scenario::kIdCancel, scenario::kIdOk}, 0);
  EXPECT_EQ(clean.assembly, Held{Held::kPayload});
  EXPECT_EQ(Sweep({scenario::kIdCancel, scenario::kIdOk}), std::set<std::string>{});
}

// Found by its process name alone: the process list is read too.
TEST(FaultLoopTest, GameWithoutWindow) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, false), std::set<std::string>{});
}

// A call that fails from its n-th use on, as a full disk or a file held
// open by another program does. (Each sweep a case of its own, here and
// below: CTest runs them side by side.)
TEST(FaultLoopTest, CallFailingFromThenOn) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kFromThenOn), std::set<std::string>{});
}

TEST(FaultLoopTest, CallFailingFromThenOnDeclinedThenPicked) {
  EXPECT_EQ(Sweep({scenario::kIdCancel, scenario::kIdOk}, true, Pattern::kFromThenOn),
            std::set<std::string>{});
}

// An original an earlier build set aside, of another version's size, lies
// beside the assembly: whatever the player answers, the assembly is not
// touched before a version is confirmed.
void OtherAside(sim::Machine& machine, const scenario::Game& game) {
  machine.files.AddFile(game.AssemblyPath() + ".aside1",
                        std::string(scenario::SizeOf(scenario::kVersions[0]), 'a'));
}

TEST(FaultLoopTest, LeftoverAside) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, OtherAside), std::set<std::string>{});
}

TEST(FaultLoopTest, LeftoverAsideAndNothingConfirmed) {
  EXPECT_EQ(Sweep({scenario::kIdCancel, scenario::kIdCancel}, true, Pattern::kOnce, OtherAside),
            std::set<std::string>{});
}

// The game's folder only administrators may change, the elevation granted:
// the elevated part's calls fail in turn too, and what it reports by its
// exit code is what the run tells.
void AdminOnly(sim::Machine& machine, const scenario::Game& game) {
  scenario::MakeAdminOnly(machine, game);
}

TEST(FaultLoopTest, AdminOnlyFolderThroughTheElevatedPart) {
  const Outcome clean = RunOnce({scenario::kIdOk}, 0, true, Pattern::kOnce, nullptr, AdminOnly);
  for (const char* call : {"ShellExecuteExW", "CommandLineToArgvW", "GetExitCodeProcess",
                           "GetModuleFileNameW", "MoveFileExW"})
    EXPECT_NE(std::find(clean.failableNames.begin(), clean.failableNames.end(), call),
              clean.failableNames.end())
        << call;
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, AdminOnly), std::set<std::string>{});
}

// Layouts the player's folder may have: the kept name taken by another
// original, all nine taken, the same original kept before and marked
// read-only and hidden, a scanner holding the assembly for a moment; every
// single failure on top of each.
void KeptNameTaken(sim::Machine& machine, const scenario::Game& game) {
  machine.files.AddFile(scenario::KeptOriginalPath(game.folder, "0.25c"), "another original");
}
void AllNineTaken(sim::Machine& machine, const scenario::Game& game) {
  for (int n = 1; n <= 9; ++n)
    machine.files.AddFile(scenario::KeptOriginalPath(game.folder, n == 1 ? "0.25c" : "0.25c-" + std::to_string(n)),
                          "another original " + std::to_string(n));
}
void KeptBeforeReadOnlyHidden(sim::Machine& machine, const scenario::Game& game) {
  machine.files.AddFile(scenario::KeptOriginalPath(game.folder, "0.25c"), std::string(kAssemblySize, 'o'),
                        win::FILE_ATTRIBUTE_READONLY | 0x2 /* hidden */);
}
void ScannerHoldsTheAssembly(sim::Machine& machine, const scenario::Game& game) {
  machine.files.Find(game.AssemblyPath())->refusals = 2;
}

TEST(FaultLoopTest, KeptNameTaken) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, KeptNameTaken), std::set<std::string>{});
}

TEST(FaultLoopTest, AllNineKeptNamesTaken) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, AllNineTaken), std::set<std::string>{});
}

TEST(FaultLoopTest, KeptBeforeReadOnlyHidden) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, KeptBeforeReadOnlyHidden), std::set<std::string>{});
}

TEST(FaultLoopTest, ScannerHoldsTheAssembly) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, true, Pattern::kOnce, ScannerHoldsTheAssembly), std::set<std::string>{});
}

// Two different calls failing: only a failed removal of the new file after
// a failed swap leaves it beside the assembly, for the next run to remove.
TEST(FaultLoopTest, TwoDifferentCallsFailing) {
  const std::set<std::string> left = Sweep({scenario::kIdOk}, true, Pattern::kWithNextOther);
  for (const std::string& call : left) EXPECT_TRUE(call == "MoveFileExW" || call == "CloseHandle" ||
                                                   call == "FlushFileBuffers" || call == "WriteFile" ||
                                                   call == "MultiByteToWideChar")
      << call;
}

}  // namespace
