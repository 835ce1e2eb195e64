// A game folder only administrators may change: the run asks Windows once
// for an administrator's rights, and its elevated part does the file work.
// Granted, declined, failing, or granted without more rights (as under
// Wine); and the elevated part's own checks of who started it and why.
#include <gtest/gtest.h>

#include <algorithm>

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
const char kWhatToDo[] = "，游戏文件未作任何改动。请右键点击本程序，选择“以管理员身份运行”后再试。\r\n";

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

std::vector<Line> FailedSteps(const std::string& what) {
  return {{kAsking, kNotice},
          {what + kWhatToDo, kNotice},
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
            std::vector<std::string>{scenario::KeptOriginalName(scenario::kLabel)});
  EXPECT_EQ(run.machine.files.Find(scenario::KeptOriginalPath(run.game.folder, "0.25c"))->data,
            run.original);
  // Asked once, for the program itself, hidden; the copy printed and showed
  // nothing and is gone.
  ASSERT_EQ(run.machine.elevation.requests.size(), 1u);
  const auto& request = run.machine.elevation.requests[0];
  EXPECT_EQ(request.verb, u"runas");
  EXPECT_EQ(request.file, u"C:\\Games\\Tools\\ThistlegardenPatch.exe");
  EXPECT_TRUE(request.parameters.starts_with(u"--elevated-part "));
  EXPECT_TRUE(request.parameters.ends_with(u" 0.25c 3240100 \"D:\\Games\\Thistlegarden\\\\\""));
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
    const char* told;
  };
  const Case cases[] = {
      {sim::Elevation::Consent::kDeclined, false, "没有获得管理员权限"},
      {sim::Elevation::Consent::kGranted, true, "以管理员权限修改游戏文件也未成功（错误代码5）"},
      {sim::Elevation::Consent::kFails, false, "无法以管理员身份启动本程序（错误代码1155）"},
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

// ---------------------------------------------------------------- the elevated part

// A start with the given arguments while (or not while) a run asks.
struct ElevatedStart {
  ProtectedRun run;
  std::u16string token = u"4242-77";

  ElevatedStart() {
    run.machine.self.elevated = true;
    run.machine.processes.mutexes[u"Local\\ThistlegardenPatch.OneRun"] = 1;
    run.machine.processes.mutexes[u"Local\\ThistlegardenPatch.Elevated." + token] = 1;
  }
  int Start(const std::u16string& arguments) {
    run.machine.self.arguments = arguments;
    return run.Start();
  }
  std::u16string Arguments(const std::u16string& label = u"0.25c",
                           const std::u16string& size = u"3240100",
                           const std::u16string& folder = u"D:\\Games\\Thistlegarden\\") const {
    return std::u16string(kElevatedPartSwitch) + u" " + token + u" " + label + u" " + size + u" " +
           QuotedArgument(folder);
  }
};

TEST(ElevatedPartTest, DoesTheFileWorkAloneAndSaysSoByItsExitCode) {
  ElevatedStart start;
  // What an interrupted run left is cleared first.
  start.run.machine.files.AddFile(start.run.game.AssemblyPath() + ".patch-new", "half");
  EXPECT_EQ(start.Start(start.Arguments()), static_cast<int>(kElevatedReplaced));
  EXPECT_TRUE(start.run.Assembly() == scenario::PayloadBytes("0.25c"));
  EXPECT_EQ(start.run.BesideTheAssembly(),
            std::vector<std::string>{scenario::KeptOriginalName(scenario::kLabel)});
  EXPECT_TRUE(start.run.machine.console.written.empty());
  EXPECT_TRUE(start.run.machine.dialogs.shown.empty());
  EXPECT_TRUE(start.run.machine.windows.windows.size() == 1u);  // the game's alone
  EXPECT_TRUE(scenario::Started(start.run.machine).empty());
  EXPECT_TRUE(start.run.machine.processes.Find(start.run.game.processId)->running);
  EXPECT_EQ(start.run.machine.OpenHandleCount(), 0u);
}

// Started by anyone with any arguments: only the asking run's facts, while
// it asks, let it touch anything.
TEST(ElevatedPartTest, RefusesWhatItWasNotAskedFor) {
  const std::u16string sw(kElevatedPartSwitch);
  struct Case {
    const char* what;
    std::u16string arguments;
    bool noRun = false, noHandshake = false;
  };
  ElevatedStart base;
  const std::vector<Case> cases = {
      {"no run going", base.Arguments(), true, false},
      {"not the run that asked", base.Arguments(), false, true},
      {"another token", sw + u" 1-2 0.25c 3240100 \"D:\\Games\\Thistlegarden\\\\\""},
      {"a label not in the table", base.Arguments(u"0.26")},
      {"a size other than found", base.Arguments(u"0.25c", u"3240101")},
      {"a size that is no number", base.Arguments(u"0.25c", u"32401e0")},
      {"a folder without the assembly", base.Arguments(u"0.25c", u"3240100", u"D:\\Games\\")},
      {"a folder not ending in a backslash", base.Arguments(u"0.25c", u"3240100", u"D:\\Games\\Thistlegarden")},
      {"a lone surrogate", base.Arguments(u"0.25c", u"3240100", u"D:\\Games\\\xD800\\")},
      {"too few", sw + u" 4242-77 0.25c"},
      {"too many", base.Arguments() + u" extra"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ElevatedStart start;
    if (c.noRun) start.run.machine.processes.mutexes.erase(u"Local\\ThistlegardenPatch.OneRun");
    if (c.noHandshake) start.run.machine.processes.mutexes.erase(u"Local\\ThistlegardenPatch.Elevated.4242-77");
    EXPECT_EQ(start.Start(c.arguments), static_cast<int>(kElevatedRefused));
    EXPECT_EQ(start.run.machine.files.changes(), 0);
    EXPECT_TRUE(start.run.machine.console.written.empty());
    EXPECT_TRUE(start.run.machine.dialogs.shown.empty());
    EXPECT_EQ(start.run.machine.OpenHandleCount(), 0u);
  }
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
  EXPECT_EQ(start.Start(u"--elevated-parts 4242-77"), 0);
  ASSERT_EQ(start.run.machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(start.run.machine.dialogs.shown[0].text, "补丁程序已经在运行，请在先打开的窗口中继续。");
  EXPECT_EQ(start.run.machine.files.changes(), 0);
}

}  // namespace
