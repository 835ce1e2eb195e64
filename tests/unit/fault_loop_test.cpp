// A good install run again and again with one platform call failing: the
// 1st, the 2nd, the 3rd ... Whatever fails, the game's assembly ends up as
// it was or fully patched, and what the run reports matches what happened.
#include <gtest/gtest.h>

#include <set>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

constexpr long long kAssemblySize = 3240100;  // "0.25c"

struct Outcome {
  std::string assembly;        // the assembly's bytes afterwards, or "missing"
  std::string backup;          // the backup's bytes, or "missing"
  std::vector<std::string> steps;  // the truth texts the step lines printed
  std::string failureReport;   // the RunFailureReport box, when shown
  bool asideLeft = false;      // a set-aside original left in the Managed folder
  std::size_t openHandles = 0;
  int exitCode = 0;
  long failable = 0;
  std::string failedCall;
};

// `answers` script the user; `failAt` 0 injects nothing.
Outcome RunOnce(std::deque<int> answers, long failAt, bool window = true) {
  sim::Machine machine;
  // With extensions hidden, so that the registry reads are part of the run.
  machine.registry.SetDword("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                            "HideFileExt", 1);
  scenario::Game game = scenario::InstallGame(machine, kAssemblySize, window);
  machine.dialogs.answers = std::move(answers);
  // When asked, the user picks the right version by hand.
  machine.windows.userActions = {{sim::WindowSystem::UserAction::kPick, "0.25c"},
                                 {sim::WindowSystem::UserAction::kPressOk, ""}};
  if (failAt > 0) machine.faults.FailAtCall(failAt);
  Outcome out;
  out.exitCode = ProgramEntry(machine);
  out.failable = machine.faults.failableCalls;
  if (!machine.faults.failed.empty()) out.failedCall = machine.faults.failed.front();
  auto* assembly = machine.files.Find(game.AssemblyPath());
  out.assembly = assembly ? assembly->data : "missing";
  // Without a temporary folder the backup lands beside the installer.
  const std::string backupPart = "Thistlegarden补丁程序\\Assembly-CSharp.dll";
  auto* backup = machine.files.Find(scenario::kTemp + backupPart);
  if (!backup) backup = machine.files.Find("C:\\Games\\Tools\\" + backupPart);
  out.backup = backup ? backup->data : "missing";
  for (const auto& [key, node] : machine.files.nodes)
    if (node.name.starts_with(game.AssemblyPath() + ".aside")) out.asideLeft = true;
  out.openHandles = machine.OpenHandleCount();
  for (const auto& line : scenario::Lines(machine.console))
    if (line.text.starts_with("执行过程[")) out.steps.push_back(line.text.substr(line.text.size() - 4, 2));
  for (const auto& box : machine.dialogs.shown)
    if (box.text.starts_with("程序执行过程中出现错误！")) out.failureReport = box.text;
  return out;
}

void CheckInvariant(const Outcome& out, const std::string& original, const std::string& payload,
                    long n) {
  SCOPED_TRACE("failing call " + std::to_string(n) + ": " + out.failedCall);
  // Only the window definitions failing to load ends the program early.
  EXPECT_EQ(out.exitCode, out.failedCall == "RegisterClassExA" && out.exitCode == -1 ? -1 : 0);
  EXPECT_NE(out.assembly, "missing");
  const bool patched = out.assembly == payload;
  EXPECT_TRUE(patched || out.assembly == original) << "assembly of " << out.assembly.size() << " bytes";
  const bool backedUp = out.backup == payload;
  EXPECT_TRUE(backedUp || out.backup == "missing");
  // The step lines, where they reached the console, tell the truth.
  if (out.steps.size() == 2) {
    EXPECT_EQ(out.steps[0], patched ? "真" : "假");
    EXPECT_EQ(out.steps[1], backedUp ? "真" : "假");
  }
  // So does the failure report, shown exactly when a step failed.
  if (!out.failureReport.empty()) {
    std::string expectedEnd = std::string(patched ? "真" : "假") + "\r\n" + (backedUp ? "真" : "假");
    EXPECT_TRUE(out.failureReport.ends_with(expectedEnd));
    EXPECT_FALSE(patched && backedUp);
  } else if (out.steps.size() == 2 && out.failedCall != "MessageBoxTimeoutA") {
    EXPECT_TRUE(patched && backedUp) << "a failed step went unreported";
  }
  // Only a failing release leaves something open.
  static const std::set<std::string> kReleases = {"HeapFree", "LocalFree", "FindClose",
                                                     "RegCloseKey"};
  if (!kReleases.count(out.failedCall)) {
    EXPECT_EQ(out.openHandles, 0u);
  }
}

// The calls whose failure left a set-aside original behind.
std::set<std::string> Sweep(const std::deque<int>& answers, bool window = true) {
  const std::string original(kAssemblySize, 'o');
  const std::string payload(FindPayload("0.25c")->bytes());
  Outcome clean = RunOnce(answers, 0, window);
  EXPECT_GT(clean.failable, 50);
  std::set<std::string> leftAside;
  std::set<std::string> covered;
  for (long n = 1; n <= clean.failable; ++n) {
    Outcome out = RunOnce(answers, n, window);
    CheckInvariant(out, original, payload, n);
    covered.insert(out.failedCall);
    if (out.asideLeft) leftAside.insert(out.failedCall);
    if (::testing::Test::HasFailure()) break;
  }
  for (const char* call : {"CreateToolhelp32Snapshot", "OpenProcess", "NtQueryInformationProcess",
                           "HeapAlloc", "RegOpenKeyExW", "RegQueryValueExW", "GetFileTitleW",
                           "MessageBoxTimeoutA", "MoveFileExA", "CreateFileA", "DeleteFileA",
                           "CopyFileA", "CreateDirectoryW", "GetTempPathA", "TerminateProcess",
                           "CreateProcessA"})
    EXPECT_TRUE(covered.count(call) || (window && std::string(call) == "CreateToolhelp32Snapshot"))
        << call;
  return leftAside;
}

TEST(FaultLoopTest, ConfirmedVersion) {
  const std::string payload(FindPayload("0.25c")->bytes());
  Outcome clean = RunOnce({scenario::kIdOk}, 0);
  EXPECT_TRUE(clean.assembly == payload);
  EXPECT_TRUE(clean.failureReport.empty());
  // Only the discard of the set-aside original, failing, leaves it there.
  EXPECT_EQ(Sweep({scenario::kIdOk}), std::set<std::string>{"DeleteFileA"});
}

TEST(FaultLoopTest, DeclinedVersionThenManualPick) {
  Outcome clean = RunOnce({scenario::kIdCancel, scenario::kIdOk}, 0);
  EXPECT_TRUE(clean.assembly == FindPayload("0.25c")->bytes());
  EXPECT_EQ(Sweep({scenario::kIdCancel, scenario::kIdOk}), std::set<std::string>{"DeleteFileA"});
}

// Found by its process name alone: the process list is read too.
TEST(FaultLoopTest, GameWithoutWindow) {
  EXPECT_EQ(Sweep({scenario::kIdOk}, false), std::set<std::string>{"DeleteFileA"});
}

}  // namespace
