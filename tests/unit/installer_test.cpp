// Whole runs of the installer on simulated machines: console, boxes, files,
// processes and time, for each end of the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/startup.h"
#include "fsproc/process_ops.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdCancel;
using scenario::kIdOk;
using scenario::kTemp;
using scenario::Line;
using scenario::Lines;

constexpr win::WORD kLabel = 0x03, kValue = 0x07, kStep = 0x0A, kClosing = 0x5F;

using scenario::kAssemblySize;
using scenario::kVersions;

const std::string kNoPathLine =
    "无法读取游戏所在的路径（权限不足，或文件夹名中有无法识别的字符）。"
    "请以管理员身份运行本程序，或把游戏移到普通名字的文件夹后再试。\r\n";

std::vector<Line> Discovery(win::HWND window, win::DWORD pid, const std::string& path) {
  return {{"窗口句柄ID ", kLabel},
          {std::to_string(static_cast<std::int32_t>(window)) + "\r\n", kValue},
          {"游戏进程ID ", kLabel},
          {std::to_string(pid) + "\r\n", kValue},
          {"游戏路径 ", kLabel},
          {path + "\r\n", kValue}};
}

// The lines after the banner.
std::vector<Line> AfterBanner(const sim::Machine& machine) {
  auto lines = Lines(machine.console);
  if (lines.size() < 5) return {};
  return {lines.begin() + 5, lines.end()};
}

std::vector<Line> Concat(std::vector<Line> a, const std::vector<Line>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string VariableLines(win::DWORD pid, win::HWND window, const std::string& folder,
                          const std::string& name) {
  return "\r\n\r\n--------------------变量信息--------------------\r\n进程ID：" + std::to_string(pid) +
         "\r\n窗口句柄：" + std::to_string(window) + "\r\n程序路径：" + folder +
         "\r\n程序命名：" + name;
}


// ---------------------------------------------------------------- finding the game

TEST(InstallerRunTest, NoGameShowsTheNotFoundReport) {
  sim::Machine machine;
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine),
            Discovery(0, 0, "C:\\Games\\Tools\\ThistlegardenPatch.exe"));
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  const auto& box = machine.dialogs.shown[0];
  EXPECT_EQ(box.text, "未能成功寻找到游戏！\r\n请确保游戏已经在运行！" +
                          VariableLines(0, 0, "C:\\Games\\Tools\\", "ThistlegardenPatch.exe"));
  EXPECT_EQ(box.style, 0x10u);
  EXPECT_EQ(box.caption, "欧尼酱~出错啦~");
  EXPECT_EQ(box.timeout, 1000000u);
  EXPECT_EQ(box.owner, 0u);
  EXPECT_EQ(machine.clock.slept, 1000u);
  EXPECT_TRUE(scenario::Started(machine).empty());
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST(InstallerRunTest, AWindowOfAnotherProgramIsPassedOver) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, -1, false);
  // Another program's window has the game's title; the game runs without one.
  win::DWORD other = machine.processes.Add("Notes.exe", u"\\Device\\HarddiskVolume3\\Tools\\Notes.exe");
  machine.windows.AddForeign("Thistlegarden", "Notepad", other);
  machine.user.answers = {kIdCancel};  // no version by hand
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine), Discovery(0, game.processId, game.ExePath()));
  EXPECT_EQ(std::count(machine.faults.calls.begin(), machine.faults.calls.end(),
                       "CreateToolhelp32Snapshot"),
            1);
}

// The file manager open on the game's folder has a window of the same title,
// above the game's when the player starts the installer from there.
TEST(InstallerRunTest, TheFileManagerOnTheGamesFolderIsNotTakenForTheGame) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  const win::DWORD explorer = machine.processes.Add(
      "explorer.exe", u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  machine.windows.Raise(machine.windows.AddForeign("Thistlegarden", "CabinetWClass", explorer));
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  auto lines = AfterBanner(machine);
  lines.resize(6);
  EXPECT_EQ(lines, Discovery(game.window, game.processId, game.ExePath()));
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
  EXPECT_TRUE(machine.processes.Find(explorer)->running);
  EXPECT_FALSE(machine.processes.Find(game.processId)->running);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
}

TEST(InstallerRunTest, GameFoundByProcessNameAlone) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, -1, false);
  machine.processes.list.back().exeName = "THISTLEGARDEN.EXE";
  machine.user.answers = {kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine), Discovery(0, game.processId, game.ExePath()));
  // Straight to the manual question: no assembly, no confirmation.
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, "未能成功检测到你的游戏版本，是否手动选择？否则退出。");
  EXPECT_EQ(machine.dialogs.shown[0].style, 0x31u);
  EXPECT_EQ(machine.dialogs.shown[0].caption, "欧尼酱！出错啦~");
}

TEST(InstallerRunTest, AGameWhosePathCannotBeReadPrintsAnEmptyPath) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.processes.Find(game.processId)->openableRights = 0;
  machine.user.answers = {kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine),
            Concat(Discovery(game.window, game.processId, ""), {{kNoPathLine, 0x0E}}));
  // The assembly path is relative then, and there is none beside the installer.
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].style, 0x31u);
}

// A folder name that cannot be spelt as text (a lone surrogate, which NTFS
// allows) is never taken for another folder: the player is told.
TEST(InstallerRunTest, AFolderNameThatCannotBeSpeltIsSaidSo) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.processes.Find(game.processId)->imagePath =
      u"\\Device\\HarddiskVolume4\\Games\\Thistle\xD800\\Thistlegarden.exe";
  machine.user.answers = {kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine),
            Concat(Discovery(game.window, game.processId, ""), {{kNoPathLine, 0x0E}}));
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == std::string(kAssemblySize, 'o'));
}

// ---------------------------------------------------------------- the whole job

class GoodInstallTest : public ::testing::TestWithParam<scenario::Version> {};

TEST_P(GoodInstallTest, PatchesRestartsAndLeavesTheImages) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, scenario::SizeOf(GetParam()));
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);

  ASSERT_NE(FindPayload(GetParam().label), nullptr);
  const std::string& payload = scenario::PayloadBytes(GetParam().label);
  const auto good = scenario::GoodInstallLines(game.window, game.processId, game.ExePath(), game.exeName);
  EXPECT_EQ(AfterBanner(machine), std::vector<Line>(good.begin() + scenario::kBannerLines, good.end()));

  // One question, no report.
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(machine.dialogs.shown[0].text, std::string("识别Assembly-CSharp.dll大小版本自动识别为 ") +
                                               GetParam().label + "，是否确认为该版本？");
  EXPECT_EQ(machine.dialogs.shown[0].style, 0x21u);
  EXPECT_EQ(machine.dialogs.shown[0].caption, "欧尼酱~这个事情很重要！");

  // The patched assembly, its backup and the comparison folder.
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == payload);
  std::string temp = kTemp;
  EXPECT_TRUE(scenario::File(machine, temp + "Thistlegarden补丁程序\\Assembly-CSharp.dll")->data == payload);
  const std::string images = temp + "Thistlegarden补丁程序\\补丁对比图\\";
  ASSERT_NE(scenario::File(machine, images + "该文件夹没用可以直接删除"), nullptr);
  EXPECT_EQ(scenario::File(machine, images + "该文件夹没用可以直接删除")->data, "");
  EXPECT_TRUE(scenario::File(machine, images + "安装前.PNG")->data == scenario::ImageBytes(BeforeImage()));
  EXPECT_TRUE(scenario::File(machine, images + "安装后.PNG")->data == scenario::ImageBytes(AfterImage()));
  // The original kept beside it with the record of it, and nothing else
  // left in the game's folder.
  const auto* kept = scenario::File(machine, scenario::KeptOriginalPath(game.folder, GetParam().label));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->data, std::string(static_cast<std::size_t>(scenario::SizeOf(GetParam())), 'o'));
  int managed = 0;
  for (const auto& [key, node] : machine.files.nodes)
    if (key.find("thistlegarden_data\\managed\\") != std::string::npos) ++managed;
  EXPECT_EQ(managed, 3);
  EXPECT_NE(scenario::File(machine, game.folder + "Thistlegarden_Data\\Managed\\" + scenario::kKeptRecordName), nullptr);

  // The game was ended, started again, and the file manager opened.
  EXPECT_FALSE(machine.processes.Find(game.processId)->running);
  auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->commandLine, "\"" + game.ExePath() + "\"");
  EXPECT_EQ(started[0]->showWindow, 1u);
  EXPECT_EQ(started[0]->currentDirectory, game.folder);
  // The file manager of the Windows folder, named so that nothing is searched for.
  EXPECT_EQ(started[1]->commandLine,
            "\"C:\\Windows\\explorer.exe\" \"" + temp + "Thistlegarden补丁程序\\补丁对比图\"");

  EXPECT_EQ(machine.clock.slept, 17000u);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EachVersion, GoodInstallTest, ::testing::ValuesIn(kVersions),
                         [](const ::testing::TestParamInfo<scenario::Version>& tested) {
                           std::string name = tested.param.label;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// The label of the first row of the table with `size`'s size code, or nullptr.
const char* LabelOfSize(long long size) {
  for (const scenario::Version& version : kVersions)
    for (std::int32_t code : {version.sizeCode, version.otherSizeCode})
      if (code != 0 && size >= scenario::SmallestWithCode(code) && size <= scenario::LargestWithCode(code))
        return version.label;
  return nullptr;
}

// Each end of each size code of the table, a size beyond each, and each
// payload's own size (a game patched by this installer before).
TEST(InstallerRunTest, SizeBoundariesOfTheVersionTable) {
  std::vector<long long> sizes;
  for (const scenario::Version& version : kVersions) {
    for (std::int32_t code : {version.sizeCode, version.otherSizeCode}) {
      if (code == 0) continue;
      const long long first = scenario::SmallestWithCode(code), last = scenario::LargestWithCode(code);
      sizes.insert(sizes.end(), {first - 1, first, last, last + 1});
    }
    sizes.push_back(version.payloadBytes);
  }
  for (long long size : sizes) {
    const char* question = LabelOfSize(size);
    sim::Machine machine;
    scenario::InstallGame(machine, size);
    machine.user.answers = {kIdCancel, kIdCancel};
    EXPECT_EQ(ProgramEntry(machine), 0);
    const auto& shown = machine.dialogs.shown;
    if (question) {
      ASSERT_EQ(shown.size(), 2u) << size;
      EXPECT_NE(shown[0].text.find(std::string(" ") + question + "，"), std::string::npos) << size;
    } else {
      ASSERT_EQ(shown.size(), 1u) << size;
    }
    EXPECT_EQ(shown.back().style, 0x31u) << size;
  }
}

TEST(InstallerRunTest, DecliningTheManualPickTouchesNothing) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  const auto before = scenario::DiskWithoutRunLogs(machine);
  machine.user.answers = {kIdCancel, kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(AfterBanner(machine), Discovery(game.window, game.processId, game.ExePath()));
  EXPECT_TRUE(scenario::DiskWithoutRunLogs(machine) == before);
  // The record of a declined run is kept too.
  EXPECT_NE(scenario::File(machine, scenario::kRunLogPath), nullptr);
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath())->data.size(), size_t(kAssemblySize));
  EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  EXPECT_TRUE(scenario::Started(machine).empty());
  EXPECT_EQ(machine.clock.slept, 1000u);
}

TEST(InstallerRunTest, ATimedOutQuestionCountsAsARefusal) {
  sim::Machine machine;
  scenario::InstallGame(machine, scenario::SizeOf(kVersions[1]));
  // Nobody answers: each box waits its 1000 seconds.
  EXPECT_EQ(ProgramEntry(machine), 0);
  ASSERT_EQ(machine.dialogs.shown.size(), 2u);
  EXPECT_EQ(machine.dialogs.shown[1].result, 32000);
  EXPECT_TRUE(scenario::Started(machine).empty());
}

// ---------------------------------------------------------------- failures

std::string FailureReport(const Game& game, const char* first, const char* second) {
  return "程序执行过程中出现错误！\r\n请尝试关闭杀毒软件后在运行本程序。" +
         VariableLines(game.processId, game.window, game.folder, game.exeName) +
         "\r\n\r\n执行过程:\r\n" + first + "\r\n" + second;
}

TEST(InstallerFailureTest, NoPayloadForTheLabel) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  // Cancel, then OK to the manual question; the window gives nothing.
  machine.user.answers = {kIdCancel, kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  std::vector<Line> expected = Concat(
      Discovery(game.window, game.processId, game.ExePath()),
      {{"执行过程[1]:假\r\n", kStep},
       {"执行过程[2]:假\r\n", kStep},
       {scenario::kRunLogLine, scenario::kNoticeAttributes},
       {"补丁安装结束，程序在10秒后自动关闭......\r\n", kClosing}});
  EXPECT_EQ(AfterBanner(machine), expected);
  ASSERT_EQ(machine.dialogs.shown.size(), 4u);
  EXPECT_EQ(machine.dialogs.shown[2].text, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  EXPECT_EQ(machine.dialogs.shown[2].style, 0x10u);
  EXPECT_EQ(machine.dialogs.shown[3].text, FailureReport(game, "假", "假"));
  // Untouched, and the game runs on: no second copy is started beside it.
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath())->data.size(), size_t(kAssemblySize));
  EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  ASSERT_EQ(scenario::Started(machine).size(), 1u);
  EXPECT_EQ(scenario::Started(machine)[0]->exeName, "explorer.exe");
  EXPECT_EQ(machine.clock.slept, 16000u);
}

TEST(InstallerFailureTest, ALockedOrReadOnlyAssemblyStaysAsItWas) {
  for (bool locked : {true, false}) {
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, kAssemblySize);
    auto* node = machine.files.Find(game.AssemblyPath());
    if (locked)
      node->locked = true;
    else
      node->attributes = win::FILE_ATTRIBUTE_READONLY;
    machine.user.answers = {kIdOk};
    EXPECT_EQ(ProgramEntry(machine), 0);
    ASSERT_NE(scenario::File(machine, game.AssemblyPath()), nullptr) << locked;
    EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == std::string(kAssemblySize, 'o'));
    ASSERT_EQ(machine.dialogs.shown.size(), 3u);
    EXPECT_EQ(machine.dialogs.shown[2].text, FailureReport(game, "假", "假"));
    EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  }
}

TEST(InstallerFailureTest, AFullDiskPutsTheOriginalBack) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, scenario::SizeOf(kVersions[1]));
  machine.files.freeBytes = 1000000;
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == std::string(scenario::SizeOf(kVersions[1]), 'o'));
  EXPECT_EQ(machine.dialogs.shown.back().text, FailureReport(game, "假", "假"));
}

TEST(InstallerFailureTest, AFailedCopyIsReportedAndTheGameRestarted) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, scenario::SizeOf(kVersions[1]));
  machine.faults.Fail(win::Call::CopyFileA);
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  auto lines = AfterBanner(machine);
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[1]:真\r\n", kStep}), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[2]:假\r\n", kStep}), lines.end());
  EXPECT_EQ(machine.dialogs.shown.back().text, FailureReport(game, "真", "假"));
  EXPECT_FALSE(machine.processes.Find(game.processId)->running);
  EXPECT_EQ(scenario::Started(machine).size(), 2u);
  EXPECT_EQ(machine.clock.slept, 17000u);
}

TEST(InstallerFailureTest, NoTemporaryFolderMakesThePathsRelative) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.folders.temp = "";
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  // Relative to the installer's own folder, which start-up made current.
  const std::string own = "C:\\Games\\Tools\\";
  EXPECT_NE(scenario::File(machine, own + "Thistlegarden补丁程序\\Assembly-CSharp.dll"), nullptr);
  EXPECT_NE(scenario::File(machine, own + "Thistlegarden补丁程序\\补丁对比图\\安装前.PNG"), nullptr);
  EXPECT_EQ(scenario::Started(machine).back()->commandLine,
            "\"C:\\Windows\\explorer.exe\" \"Thistlegarden补丁程序\\补丁对比图\"");
  (void)game;
}

TEST(InstallerRunTest, AnEarlierComparisonFolderIsOverwritten) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, scenario::SizeOf(kVersions[0]));
  const std::string images = std::string(kTemp) + "Thistlegarden补丁程序\\补丁对比图\\";
  machine.files.AddFile(images + "安装前.PNG", "old");
  machine.files.AddFile(images + "该文件夹没用可以直接删除", "old");
  machine.files.AddFile(images + "mine.txt", "kept");
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::File(machine, images + "安装前.PNG")->data == scenario::ImageBytes(BeforeImage()));
  EXPECT_EQ(scenario::File(machine, images + "该文件夹没用可以直接删除")->data, "");
  EXPECT_EQ(scenario::File(machine, images + "mine.txt")->data, "kept");
  (void)game;
}

TEST(InstallerRunTest, FoldersWithBlanksAndChineseCharacters) {
  sim::Machine machine;
  machine.folders.temp = "C:\\Users\\玩家 一\\AppData\\Local\\Temp\\";
  machine.files.AddDirectory(machine.folders.temp);
  Game game = scenario::InstallGame(machine, kAssemblySize, true, "D:\\Program Files\\游戏 目录\\");
  // A stray program where an unquoted command line would look first.
  machine.files.AddFile("D:\\Program.exe", "MZ stray");
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
  auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->commandLine, "\"D:\\Program Files\\游戏 目录\\Thistlegarden.exe\"");
  EXPECT_EQ(started[0]->exeName, "Thistlegarden.exe");
  EXPECT_EQ(started[0]->currentDirectory, "D:\\Program Files\\游戏 目录\\");
  EXPECT_NE(scenario::File(machine, machine.folders.temp + "Thistlegarden补丁程序\\补丁对比图\\安装后.PNG"),
            nullptr);
}

// Characters code page 936 lacks, in GB18030: "♪", "Ä", "게".
const std::string kNote = "\x81\x37\xAC\x38", kUmlaut = "\x81\x30\x87\x32", kKorean = "\x82\x37\xDD\x35";

// Folders whose names 936 cannot hold (the game's, the installer's, the
// temporary-files folder) reach the file and process calls unchanged; the
// console shows such a character as "?".
TEST(InstallerRunTest, FoldersWithCharactersBeyond936) {
  sim::Machine machine;
  const std::string own = "C:\\kit\\下载 " + kNote + " " + kKorean;
  machine.files.AddDirectory(own);
  machine.self.modulePath = own + "\\ThistlegardenPatch.exe";
  machine.folders.temp = "C:\\Users\\Pl" + kUmlaut + "yer\\AppData\\Local\\Temp\\";
  machine.files.AddDirectory(machine.folders.temp);
  Game game = scenario::InstallGame(machine, kAssemblySize, true, "D:\\Games\\Thistlegarden " + kNote + "\\");
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(machine.self.currentDirectory, own);

  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
  const auto* kept = scenario::File(machine, scenario::KeptOriginalPath(game.folder, scenario::kLabel));
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->data, std::string(kAssemblySize, 'o'));
  const std::string ours = machine.folders.temp + "Thistlegarden补丁程序\\";
  EXPECT_NE(scenario::File(machine, ours + "Assembly-CSharp.dll"), nullptr);
  EXPECT_NE(scenario::File(machine, ours + "补丁对比图\\安装后.PNG"), nullptr);

  auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->commandLine, "\"" + game.ExePath() + "\"");
  EXPECT_EQ(started[0]->currentDirectory, game.folder);
  EXPECT_EQ(started[1]->commandLine,
            "\"C:\\Windows\\explorer.exe\" \"" + ours + "补丁对比图\"");
  EXPECT_TRUE(machine.dialogs.shown.size() == 1u);
  const auto lines = AfterBanner(machine);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[5], (Line{"D:\\Games\\Thistlegarden ?\\Thistlegarden.exe\r\n", kValue}));
  EXPECT_EQ(lines[10], (Line{"重新运行 Thistlegarden.exe\r\n", kStep}));
}

// A game folder ending in "€" (0x80, no lead byte) and one named with
// characters GB18030 holds in two bytes that 936 lacks: the game is found,
// identified and patched in its own folder, and started again from there.
TEST(InstallerRunTest, FoldersEndingInEuroOrTwoByteCharactersBeyond936) {
  const struct {
    std::string folder, shown;
  } cases[] = {{"D:\\games\\Thistlegarden\x80\\", "D:\\games\\Thistlegarden\x80\\"},
               {"D:\\games\\Thistlegarden \xA8\xBF\xA9\x89\\", "D:\\games\\Thistlegarden ??\\"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    sim::Machine machine;
    const std::string own = c.folder + "kit";
    machine.files.AddDirectory(own);
    machine.self.modulePath = own + "\\ThistlegardenPatch.exe";
    Game game = scenario::InstallGame(machine, kAssemblySize, true, c.folder);
    machine.user.answers = {kIdOk};
    EXPECT_EQ(ProgramEntry(machine), 0);
    EXPECT_EQ(machine.self.currentDirectory, own);
    EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
    EXPECT_NE(scenario::File(machine, scenario::KeptOriginalPath(game.folder, scenario::kLabel)), nullptr);
    EXPECT_TRUE(machine.dialogs.shown.size() == 1u) << "no version asked for";
    auto started = scenario::Started(machine);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0]->commandLine, "\"" + game.ExePath() + "\"");
    EXPECT_EQ(started[0]->currentDirectory, game.folder);
    const auto lines = AfterBanner(machine);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[5], (Line{c.shown + "Thistlegarden.exe\r\n", kValue}));
  }
}

// A game whose own name 936 cannot hold is started by that name; the console
// shows "?" for the character.
TEST(InstallerRunTest, AGameNameBeyond936) {
  sim::Machine machine;
  Game game;
  game.exeName = "Thistlegarden.exe";
  game = scenario::InstallGame(machine, kAssemblySize);
  // Renamed by the player: a launcher's copy with a note in its name.
  const std::string renamed = game.folder + "Thistlegarden" + kNote + ".exe";
  machine.files.AddFile(renamed, "MZ game");
  auto* process = machine.processes.Find(game.processId);
  process->imagePath = u"\\Device\\HarddiskVolume4" + scenario::Wide(machine, renamed.substr(2));
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0]->commandLine, "\"" + renamed + "\"");
  const auto lines = AfterBanner(machine);
  ASSERT_GE(lines.size(), 11u);
  EXPECT_EQ(lines[10], (Line{"重新运行 Thistlegarden?.exe\r\n", kStep}));
}

// A program named like the file manager beside the installer (a downloads
// folder) or in the current folder never runs.
TEST(InstallerRunTest, APlantedFileManagerNeverRuns) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, scenario::SizeOf(kVersions[1]));
  machine.files.AddFile("C:\\Games\\Tools\\explorer.exe", "MZ planted");
  machine.files.AddFile("C:\\Games\\Tools\\explorer", "MZ planted");
  machine.files.AddFile(machine.self.currentDirectory + "\\explorer.exe", "MZ planted");
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  auto started = scenario::Started(machine);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[1]->imagePath, u"\\Device\\HarddiskVolume3\\Windows\\explorer.exe");
  EXPECT_EQ(started[0]->imagePath, scenario::Wide(machine, "\\Device\\HarddiskVolume4" +
                                                                game.ExePath().substr(2)));

  // Without the Windows folder the file manager is not looked for at all.
  sim::Machine noWindows;
  scenario::InstallGame(noWindows, scenario::SizeOf(kVersions[1]));
  noWindows.files.AddFile("C:\\Games\\Tools\\explorer.exe", "MZ planted");
  noWindows.folders.windows = "";
  noWindows.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(noWindows), 0);
  ASSERT_EQ(scenario::Started(noWindows).size(), 1u);
  EXPECT_EQ(scenario::Started(noWindows)[0]->exeName, "Thistlegarden.exe");
}

// Whatever kept the run from ending the game, no second copy is started
// beside it and no "重新运行 " line printed.
TEST(InstallerFailureTest, AGameThatWasNotEndedIsNotStartedAgain) {
  using Action = sim::ScriptedUser::Action;
  struct Case {
    const char* what;
    std::function<void(sim::Machine&, const Game&)> setup;
  };
  const Case cases[] = {
      {"locked assembly", [](sim::Machine& m, const Game& g) { m.files.Find(g.AssemblyPath())->locked = true; }},
      {"read-only assembly",
       [](sim::Machine& m, const Game& g) {
         m.files.Find(g.AssemblyPath())->attributes = win::FILE_ATTRIBUTE_READONLY;
       }},
      {"typed label without a payload",
       [](sim::Machine& m, const Game&) {
         m.user.answers = {kIdCancel, kIdOk};
         m.user.actions = {{Action::kType, "0.25d"}, {Action::kPressOk, ""}};
       }},
      {"version window closed", [](sim::Machine& m, const Game&) {
         m.user.answers = {kIdCancel, kIdOk};
         m.user.actions = {{Action::kClose, ""}};
       }},
      {"game that cannot be ended", [](sim::Machine& m, const Game& g) {
         m.processes.Find(g.processId)->openableRights = win::PROCESS_QUERY_INFORMATION;
       }},
  };
  for (const Case& c : cases) {
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, kAssemblySize);
    machine.user.answers = {kIdOk};
    c.setup(machine, game);
    EXPECT_EQ(ProgramEntry(machine), 0) << c.what;
    EXPECT_TRUE(machine.processes.Find(game.processId)->running) << c.what;
    auto started = scenario::Started(machine);
    ASSERT_EQ(started.size(), 1u) << c.what;
    EXPECT_EQ(started[0]->exeName, "explorer.exe") << c.what;
    for (const auto& line : Lines(machine.console))
      EXPECT_FALSE(line.text.starts_with("重新运行")) << c.what;
  }
}

// Unity games may take seconds to close: one that goes within the wait is
// started again; one still there after it is not, and the player is told.
TEST(InstallerRunTest, AGameSlowToClose) {
  for (const win::DWORD takes : {12000u, 20000u}) {
    SCOPED_TRACE(takes);
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, kAssemblySize);
    machine.user.answers = {kIdOk};
    machine.processes.Find(game.processId)->endTakes = takes;
    EXPECT_EQ(ProgramEntry(machine), 0);
    const bool waitedOut = takes <= kEndProcessWait;
    const auto lines = AfterBanner(machine);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[8], (Line{"执行过程[1]:真\r\n", kStep}));
    EXPECT_EQ(lines[9], (Line{"执行过程[2]:真\r\n", kStep}));
    EXPECT_EQ(lines[10], waitedOut ? (Line{"重新运行 Thistlegarden.exe\r\n", kStep})
                                   : (Line{"未重新运行 Thistlegarden.exe：游戏尚未关闭，"
                                           "请在它关闭后自行启动\r\n",
                                           kStep}));
    EXPECT_TRUE(machine.dialogs.shown.size() == 1u);
    EXPECT_FALSE(machine.processes.Find(game.processId)->running);  // gone by the end of the run
    const auto started = scenario::Started(machine);
    EXPECT_EQ(started.size(), waitedOut ? 2u : 1u);
    EXPECT_EQ(started.back()->exeName, "explorer.exe");
    // The run waited for it no longer than the bound.
    EXPECT_EQ(machine.clock.slept, 17000u);
  }
}

TEST(InstallerRunTest, AGameThatClosedMeanwhileIsNotEndedAgain) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.user.answers = {kIdOk};
  // While the question is open the game closes and its ID goes to another program.
  machine.user.onShow = [&, &m = machine] {
    auto* p = m.processes.Find(game.processId);
    p->exeName = "Editor.exe";
    p->imagePath = u"\\Device\\HarddiskVolume3\\Tools\\Editor.exe";
  };
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kLabel));
  // Nor is the game started: the program now under that ID was not ended.
  ASSERT_EQ(scenario::Started(machine).size(), 1u);
  EXPECT_EQ(scenario::Started(machine)[0]->exeName, "explorer.exe");
}

}  // namespace
