// What the player is told matches what happened, and nothing changes on
// disk before the player agrees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/sim/code_pages.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdCancel;
using scenario::kIdOk;

constexpr long long kSize025c = scenario::kAssemblySize;
const scenario::Version& kOlder = scenario::kVersions[0];

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
  const auto before = scenario::DiskWithoutRunLogs(machine);
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::DiskWithoutRunLogs(machine) == before);
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
  EXPECT_TRUE(agreed.files.Find(again.AssemblyPath())->data == scenario::PayloadBytes("0.25c"));
}

// With no assembly, the aside an earlier build left is what the player is
// asked about; it goes back only once the player said yes.
TEST(BeforeThePlayerAgreesTest, AnAsideIsAskedAboutAndMovedOnlyAfterAYes) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "confirmed" : "declined");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, -1);
    const std::string older(scenario::SizeOf(kOlder), 'a');
    machine.files.AddFile(game.AssemblyPath() + ".aside1", older);
    machine.user.answers = {static_cast<int>(yes ? kIdOk : kIdCancel), static_cast<int>(kIdCancel)};
    const auto before = scenario::DiskWithoutRunLogs(machine);
    EXPECT_EQ(ProgramEntry(machine), 0);
    ASSERT_GE(machine.dialogs.shown.size(), 1u);
    EXPECT_EQ(machine.dialogs.shown[0].style, 0x21u);
    EXPECT_NE(machine.dialogs.shown[0].text.find(kOlder.label), std::string::npos);
    if (!yes) {
      EXPECT_TRUE(scenario::DiskWithoutRunLogs(machine) == before);
      EXPECT_EQ(machine.files.Find(game.AssemblyPath()), nullptr);
      continue;
    }
    EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes(kOlder.label));
    EXPECT_EQ(machine.files.Find(scenario::KeptOriginalPath(game.folder, kOlder.label))->data, older);
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

namespace {

// The run's record as GB18030 lines; empty when there is none or it is not
// UTF-8 with a byte-order mark.
std::vector<std::string> RecordLines(const sim::Machine& machine, const std::string& path) {
  const auto* file = scenario::File(machine, path);
  if (!file || !file->data.starts_with("\xEF\xBB\xBF")) return {};
  const std::string text = sim::Recode("GB18030", "UTF-8", file->data.substr(3));
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

// An image decoded as it is written: a damaged one is left out, and nothing
// else of the run changes.
TEST(DamagedPayloadTest, ADamagedImageIsNotWrittenAndTheRunGoesOn) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kSize025c);
  machine.user.answers = {kIdOk};
  {
    scenario::FlippedPayloadByte damaged(BeforeImage());
    EXPECT_TRUE(DecodedPayload(BeforeImage()).empty());
    EXPECT_EQ(ProgramEntry(machine), 0);
  }
  EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes("0.25c"));
  EXPECT_TRUE(HasLine(machine, "执行过程[1]:真\r\n"));
  const std::string images = std::string(scenario::kTemp) + "Thistlegarden补丁程序\\补丁对比图\\";
  EXPECT_EQ(machine.files.Find(images + "安装前.PNG"), nullptr);
  ASSERT_NE(machine.files.Find(images + "安装后.PNG"), nullptr);
  EXPECT_TRUE(machine.files.Find(images + "安装后.PNG")->data == scenario::ImageBytes(AfterImage()));
  EXPECT_EQ(machine.dialogs.shown.size(), 1u);
}

TEST(RunLogTest, AFailedRunsRecordSaysWhatHappenedAndWhy) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kSize025c);
  scenario::MakeAdminOnly(machine, game);
  machine.elevation.consent = sim::Elevation::Consent::kDeclined;
  machine.user.answers = {kIdOk, kIdOk, kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(HasLine(machine, scenario::kRunLogLine));
  EXPECT_EQ(RecordLines(machine, scenario::kRunLogPath),
            (std::vector<std::string>{
                "Thistlegarden补丁程序：1.0.0.0",
                "时间：2026-12-10 20:30:05",
                "Windows：10.0.19045",
                "游戏进程ID：" + std::to_string(game.processId),
                "窗口句柄：" + std::to_string(game.window),
                "游戏路径：D:\\Games\\Thistlegarden\\Thistlegarden.exe",
                "询问：识别Assembly-CSharp.dll大小版本自动识别为 0.25c，是否确认为该版本？：确定",
                "Assembly-CSharp.dll：3240100 字节（0.25c）",
                "版本：0.25c",
                "管理员权限：已请求，没有获得管理员权限，游戏文件未作任何改动。",
                "执行过程[1] 替换Assembly-CSharp.dll：假（错误代码 1223：操作已被用户取消。）",
                "执行过程[2] 复制到临时文件夹：假",
            }));
}

// A declined run keeps a record too; never more than five are kept, the
// newest first. A record that cannot be replaced (held open by an editor)
// is stepped over: the run before keeps its record.
TEST(RunLogTest, TheLastFiveRunsAreKeptNewestFirst) {
  const std::string folder = std::string(scenario::kTemp) + "Thistlegarden补丁程序\\";
  const auto recordOf = [&](const sim::Machine& machine, int n) {
    const auto lines = RecordLines(machine, folder + "运行记录" + std::to_string(n) + ".txt");
    return lines.size() > 1 ? lines[1] : std::string("none");
  };
  const auto timeOf = [](int run) { return "时间：2026-12-10 20:30:" + std::string(run < 10 ? "0" : "") + std::to_string(run); };
  for (const int locked : {0, 5, 3}) {
    SCOPED_TRACE(locked);
    auto machine = std::make_unique<sim::Machine>();
    scenario::InstallGame(*machine, kSize025c);
    for (int run = 1; run <= 7; ++run) {
      if (run > 1) {
        auto next = std::make_unique<sim::Machine>();
        scenario::RestartOn(*next, *machine);
        machine = std::move(next);
      }
      machine->clock.localTime.wSecond = static_cast<win::WORD>(run);
      if (locked && run == 6)
        if (auto* held = machine->files.Find(folder + "运行记录" + std::to_string(locked) + ".txt")) held->locked = true;
      machine->user.answers = {kIdCancel, kIdCancel};
      EXPECT_EQ(ProgramEntry(*machine), 0);
      const auto lines = RecordLines(*machine, folder + "运行记录1.txt");
      EXPECT_NE(std::find(lines.begin(), lines.end(), "询问：未能成功检测到你的游戏版本，是否手动选择？否则退出。：否"),
                lines.end());
    }
    EXPECT_EQ(recordOf(*machine, 1), timeOf(7));
    EXPECT_EQ(recordOf(*machine, 2), timeOf(6));
    if (!locked) {
      for (int n = 3; n <= 5; ++n) EXPECT_EQ(recordOf(*machine, n), timeOf(8 - n)) << n;
    }
    EXPECT_EQ(scenario::File(*machine, folder + "运行记录6.txt"), nullptr);
  }
}

}  // namespace

namespace {

// A zero-length assembly (a broken update) is no version: picked by hand, it
// is replaced, and kept as the empty file it was.
TEST(ZeroLengthAssemblyTest, IsPickedByHandReplacedAndKept) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, 0);
  machine.user.answers = {kIdOk};
  machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                          {sim::ScriptedUser::Action::kPressOk, ""}};
  EXPECT_EQ(ProgramEntry(machine), 0);
  ASSERT_GE(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].style, 0x31u);
  EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes("0.25c"));
  const auto* kept = machine.files.Find(scenario::KeptOriginalPath(game.folder, "0.25c"));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->data, "");
  EXPECT_TRUE(HasLine(machine, "执行过程[1]:真\r\n"));
}

}  // namespace
