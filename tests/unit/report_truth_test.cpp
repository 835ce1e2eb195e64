// What the player is told matches what happened, and nothing changes on
// disk before the player agrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdCancel;
using scenario::kIdOk;

constexpr long long kSize025c = 3240100, kSize024g = 2904555;

bool HasLine(const sim::Machine& machine, const std::string& text) {
  for (const auto& line : scenario::Lines(machine.console))
    if (line.text == text) return true;
  return false;
}

// Leftovers of an interrupted run and an earlier build's aside stay as they
// are while the player declines: the disk is touched only after a yes.
TEST(BeforeThePlayerAgreesTest, NothingOnDiskChanges) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kSize025c);
  machine.files.AddFile(game.AssemblyPath() + ".patch-new", "half");
  machine.files.AddFile(scenario::KeptDraftPath(game.folder), "half an original");
  machine.user.answers = {kIdCancel, kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(machine.files.changes(), 0);
  EXPECT_NE(machine.files.Find(game.AssemblyPath() + ".patch-new"), nullptr);

  // Agreed: they go, and the patch goes in.
  sim::Machine agreed;
  Game again = scenario::InstallGame(agreed, kSize025c);
  agreed.files.AddFile(again.AssemblyPath() + ".patch-new", "half");
  agreed.files.AddFile(scenario::KeptDraftPath(again.folder), "half an original");
  agreed.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(agreed), 0);
  EXPECT_EQ(agreed.files.Find(again.AssemblyPath() + ".patch-new"), nullptr);
  EXPECT_EQ(agreed.files.Find(scenario::KeptDraftPath(again.folder)), nullptr);
  EXPECT_TRUE(agreed.files.Find(again.AssemblyPath())->data == FindPayload("0.25c")->bytes());
}

// With no assembly, the aside an earlier build left is what the player is
// asked about; it goes back only once the player said yes.
TEST(BeforeThePlayerAgreesTest, AnAsideIsAskedAboutAndMovedOnlyAfterAYes) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "confirmed" : "declined");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, -1);
    const std::string older(kSize024g, 'a');
    machine.files.AddFile(game.AssemblyPath() + ".aside1", older);
    machine.user.answers = {static_cast<int>(yes ? kIdOk : kIdCancel), static_cast<int>(kIdCancel)};
    EXPECT_EQ(ProgramEntry(machine), 0);
    ASSERT_GE(machine.dialogs.shown.size(), 1u);
    EXPECT_EQ(machine.dialogs.shown[0].style, 0x21u);
    EXPECT_NE(machine.dialogs.shown[0].text.find("0.24g"), std::string::npos);
    if (!yes) {
      EXPECT_EQ(machine.files.changes(), 0);
      EXPECT_EQ(machine.files.Find(game.AssemblyPath()), nullptr);
      continue;
    }
    EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == FindPayload("0.24g")->bytes());
    EXPECT_EQ(machine.files.Find(scenario::KeptOriginalPath(game.folder, "0.24g"))->data, older);
    EXPECT_EQ(machine.files.Find(game.AssemblyPath() + ".aside1"), nullptr);
  }
}

// A game that closed by itself before the run ended it is started again:
// no second copy can start beside it.
TEST(RestartTest, AGameThatWentByItselfIsStartedAgain) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kSize025c);
  machine.user.answers = {kIdOk};
  machine.user.onShow = [&] {
    auto& list = machine.processes.list;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const auto& p) { return p.processId == game.processId; }),
               list.end());
  };
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(HasLine(machine, "重新运行 Thistlegarden.exe\r\n"));
  const auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->commandLine, "\"" + game.ExePath() + "\"");
}

// A game running with more rights than the installer: patched, not ended,
// and the player is told it still runs the old code; it is not started twice.
TEST(RestartTest, AGameThatCannotBeEndedIsSaidSo) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kSize025c);
  machine.processes.Find(game.processId)->openableRights = win::PROCESS_QUERY_INFORMATION | 0x1000;
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(HasLine(machine, "执行过程[1]:真\r\n"));
  EXPECT_TRUE(HasLine(machine,
                      "未重新运行 Thistlegarden.exe：未能结束游戏，它可能仍在运行补丁前的版本，请关闭游戏后自行启动\r\n"));
  EXPECT_FALSE(HasLine(machine, "重新运行 Thistlegarden.exe\r\n"));
  EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  ASSERT_EQ(scenario::Started(machine).size(), 1u);  // the file manager alone
}

}  // namespace

namespace {

TEST(DamagedPayloadTest, IsRefusedAndTheGameKeepsItsAssembly) {
  for (const bool adminOnly : {false, true}) {
    SCOPED_TRACE(adminOnly ? "through the elevated part" : "the run itself");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, kSize025c);
    if (adminOnly) scenario::MakeAdminOnly(machine, game);
    machine.user.answers = {kIdOk, kIdOk, kIdOk};
    const std::string original = machine.files.Find(game.AssemblyPath())->data;
    {
      scenario::FlippedPayloadByte damaged("0.25c");
      EXPECT_FALSE(PayloadIsIntact("0.25c"));
      EXPECT_EQ(ProgramEntry(machine), 0);
    }
    EXPECT_TRUE(PayloadIsIntact("0.25c"));
    EXPECT_EQ(machine.files.Find(game.AssemblyPath())->data, original);
    EXPECT_EQ(machine.files.Find(scenario::KeptOriginalPath(game.folder, "0.25c")), nullptr);
    EXPECT_TRUE(HasLine(machine, "执行过程[1]:假\r\n"));
    ASSERT_EQ(machine.dialogs.shown.size(), 3u);
    EXPECT_EQ(machine.dialogs.shown[1].text, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
    EXPECT_TRUE(machine.processes.Find(game.processId)->running);
    // The run checks before anything is asked of Windows.
    EXPECT_TRUE(machine.elevation.requests.empty());
  }
}

}  // namespace
