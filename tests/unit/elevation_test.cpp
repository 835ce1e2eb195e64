// A game folder only administrators may change: the run asks Windows once
// for an administrator's rights, and its elevated part does the file work.
// Granted, declined, failing, or granted without more rights (as under
// Wine); and the elevated part's own checks of who started it and why.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "app/elevation.h"
#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdOk;
using scenario::Line;

constexpr long long kSize = scenario::kAssemblySize;
constexpr win::WORD kStep = 0x0A, kNotice = 0x0E;
const char kAsking[] =
    "游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；"
    "选择“否”不会改动任何文件。\r\n";
const char kUnchanged[] = "，游戏文件未作任何改动。";
const char kAsAdministrator[] = "请右键点击本程序，选择“以管理员身份运行”后再试。";
const char kBlocked[] = "可能是文件夹的权限设置或安全软件阻止了修改。";

struct ProtectedRun {
  sim::Machine machine;
  Game game;
  std::string original = std::string(kSize, 'o');

  explicit ProtectedRun(bool adminOnly = true) : game(scenario::InstallGame(machine, kSize)) {
    if (adminOnly) scenario::MakeAdminOnly(machine, game);
    machine.user.answers = {kIdOk};
  }
  int Start() { return ProgramEntry(machine); }

  // The run's lines after the banner and the discovery lines.
  std::vector<Line> StepLines() const {
    auto lines = scenario::Lines(machine.console);
    return lines.size() > 11 ? std::vector<Line>(lines.begin() + 11, lines.end()) : std::vector<Line>{};
  }
  std::string Assembly() const { return machine.files.Find(game.AssemblyPath())->data; }
  std::vector<std::string> BoxCaptions() const {
    std::vector<std::string> captions;
    for (const auto& box : machine.dialogs.shown) captions.push_back(box.text.substr(0, 24));
    return captions;
  }
  // Files in the Managed folder other than the assembly.
  std::vector<std::string> BesideTheAssembly() const {
    std::vector<std::string> names;
    for (const auto& [key, node] : machine.files.nodes)
      if (key.find("thistlegarden_data\\managed\\") != std::string::npos &&
          node.name != game.AssemblyPath())
        names.push_back(node.name.substr(sim::FileSystem::NameStart(node.name)));
    return names;
  }
};

// A failed write's screens: the developer box, 假 假, the failure report;
// the game neither ended nor started again.
void ExpectNothingChanged(const ProtectedRun& run) {
  EXPECT_EQ(run.Assembly(), run.original);
  EXPECT_TRUE(run.BesideTheAssembly().empty());
  ASSERT_EQ(run.machine.dialogs.shown.size(), 3u);
  EXPECT_EQ(run.machine.dialogs.shown[1].text, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  EXPECT_TRUE(run.machine.dialogs.shown[2].text.ends_with("执行过程:\r\n假\r\n假"));
  EXPECT_TRUE(run.machine.processes.Find(run.game.processId)->running);
  EXPECT_EQ(run.machine.OpenHandleCount(), 0u);
  EXPECT_TRUE(run.machine.processes.mutexes.empty());
}

std::vector<Line> FailedSteps(const std::string& told) {
  return {{kAsking, kNotice},
          {told + "\r\n", kNotice},
          {"执行过程[1]:假\r\n", kStep},
          {"执行过程[2]:假\r\n", kStep},
          {scenario::kRunLogLine, kNotice},
          {"补丁安装结束，程序在10秒后自动关闭......\r\n", 0x5F}};
}

TEST(ElevationTest, GrantedTheElevatedPartPatchesAndTheRunRestartsTheGame) {
  ProtectedRun run;
  EXPECT_EQ(run.Start(), 0);
  const std::string payload(scenario::PayloadBytes("0.25c"));
  EXPECT_EQ(run.StepLines(),
            (std::vector<Line>{{kAsking, kNotice},
                               {"替换Assembly-CSharp.dll\r\n", kStep},
                               {"结束进程 " + std::to_string(run.game.processId) + "\r\n", kStep},
                               {"执行过程[1]:真\r\n", kStep},
                               {"执行过程[2]:真\r\n", kStep},
                               {"重新运行 Thistlegarden.exe\r\n", kStep},
                               {"补丁安装结束，程序在10秒后自动关闭......\r\n", 0x5F}}));
  EXPECT_TRUE(run.Assembly() == payload);
  EXPECT_EQ(run.BesideTheAssembly(),
            (std::vector<std::string>{scenario::KeptOriginalName(scenario::kLabel), scenario::kKeptRecordName}));
  EXPECT_EQ(run.machine.files.Find(scenario::KeptOriginalPath(run.game.folder, "0.25c"))->data,
            run.original);
  // Asked once, for the program itself, hidden; the copy printed and showed
  // nothing and is gone.
  ASSERT_EQ(run.machine.elevation.requests.size(), 1u);
  const auto& request = run.machine.elevation.requests[0];
  EXPECT_EQ(request.verb, u"runas");
  EXPECT_EQ(request.file, u"C:\\Games\\Tools\\ThistlegardenPatch.exe");
  EXPECT_TRUE(request.parameters.starts_with(u"--elevated-part "));
  // Who asks and which game, by process ID and start time; never a path.
  const std::string n = [&] {
    std::string text;
    for (const auto& [pid, start] : {std::pair{run.machine.self.processId, run.machine.self.startTime},
                                     std::pair{run.game.processId,
                                               run.machine.processes.Find(run.game.processId)->startTime}})
      text += " " + std::to_string(pid) + " " + std::to_string(start);
    return text;
  }();
  EXPECT_EQ(std::string(request.parameters.begin(), request.parameters.end()),
            "--elevated-part" + n + " 0.25c 3240100");
  EXPECT_EQ(request.show, win::SW_HIDE);
  EXPECT_EQ(run.machine.elevation.copyConsole, "");
  EXPECT_EQ(run.machine.elevation.copyBoxes, 0u);
  ASSERT_EQ(run.machine.dialogs.shown.size(), 1u);  // the confirmation alone
  // The game comes back with the rights it had: started by the run, not the copy.
  auto started = scenario::Started(run.machine);
  ASSERT_EQ(started.size(), 3u);
  EXPECT_TRUE(started[0]->elevated);
  EXPECT_FALSE(started[0]->running);
  EXPECT_EQ(started[1]->commandLine, "\"" + run.game.ExePath() + "\"");
  EXPECT_FALSE(started[1]->elevated);
  EXPECT_FALSE(started[2]->elevated);
  EXPECT_EQ(run.machine.OpenHandleCount(), 0u);
  EXPECT_TRUE(run.machine.processes.mutexes.empty());
}

// Declined; granted without more rights (as under Wine, the copy is refused
// too); or Windows cannot start it: asked once, nothing changed, the player
// told what happened and what to do.
TEST(ElevationTest, AnElevationThatCameToNothingIsAskedOnceAndReported) {
  struct Case {
    sim::Elevation::Consent consent;
    bool sameRights;
    std::string told;
  };
  const Case cases[] = {
      {sim::Elevation::Consent::kDeclined, false, std::string("没有获得管理员权限") + kUnchanged + kAsAdministrator},
      // A folder that refuses administrators too: no advice to become one.
      {sim::Elevation::Consent::kGranted, true,
       std::string("以管理员权限修改游戏文件也未成功（错误代码5）") + kUnchanged + kBlocked},
      {sim::Elevation::Consent::kFails, false,
       std::string("无法以管理员身份启动本程序（错误代码1155）") + kUnchanged + kAsAdministrator},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.told);
    ProtectedRun run;
    run.machine.elevation.consent = c.consent;
    run.machine.elevation.sameRights = c.sameRights;
    run.machine.elevation.failure = 1155;  // no program associated
    EXPECT_EQ(run.Start(), 0);
    EXPECT_EQ(run.StepLines(), FailedSteps(c.told));
    EXPECT_EQ(run.machine.elevation.requests.size(), 1u);
    ExpectNothingChanged(run);
  }
}

// A writable folder, or a run already elevated, never asks; nor does a lock.
TEST(ElevationTest, NoPromptWhereTheRunMayWrite) {
  ProtectedRun writable(false);
  EXPECT_EQ(writable.Start(), 0);
  EXPECT_TRUE(writable.machine.elevation.requests.empty());
  EXPECT_TRUE(writable.Assembly() == scenario::PayloadBytes("0.25c"));

  ProtectedRun asAdministrator;
  asAdministrator.machine.self.elevated = true;
  EXPECT_EQ(asAdministrator.Start(), 0);
  EXPECT_TRUE(asAdministrator.machine.elevation.requests.empty());
  EXPECT_TRUE(asAdministrator.Assembly() == scenario::PayloadBytes("0.25c"));

  // A scanner holding the assembly for a moment: waited out, no prompt.
  ProtectedRun scanned(false);
  scanned.machine.files.Find(scanned.game.AssemblyPath())->refusals = 3;
  EXPECT_EQ(scanned.Start(), 0);
  EXPECT_TRUE(scanned.machine.elevation.requests.empty());
  EXPECT_TRUE(scanned.Assembly() == scenario::PayloadBytes("0.25c"));
}

// The folder refuses at once: the prompt comes without the lock's wait.
TEST(ElevationTest, AFolderThatRefusesIsNotWaitedOut) {
  ProtectedRun run;
  run.machine.elevation.consent = sim::Elevation::Consent::kDeclined;
  EXPECT_EQ(run.Start(), 0);
  // The run's own delays and nothing else: 1 + 1 + 2 + 2 + 10 s.
  EXPECT_EQ(run.machine.clock.slept, 16000u);
}

// An administrator's password typed for a standard user: the copy runs as
// another account, to which the run's named objects and processes belong to
// someone else. It needs none of them: the game is patched.
TEST(ElevationTest, AnotherAccountsElevationPatches) {
  ProtectedRun run;
  run.machine.elevation.account = "Admin";
  EXPECT_EQ(run.Start(), 0);
  EXPECT_TRUE(run.Assembly() == scenario::PayloadBytes("0.25c"));
  EXPECT_EQ(run.BesideTheAssembly(),
            (std::vector<std::string>{scenario::KeptOriginalName(scenario::kLabel), scenario::kKeptRecordName}));
  EXPECT_EQ(run.StepLines()[3], (Line{"执行过程[1]:真\r\n", kStep}));
  auto started = scenario::Started(run.machine);
  ASSERT_EQ(started.size(), 3u);
  EXPECT_EQ(started[0]->account, "Admin");
  EXPECT_FALSE(started[1]->elevated);
}

// A game the copy must not or cannot work on is told in words, with what to
// do, never as a number: on a drive only the player's session has (a mapped
// or subst letter), on a network drive, or under a junction.
TEST(ElevationTest, AGameTheElevatedPartCannotReachIsToldInWords) {
  const std::string notLocal = std::string("游戏不在本机的硬盘上（网络驱动器或映射、subst的驱动器号在管理员权限下看不到）") +
                               kUnchanged + "请把游戏移到本机硬盘的文件夹中后再试。";
  const std::string linked = std::string("游戏所在的路径中有联接点或符号链接，为安全起见不予修改") + kUnchanged +
                             "请把游戏移到普通文件夹中后再试。";
  struct Case {
    const char* what;
    void (*arrange)(ProtectedRun&);
    std::string told;
  };
  const Case cases[] = {
      {"a letter of the player's session", [](ProtectedRun& r) { r.machine.drives.playerSessionOnly = {'D'}; },
       notLocal},
      {"a network drive", [](ProtectedRun& r) { r.machine.drives.types['D'] = win::DRIVE_REMOTE; }, notLocal},
      {"a junction above the game",
       [](ProtectedRun& r) { r.machine.files.Find("D:\\Games")->attributes |= win::FILE_ATTRIBUTE_REPARSE_POINT; },
       linked},
      {"a link for the Managed folder",
       [](ProtectedRun& r) {
         r.machine.files.Find(r.game.folder + "Thistlegarden_Data\\Managed")->attributes |=
             win::FILE_ATTRIBUTE_REPARSE_POINT;
       },
       linked},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProtectedRun run;
    c.arrange(run);
    EXPECT_EQ(run.Start(), 0);
    EXPECT_EQ(run.StepLines(), FailedSteps(c.told));
    ExpectNothingChanged(run);
  }
}

// The copy swapped nothing in, but kept the original (the assembly held by
// another program all the while): the run says so, and where.
TEST(ElevationTest, ThePlayerIsToldWhatTheElevatedPartLeft) {
  ProtectedRun run;
  run.machine.elevation.program = [&run] {
    // Only the copy meets the lock: from its second open of the assembly on.
    run.machine.files.Find(run.game.AssemblyPath())->refusals = 0;
    const auto code = static_cast<win::UINT>(ProgramEntry(run.machine));
    return code;
  };
  run.machine.files.onRenamed = [&run](sim::FileSystem::Node& node) {
    if (node.name.ends_with(".dll.bak")) run.machine.files.Find(run.game.AssemblyPath())->locked = true;
  };
  EXPECT_EQ(run.Start(), 0);
  const std::string kept = scenario::KeptOriginalPath(run.game.folder, "0.25c");
  ASSERT_GE(run.StepLines().size(), 2u);
  EXPECT_EQ(run.StepLines()[1].text, std::string("以管理员权限修改游戏文件也未成功（错误代码5）。游戏文件未被替换，原版已另存为 ") +
                                         kept + "。" + kBlocked + "\r\n");
  EXPECT_EQ(run.machine.files.Find(kept)->data, run.original);
  EXPECT_EQ(run.Assembly(), run.original);
}

// An original an earlier build set aside, in a folder only administrators
// may change: the version comes from it, the prompt is asked once, and the
// elevated part puts it back and patches.
TEST(ElevationTest, AnAsideInAProtectedFolderIsPartOfTheElevatedWork) {
  ProtectedRun run;
  auto& files = run.machine.files;
  files.AddFile(run.game.AssemblyPath() + ".aside1", run.original);
  files.nodes.erase(sim::FileSystem::Key(run.game.AssemblyPath()));
  files.Find(run.game.AssemblyPath() + ".aside1")->adminOnly = true;
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.machine.elevation.requests.size(), 1u);
  EXPECT_TRUE(run.Assembly() == scenario::PayloadBytes("0.25c"));
  EXPECT_EQ(run.machine.files.Find(scenario::KeptOriginalPath(run.game.folder, "0.25c"))->data, run.original);
  EXPECT_EQ(files.Find(run.game.AssemblyPath() + ".aside1"), nullptr);
}

// A copy slow to end: the run says it still waits, and waits; its one-run
// guard stays while the copy may write.
TEST(ElevationTest, ARunWaitsForItsCopyHoweverLong) {
  ProtectedRun run;
  run.machine.elevation.copyTakes = 30 * 60 * 1000;
  bool guardHeld = false;
  run.machine.elevation.afterCopy = [&] {
    guardHeld = run.machine.processes.mutexes.count(u"Local\\ThistlegardenPatch.OneRun") > 0;
  };
  EXPECT_EQ(run.Start(), 0);
  EXPECT_TRUE(guardHeld);
  const auto lines = run.StepLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], (Line{"以管理员权限运行的部分仍在修改游戏文件，请等待它完成……\r\n", kNotice}));
  EXPECT_EQ(lines[4], (Line{"执行过程[1]:真\r\n", kStep}));
  EXPECT_TRUE(run.Assembly() == scenario::PayloadBytes("0.25c"));
}

// A folder that refuses new files in Managed whatever the rights (a
// security program, an access list that refuses administrators too).
struct RefusesNewFilesInManaged : win::ApiWrapper {
  using win::ApiWrapper::ApiWrapper;
  win::HANDLE CreateFileA(const char* path, win::DWORD access, win::DWORD share, win::DWORD disposition,
                          win::DWORD attributes) override {
    if (std::string_view(path).find("Managed") != std::string_view::npos && disposition != win::OPEN_EXISTING) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return win::INVALID_HANDLE_VALUE;
    }
    return win::ApiWrapper::CreateFileA(path, access, share, disposition, attributes);
  }
};

// A folder that refuses even a run with an administrator's rights: no
// prompt, no advice to become what it is.
TEST(ElevationTest, AnElevatedRunDoesNotAskAgain) {
  ProtectedRun run(false);
  run.machine.self.elevated = true;
  RefusesNewFilesInManaged refusing(run.machine);
  EXPECT_EQ(ProgramEntry(refusing), 0);
  EXPECT_TRUE(run.machine.elevation.requests.empty());
  const auto lines = run.StepLines();
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0].text,
            "游戏所在的文件夹拒绝修改（错误代码5），本程序已有管理员权限也无法修改，可能是文件夹的权限设置或安全软件阻止了修改。"
            "游戏文件未作任何改动。\r\n");
  EXPECT_EQ(run.Assembly(), run.original);
}

// The game never runs with more rights than the desktop gives: a run with an
// administrator's rights under a shell without them leaves the start to the
// player; with an elevated shell, or none to ask, it starts the game.
TEST(ElevationTest, TheGameNeverRunsWithMoreRightsThanTheDesktop) {
  for (const int shell : {0, 1, 2}) {  // none, not elevated, elevated
    SCOPED_TRACE(shell);
    ProtectedRun run(false);
    run.machine.self.elevated = true;
    if (shell) {
      const win::DWORD explorer = run.machine.processes.Add("explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
      run.machine.processes.Find(explorer)->elevated = shell == 2;
      run.machine.windows.shellWindow = run.machine.windows.AddForeign("", "Progman", explorer);
    }
    EXPECT_EQ(run.Start(), 0);
    EXPECT_TRUE(run.Assembly() == scenario::PayloadBytes("0.25c"));
    const bool started = !scenario::Started(run.machine).empty() &&
                         scenario::Started(run.machine)[0]->commandLine == "\"" + run.game.ExePath() + "\"";
    EXPECT_EQ(started, shell != 1);
    const auto lines = run.StepLines();
    if (shell == 1) {
      EXPECT_NE(std::find(lines.begin(), lines.end(),
                          Line{"未重新运行 Thistlegarden.exe：本程序以管理员身份运行，为免游戏也以管理员身份运行，请自行启动游戏\r\n",
                               kStep}),
                lines.end());
    }
  }
}

// A run that could not make its one-run guard changes nothing.
TEST(ElevationTest, ARunWithoutItsGuardStopsBeforeAnyChange) {
  ProtectedRun run(false);
  run.machine.faults.Fail("CreateMutexW");
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.Assembly(), run.original);
  EXPECT_TRUE(run.machine.dialogs.shown.empty());
  const auto lines = scenario::Lines(run.machine.console);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), (Line{"无法确认没有另一个补丁程序在运行，本程序不作任何改动，请稍后再试。\r\n", kNotice}));
  EXPECT_TRUE(run.machine.processes.Find(run.game.processId)->running);
}

// The elevated part cut off at each of its calls (the copy alone killed; the
// run goes on): what the run then says is on disk is what is on disk, and
// the original exists whole throughout.
TEST(ElevationTest, TheReportAfterACopyCutOffIsTheTruth) {
  long copyCalls = 0;
  {
    ProtectedRun clean;
    clean.machine.elevation.program = [&] {
      const std::size_t before = clean.machine.faults.calls.size();
      const auto code = static_cast<win::UINT>(ProgramEntry(clean.machine));
      copyCalls = static_cast<long>(clean.machine.faults.calls.size() - before);
      return code;
    };
    clean.Start();
  }
  ASSERT_GT(copyCalls, 20);
  int said[3] = {};
  for (long n = 1; n <= copyCalls; ++n) {
    SCOPED_TRACE("copy killed before its call " + std::to_string(n));
    ProtectedRun run;
    const std::string managed = run.game.folder + "Thistlegarden_Data\\Managed\\";
    run.machine.elevation.program = [&] {
      run.machine.faults.CrashAtCall(n);
      const auto code = static_cast<win::UINT>(ProgramEntry(run.machine));
      const bool killed = run.machine.faults.crashed;
      run.machine.faults.Clear();
      run.machine.faults.crashed = false;
      return killed ? 1u : code;
    };
    long lostAt = 0;
    const std::string assemblyPath = run.game.AssemblyPath();
    scenario::WatchOriginal(run.machine, assemblyPath, run.original, &lostAt);
    run.Start();
    EXPECT_EQ(lostAt, 0);
    const std::string payload(scenario::PayloadBytes("0.25c"));
    const bool replaced = run.Assembly() == payload;
    EXPECT_TRUE(replaced || run.Assembly() == run.original);
    const auto lines = run.StepLines();
    ASSERT_GE(lines.size(), 2u);
    const std::string& told = lines[1].text;
    const auto names = run.BesideTheAssembly();
    const bool keptNow = run.machine.files.Find(scenario::KeptOriginalPath(run.game.folder, "0.25c")) != nullptr;
    if (replaced) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[1]:真\r\n", kStep}), lines.end());
      continue;
    }
    if (told.find("游戏文件未作任何改动") != std::string::npos) {
      ++said[0];
      EXPECT_TRUE(names.empty()) << told;
    } else if (told.find("原版已另存为") != std::string::npos) {
      ++said[1];
      EXPECT_TRUE(keptNow);
      EXPECT_EQ(run.machine.files.Find(scenario::KeptOriginalPath(run.game.folder, "0.25c"))->data, run.original);
    } else {
      ++said[2];
      EXPECT_NE(told.find("留下了未完成的临时文件"), std::string::npos) << told;
      EXPECT_FALSE(names.empty());
      EXPECT_FALSE(keptNow);
    }
    if (::testing::Test::HasFailure()) break;
  }
  // Each kind of report was met.
  EXPECT_GT(said[0], 0);
  EXPECT_GT(said[1], 0);
}

// ---------------------------------------------------------------- the elevated part

// A start of the elevated part itself, with the given arguments. By default
// it was started by the run that asks: this program, running, started
// before it, its parent.
struct ElevatedStart {
  ProtectedRun run;
  win::DWORD askerId = 0;

  explicit ElevatedStart(bool adminOnly = true) : run(adminOnly) {
    auto& m = run.machine;
    m.self.elevated = true;
    askerId = m.processes.Add("ThistlegardenPatch.exe", m.processes.selfImagePath);
    m.processes.Find(askerId)->startTime = m.self.startTime - 50000000;
    m.self.parentId = askerId;
  }
  int Start(const std::u16string& arguments) {
    run.machine.self.arguments = arguments;
    return run.Start();
  }
  static std::u16string N(unsigned long long n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
  }
  std::u16string Arguments(const std::u16string& label = u"0.25c", const std::u16string& size = u"3240100") {
    auto& m = run.machine;
    return std::u16string(kElevatedPartSwitch) + u" " + N(askerId) + u" " +
           N(m.processes.Find(askerId)->startTime) + u" " + N(run.game.processId) + u" " +
           N(m.processes.Find(run.game.processId)->startTime) + u" " + label + u" " + size;
  }
  // Nothing on the disk changed, nothing shown, nothing left open.
  void ExpectUntouched() const {
    EXPECT_EQ(run.machine.files.changes(), 0);
    EXPECT_TRUE(run.machine.console.written.empty());
    EXPECT_TRUE(run.machine.dialogs.shown.empty());
    EXPECT_EQ(run.machine.OpenHandleCount(), 0u);
  }
};

TEST(ElevatedPartTest, DoesTheFileWorkAloneAndSaysSoByItsExitCode) {
  ElevatedStart start;
  // What an interrupted run left is cleared first.
  start.run.machine.files.AddFile(start.run.game.AssemblyPath() + ".patch-new", "half");
  EXPECT_EQ(start.Start(start.Arguments()), static_cast<int>(kElevatedReplaced));
  EXPECT_TRUE(start.run.Assembly() == scenario::PayloadBytes("0.25c"));
  EXPECT_EQ(start.run.BesideTheAssembly(),
            (std::vector<std::string>{scenario::KeptOriginalName(scenario::kLabel), scenario::kKeptRecordName}));
  EXPECT_TRUE(start.run.machine.console.written.empty());
  EXPECT_TRUE(start.run.machine.dialogs.shown.empty());
  EXPECT_TRUE(start.run.machine.windows.windows.size() == 1u);  // the game's alone
  EXPECT_TRUE(scenario::Started(start.run.machine).empty());
  EXPECT_TRUE(start.run.machine.processes.Find(start.run.game.processId)->running);
  EXPECT_EQ(start.run.machine.OpenHandleCount(), 0u);
  // It needs no named object of the run's: another account's are refused.
  EXPECT_TRUE(start.run.machine.processes.mutexes.empty());
}

// Whoever starts it, with whatever arguments: only this program's waiting
// run, as its parent, gets anything done, and only on the game that runs.
TEST(ElevatedPartTest, RefusesWhatItWasNotAskedFor) {
  const std::u16string sw(kElevatedPartSwitch);
  using Arrange = void (*)(ElevatedStart&);
  struct Case {
    const char* what;
    Arrange setup;
    std::u16string (*arguments)(ElevatedStart&);
    win::DWORD expected = kElevatedRefused;
  };
  const auto standard = [](ElevatedStart& s) { return s.Arguments(); };
  const std::vector<Case> cases = {
      {"the asking run has ended", [](ElevatedStart& s) { s.run.machine.processes.Find(s.askerId)->running = false; },
       standard},
      {"its process ID now another program's",
       [](ElevatedStart& s) { s.run.machine.processes.Find(s.askerId)->imagePath = u"\\Device\\HarddiskVolume3\\x.exe"; },
       standard},
      {"another start time than said",
       [](ElevatedStart& s) {
         auto* asker = s.run.machine.processes.Find(s.askerId);
         const std::u16string arguments = s.Arguments();
         asker->startTime += 1;
         s.run.machine.self.arguments = arguments;
       },
       [](ElevatedStart& s) { return s.run.machine.self.arguments; }},
      {"started after the copy",
       [](ElevatedStart& s) { s.run.machine.processes.Find(s.askerId)->startTime = s.run.machine.self.startTime + 1; },
       standard},
      {"not the copy's parent", [](ElevatedStart& s) { s.run.machine.self.parentId = 1200; }, standard},
      {"a label not in the table", nullptr, [](ElevatedStart& s) { return s.Arguments(u"0.26"); }},
      {"a size that is no number", nullptr, [](ElevatedStart& s) { return s.Arguments(u"0.25c", u"32401e0"); }},
      {"a number with a leading zero", nullptr, [](ElevatedStart& s) { return s.Arguments(u"0.25c", u"03240100"); }},
      {"a number too big", nullptr,
       [](ElevatedStart& s) { return s.Arguments(u"0.25c", u"99999999999999999999"); }},
      {"too many", nullptr, [](ElevatedStart& s) { return s.Arguments() + u" extra"; }},
      {"a folder, as older builds took",
       nullptr, [](ElevatedStart&) { return std::u16string(u"--elevated-part 4242-77 0.25c 3240100 \"D:\\Games\\Thistlegarden\\\\\""); }},
      {"the game has ended", [](ElevatedStart& s) { s.run.machine.processes.Find(s.run.game.processId)->running = false; },
       standard, kElevatedGameGone},
      {"the game's ID now another process's",
       [](ElevatedStart& s) {
         const std::u16string arguments = s.Arguments();
         s.run.machine.processes.Find(s.run.game.processId)->startTime += 10;
         s.run.machine.self.arguments = arguments;
       },
       [](ElevatedStart& s) { return s.run.machine.self.arguments; }, kElevatedGameGone},
      {"a process that is not the game",
       [](ElevatedStart& s) {
         s.run.machine.processes.Find(s.run.game.processId)->imagePath =
             u"\\Device\\HarddiskVolume4\\Games\\Thistlegarden\\Launcher.exe";
       },
       standard, kElevatedGameGone},
      {"a size other than found", nullptr, [](ElevatedStart& s) { return s.Arguments(u"0.25c", u"3240101"); },
       kElevatedChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ElevatedStart start;
    if (c.setup) c.setup(start);
    const std::u16string arguments = c.arguments(start);
    EXPECT_EQ(start.Start(arguments), static_cast<int>(c.expected));
    start.ExpectUntouched();
    EXPECT_EQ(start.run.Assembly(), start.run.original);
  }
}

// Another program of the session does all a run could: makes the named
// objects, starts a game-named program in a folder of its choosing, and
// starts the copy with the facts of that program or of the real game. The
// copy is not its own run's child: nothing anywhere changes.
TEST(ElevatedPartTest, AnotherProgramCannotAimIt) {
  ElevatedStart start;
  auto& m = start.run.machine;
  const win::DWORD evil = m.processes.Add("evil.exe", u"\\Device\\HarddiskVolume3\\Users\\Player\\Downloads\\evil.exe");
  m.processes.Find(evil)->startTime = m.self.startTime - 10;
  m.self.parentId = evil;
  m.processes.mutexes[u"Local\\ThistlegardenPatch.OneRun"] = 1;
  m.processes.mutexes[u"Local\\ThistlegardenPatch.Elevated.4242-77"] = 1;
  m.files.AddDirectory("C:\\Program Files\\Victim\\Thistlegarden_Data\\Managed");
  m.files.AddFile("C:\\Program Files\\Victim\\Thistlegarden_Data\\Managed\\Assembly-CSharp.dll",
                  std::string(3240100, 'v'));
  m.files.AddFile("C:\\Program Files\\Victim\\Thistlegarden_Data\\Managed\\Assembly-CSharp.dll.patch-new", "x");
  const win::DWORD fake = m.processes.Add("Thistlegarden.exe",
                                          u"\\Device\\HarddiskVolume3\\Program Files\\Victim\\Thistlegarden.exe");
  m.processes.Find(fake)->parentId = evil;
  const std::u16string N[] = {ElevatedStart::N(evil), ElevatedStart::N(m.processes.Find(evil)->startTime),
                              ElevatedStart::N(fake), ElevatedStart::N(m.processes.Find(fake)->startTime)};
  for (const std::u16string& arguments :
       {u"--elevated-part " + N[0] + u" " + N[1] + u" " + N[2] + u" " + N[3] + u" 0.25c 3240100",
        start.Arguments(),
        std::u16string(u"--elevated-part 4242-77 0.25c 3240100 \"C:\\Program Files\\Victim\\\\\""),
        std::u16string(u"--elevated-part 4242-77 0.25c 3240100 \"..\\..\\Program Files\\Victim\\\\\""),
        std::u16string(u"--elevated-part 4242-77 0.25c 3240100 \"\\\\server\\share\\Victim\\\\\"")}) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()));
    EXPECT_EQ(start.Start(arguments), static_cast<int>(kElevatedRefused));
    start.ExpectUntouched();
  }
  EXPECT_EQ(m.files.Find("C:\\Program Files\\Victim\\Thistlegarden_Data\\Managed\\Assembly-CSharp.dll")->data,
            std::string(3240100, 'v'));
}

// A Managed folder the asking run's account may change gets no
// administrator's work: whoever may change it can turn a name in it (or the
// folder itself, once emptied) into a link between the copy's checks and
// its writes, and send the kept original, which it wrote itself, anywhere.
// So for the game's own folder, a game-named program's folder in the
// player's downloads, and the assembly swapped for a link: nothing changes.
TEST(ElevatedPartTest, AFolderTheAskingAccountMayChangeGetsNoWork) {
  {
    SCOPED_TRACE("the game's own Managed folder");
    ElevatedStart start(false);
    EXPECT_EQ(start.Start(start.Arguments()), static_cast<int>(kElevatedMayChange));
    start.ExpectUntouched();
    EXPECT_EQ(start.run.Assembly(), start.run.original);
  }
  {
    SCOPED_TRACE("a game-named program in the downloads");
    ElevatedStart start;
    auto& m = start.run.machine;
    const std::string fake = "C:\\Users\\Player\\Downloads\\g\\";
    m.files.AddFile(fake + "Thistlegarden.exe", "MZ");
    m.files.AddDirectory(fake + "Thistlegarden_Data\\Managed");
    m.files.AddFile(fake + "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll", std::string(kSize, 'e'));
    const win::DWORD id =
        m.processes.Add("Thistlegarden.exe", u"\\Device\\HarddiskVolume3\\Users\\Player\\Downloads\\g\\Thistlegarden.exe");
    start.run.game.processId = id;
    EXPECT_EQ(start.Start(start.Arguments()), static_cast<int>(kElevatedMayChange));
    start.ExpectUntouched();
    EXPECT_EQ(m.files.Find(fake + "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll")->data, std::string(kSize, 'e'));
  }
}

// A run whose writes something refused though the folder's rights let the
// player change it (a security program's guard): the copy does nothing and
// the player is told why in words, not by a number.
TEST(ElevationTest, AFolderThePlayerMayChangeIsToldInWords) {
  ProtectedRun run(false);
  RefusesNewFilesInManaged guarded(run.machine);
  EXPECT_EQ(ProgramEntry(guarded), 0);
  EXPECT_EQ(run.machine.elevation.requests.size(), 1u);
  EXPECT_EQ(run.StepLines(),
            FailedSteps(std::string("游戏的文件夹不用管理员权限也能修改，为安全起见，以管理员权限运行的部分不予修改") + kUnchanged +
                        "修改被拒绝可能是安全软件所致，请检查安全软件的设置后再试。"));
  ExpectNothingChanged(run);
}

// A damaged payload never reaches the game, whoever was to write it.
TEST(ElevatedPartTest, RefusesADamagedPayload) {
  ElevatedStart start;
  const std::string original = start.run.Assembly();
  {
    scenario::FlippedPayloadByte damaged("0.25c");
    EXPECT_EQ(start.Start(start.Arguments()), static_cast<int>(kElevatedDamaged));
  }
  EXPECT_EQ(start.run.Assembly(), original);
  EXPECT_TRUE(start.run.BesideTheAssembly().empty());
}

// Arguments the program does not take are ignored: a run as ever, which a
// run going still stops.
TEST(ElevatedPartTest, OtherArgumentsStartAnOrdinaryRun) {
  ElevatedStart start;
  start.run.machine.processes.mutexes[u"Local\\ThistlegardenPatch.OneRun"] = 1;
  start.run.machine.processes.mutexAccounts[u"Local\\ThistlegardenPatch.OneRun"] = "Player";
  EXPECT_EQ(start.Start(u"--elevated-parts 4242-77"), 0);
  ASSERT_EQ(start.run.machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(start.run.machine.dialogs.shown[0].text, "补丁程序已经在运行，请在先打开的窗口中继续。");
  EXPECT_EQ(start.run.machine.files.changes(), 0);
}

}  // namespace
