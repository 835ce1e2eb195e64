// One scenario per row of docs/fault_catalogue.md: a platform call (or a
// machine condition) fails during an install run, and the run's boxes,
// console lines, files and processes are as the catalogue says.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "app/startup.h"
#include "fsproc/file_ops.h"
#include "platform/api_wrapper.h"
#include "install/payload_catalogue.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdCancel;
using scenario::kIdOk;
using scenario::kTemp;

using scenario::kAssemblySize;
// What a first run's record takes: its file; there is no older record to
// move down.
constexpr int kRunLogCreates = 1, kRunLogMoves = 0;
// What the record of the kept original takes in a patch: its file read (none
// yet) and written, and read again for the run's record; one move.
constexpr int kKeptRecordCreates = 3, kKeptRecordMoves = 1;
constexpr char kAdvanced[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr char kOwnFolder[] = "C:\\Games\\Tools\\";
constexpr char kOwnPath[] = "C:\\Games\\Tools\\ThistlegardenPatch.exe";

// The `nth` call of `name` after the `afterNth` call of `after` (or from the
// start) fails, and the `count - 1` calls of `name` after it.
struct Fault {
  const char* name;
  int nth = 1;
  const char* after = nullptr;
  int afterNth = 1;
  int count = 1;
};

struct Expect {
  // Boxes in order: "confirm", "manual", "notfound", "dev", "report 真假"
  // (with the report's two truth texts).
  std::vector<std::string> boxes;
  std::string steps;  // the two step results, "" when the run ended before them
  bool patched;       // the assembly holds the payload (else the original)
  bool backup;        // the temporary folder holds a copy of the payload
  std::string images = "MBA";  // marker, before, after: present and whole, 'x' cut short, '-' none
  bool ended = false;          // the game's process was ended
  std::string started = "GE";  // game and file manager started, in order
  // The discovery path line and the restarted name; nullptr: the game's.
  const char* pathLine = nullptr;
  const char* name = nullptr;
  bool found = true;       // the discovery lines show the game's window and process
  bool asideLeft = false;  // the original is left as "...aside1"
  // The "重新运行 " line: printed when the run saw the game it ended go
  // (unset: when it was ended).
  std::optional<bool> restartLine = std::nullopt;
  bool stillClosing = false;  // the line that tells the player to start the game
  bool notEnded = false;      // the line that tells the player the game could not be ended
  bool startFailed = false;   // the line that tells the player the game could not be started
  bool kept = true;        // the original is kept in the temporary folder
  bool newLeft = false;    // the new file is left beside the assembly
  bool logLine = true;     // a failed step's run says where its record is
  bool noPath = false;     // the line that says the game's path cannot be read
};

struct Case {
  const char* row;
  std::vector<Fault> faults;
  Expect expect;
  std::deque<int> answers = {kIdOk};
  std::function<void(sim::Machine&, const Game&)> setup = nullptr;
  std::function<void(const sim::Machine&, const Game&)> check = nullptr;
  bool window = true;
};

void Prepare(sim::Machine& machine, Game& game, const Case& c) {
  machine.registry.SetDword(kAdvanced, "HideFileExt", 1);
  game = scenario::InstallGame(machine, kAssemblySize, c.window);
  machine.user.answers = c.answers;
  // When the version window opens, the user picks the right version.
  machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                                 {sim::ScriptedUser::Action::kPressOk, ""}};
  if (c.setup) c.setup(machine, game);
}

// The ordinal of the fault's call among all calls of its name, found in a
// run of the same machine without faults.
int Ordinal(const std::vector<std::string>& calls, const Fault& f) {
  int seenAfter = 0, seenName = 0;
  std::size_t i = 0;
  if (f.after) {
    for (; i < calls.size() && seenAfter < f.afterNth; ++i) {
      if (calls[i] == f.after) ++seenAfter;
      if (seenAfter < f.afterNth && calls[i] == f.name) ++seenName;
    }
    if (f.after == std::string(f.name)) ++seenName;
  }
  return seenName + f.nth;
}

std::string BoxKind(const sim::MessageBoxRecord& box) {
  if (box.style == 0x21) return "confirm";
  if (box.style == 0x31) return "manual";
  if (box.text.starts_with("未能成功寻找到游戏！")) return "notfound";
  if (box.text.starts_with("运行出错！")) return "dev";
  if (box.text.starts_with("程序执行过程中出现错误！") && box.text.size() >= 6)
    return "report " + box.text.substr(box.text.size() - 6, 2) + box.text.substr(box.text.size() - 2);
  return "other: " + box.text;
}

std::string Images(const sim::Machine& machine, const std::string& temp) {
  const std::string folder = temp + "Thistlegarden补丁程序\\补丁对比图\\";
  const std::pair<const char*, std::string> files[] = {
      {"该文件夹没用可以直接删除", ""},
      {"安装前.PNG", scenario::ImageBytes(BeforeImage())},
      {"安装后.PNG", scenario::ImageBytes(AfterImage())}};
  std::string out;
  for (const auto& [name, data] : files) {
    const auto* node = scenario::File(machine, folder + name);
    out += !node ? '-' : node->data == data ? "MBA"[out.size()] : 'x';
  }
  return out;
}

std::vector<std::string> ExpectedLines(const Game& game, const Expect& e) {
  const std::string name = e.name ? e.name : game.exeName;
  std::vector<std::string> lines = {
      "窗口句柄ID ", std::to_string(e.found ? game.window : 0) + "\r\n", "游戏进程ID ",
      std::to_string(e.found ? game.processId : 0) + "\r\n", "游戏路径 ",
      std::string(e.pathLine ? e.pathLine : game.ExePath().c_str()) + "\r\n"};
  if (e.noPath)
    lines.push_back("无法读取游戏所在的路径（权限不足，或文件夹名中有无法识别的字符）。"
                    "请以管理员身份运行本程序，或把游戏移到普通名字的文件夹后再试。\r\n");
  if (e.steps.empty()) return lines;
  if (e.steps.starts_with("真")) {
    lines.push_back("替换Assembly-CSharp.dll\r\n");
    lines.push_back("结束进程 " + std::to_string(game.processId) + "\r\n");
  }
  lines.push_back("执行过程[1]:" + e.steps.substr(0, 2) + "\r\n");
  lines.push_back("执行过程[2]:" + e.steps.substr(2) + "\r\n");
  if (e.restartLine.value_or(e.ended)) lines.push_back("重新运行 " + name + "\r\n");
  if (e.stillClosing)
    lines.push_back("未重新运行 " + name + "：游戏尚未关闭，请在它关闭后自行启动\r\n");
  if (e.startFailed)
    lines.push_back("未重新运行 " + name + "：无法启动游戏（错误代码2），请自行启动\r\n");
  if (e.notEnded)
    lines.push_back("未重新运行 " + name +
                    "：未能结束游戏，它可能仍在运行补丁前的版本，请关闭游戏后自行启动\r\n");
  if (e.steps != "真真" && e.logLine) lines.push_back(scenario::kRunLogLine);
  lines.push_back("补丁安装结束，程序在10秒后自动关闭......\r\n");
  return lines;
}

void RunCase(const Case& c) {
  SCOPED_TRACE(c.row);
  std::vector<std::string> probeCalls;
  {
    sim::Machine probe;
    Game game;
    Prepare(probe, game, c);
    ProgramEntry(probe);
    probeCalls = probe.faults.calls;
  }
  sim::Machine machine;
  Game game;
  Prepare(machine, game, c);
  for (const Fault& f : c.faults) machine.faults.Fail(f.name, Ordinal(probeCalls, f), f.count);
  ASSERT_EQ(ProgramEntry(machine), 0);
  // Each planned fault was hit as often as planned (a lasting one at least once).
  if (!c.faults.empty() && c.faults[0].count > 0) {
    std::size_t planned = 0;
    for (const Fault& f : c.faults) planned += static_cast<std::size_t>(f.count);
    ASSERT_EQ(machine.faults.failed.size(), planned);
  }
  for (const Fault& f : c.faults)
    ASSERT_NE(std::find(machine.faults.failed.begin(), machine.faults.failed.end(), f.name),
              machine.faults.failed.end());
  const Expect& e = c.expect;

  std::vector<std::string> boxes;
  for (const auto& box : machine.dialogs.shown) boxes.push_back(BoxKind(box));
  EXPECT_EQ(boxes, e.boxes);

  std::vector<std::string> lines;
  const auto all = scenario::Lines(machine.console);
  for (std::size_t i = 5; i < all.size(); ++i) lines.push_back(all[i].text);
  EXPECT_EQ(lines, ExpectedLines(game, e));

  const auto* assembly = scenario::File(machine, game.AssemblyPath());
  ASSERT_NE(assembly, nullptr) << "the assembly is missing";
  const std::string payload(scenario::PayloadBytes("0.25c"));
  if (e.patched)
    EXPECT_TRUE(assembly->data == payload) << "not patched";
  else
    EXPECT_TRUE(assembly->data == std::string(kAssemblySize, 'o')) << "not the original";
  const auto* backup =
      scenario::File(machine, std::string(kTemp) + "Thistlegarden补丁程序\\Assembly-CSharp.dll");
  EXPECT_EQ(backup != nullptr, e.backup);
  if (backup) {
    EXPECT_TRUE(backup->data == payload);
  }
  EXPECT_EQ(Images(machine, kTemp), e.images);
  // Nothing but the assembly is left in its folder.
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".aside1") != nullptr, e.asideLeft);
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".patch-new") != nullptr, e.newLeft);
  const auto* kept = scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c"));
  EXPECT_EQ(kept != nullptr, e.kept);
  if (kept) {
    EXPECT_TRUE(kept->data == std::string(kAssemblySize, 'o'));
  }
  EXPECT_EQ(scenario::File(machine, scenario::KeptDraftPath(game.folder)), nullptr);

  EXPECT_EQ(!machine.processes.Find(game.processId)->running, e.ended);
  std::string started;
  for (const auto* p : scenario::Started(machine))
    started += p->exeName == "explorer.exe" ? 'E' : p->exeName == game.exeName ? 'G' : '?';
  EXPECT_EQ(started, e.started);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
  if (c.check) c.check(machine, game);
}

// Outcomes shared by many rows.
const Expect kGood{{"confirm"}, "真真", true, true, "MBA", true};
// A game this run did not end is not started again.
const Expect kWriteFailed{{"confirm", "dev", "report 假假"}, "假假", false, false, "MBA", false, "E"};
// Patched, but the game could not be ended: the player is told.
Expect GameKeptRunning() {
  Expect e{{"confirm"}, "真真", true, true, "MBA", false, "E"};
  e.notEnded = true;
  return e;
}
const Expect kGameKeptRunning = GameKeptRunning();
// The first read of the image path failed: the folder is empty, so the
// assembly is looked for beside the installer and the game's name alone
// starts nothing.
Expect NoFolder() {
  Expect e{{"manual", "dev", "report 假假"}, "假假", false, false, "MBA", false, "E",
           "Thistlegarden.exe"};
  e.kept = false;
  e.noPath = true;
  return e;
}
const Expect kNoFolder = NoFolder();
// The second read or the title failed: the first path still names the game.
const Expect kNoName = kGood;
// No extension setting: the name is shown without ".exe".
const Expect kNoSetting{{"confirm"}, "真真", true, true, "MBA", true, "GE",
                        "D:\\Games\\Thistlegarden\\Thistlegarden", "Thistlegarden"};

Expect NotFound() {
  Expect e{{"notfound"}, "", false, false, "---", false, ""};
  e.pathLine = kOwnPath;
  e.found = false;
  e.kept = false;
  return e;
}

Expect Without(Expect e, bool kept) {
  e.kept = kept;
  return e;
}

TEST(FaultCatalogueTest, DiscoveryFaults) {
  Expect notFound = NotFound();
  const Case cases[] = {
      {"process snapshot", {{"CreateToolhelp32Snapshot"}}, notFound, {kIdOk}, nullptr,
       [](const sim::Machine& m, const Game&) {
         EXPECT_TRUE(m.dialogs.shown[0].text.ends_with("进程ID：0\r\n窗口句柄：0\r\n程序路径：" +
                                                       std::string(kOwnFolder) +
                                                       "\r\n程序命名：ThistlegardenPatch.exe"));
       },
       false},
      {"OpenProcess, first image path read", {{"OpenProcess", 1}}, kNoFolder},
      {"OpenProcess, second image path read", {{"OpenProcess", 2}}, kNoName},
      {"OpenProcess, the one handle that checks, ends and waits", {{"OpenProcess", 3}},
       kGameKeptRunning},
      {"NtQueryInformationProcess, size query", {{"NtQueryInformationProcess", 1}}, kNoFolder},
      {"NtQueryInformationProcess, second query", {{"NtQueryInformationProcess", 2}}, kNoFolder},
      {"NtQueryInformationProcess, size query of the name read",
       {{"NtQueryInformationProcess", 3}}, kNoName},
      {"NtQueryInformationProcess, second query of the check",
       {{"NtQueryInformationProcess", 6}}, kGameKeptRunning},
      {"HeapAlloc, first image path read", {{"HeapAlloc", 1}}, kNoFolder},
      {"HeapAlloc, the check before ending", {{"HeapAlloc", 3}}, kGameKeptRunning},
      {"RegOpenKeyExW", {{"RegOpenKeyExW"}}, kNoSetting},
      {"RegQueryValueExW, size query", {{"RegQueryValueExW", 1}}, kNoSetting},
      {"RegQueryValueExW, data query", {{"RegQueryValueExW", 2}}, kNoSetting},
      {"GetFileTitleW", {{"GetFileTitleW"}}, kNoName},
  };
  for (const Case& c : cases) RunCase(c);
}

TEST(FaultCatalogueTest, BoxesNotShown) {
  Expect notFound = NotFound();
  notFound.boxes = {};
  Expect confirmLost = kGood;
  confirmLost.boxes = {"manual"};
  Expect manualLost{{"confirm"}, "", false, false, "---", false, ""};
  manualLost.kept = false;
  Expect devLost = kWriteFailed;
  devLost.boxes = {"confirm", "report 假假"};
  Expect reportLost{{"confirm"}, "真假", true, false, "MBA", true};
  const Case cases[] = {
      {"not-found box", {{"CreateToolhelp32Snapshot"}, {"MessageBoxTimeoutA"}}, notFound, {},
       nullptr, nullptr, false},
      {"confirmation box: counts as Cancel", {{"MessageBoxTimeoutA", 1}}, confirmLost},
      {"manual-selection question: the run ends", {{"MessageBoxTimeoutA", 2}}, manualLost,
       {kIdCancel}},
      {"developer-contact box", {{"CreateFileA", 5}, {"MessageBoxTimeoutA", 2}}, devLost},
      {"failure report", {{"CopyFileA"}, {"MessageBoxTimeoutA", 2}}, reportLost},
  };
  for (const Case& c : cases) RunCase(c);
}

TEST(FaultCatalogueTest, FileFaults) {
  Expect copyFailed{{"confirm", "report 真假"}, "真假", true, false, "MBA", true};
  Expect noMarker = kGood;
  noMarker.images = "-BA";
  Expect noImagesFolder = kGood;
  noImagesFolder.images = "---";
  Expect newLeft = kWriteFailed;
  newLeft.newLeft = true;
  const Expect failedNotKept = Without(kWriteFailed, false);
  const auto payloadSize = static_cast<long long>(scenario::PayloadBytes("0.25c").size());
  const Case cases[] = {
      {"FindFirstFileA, the size checked again before writing",
       {{"FindFirstFileA", 2, "MessageBoxTimeoutA"}}, failedNotKept},
      {"CreateFileA, reading the original", {{"CreateFileA", 1}}, failedNotKept},
      {"ReadFile, the original", {{"ReadFile", 1}}, failedNotKept},
      {"CreateFileA, the kept original's draft", {{"CreateFileA", 2}}, failedNotKept},
      {"FlushFileBuffers, the kept original's draft", {{"FlushFileBuffers", 1}}, failedNotKept},
      {"MoveFileExW, the kept original", {{"MoveFileExW", 1}}, failedNotKept},
      {"CreateFileA, the record of the kept original", {{"CreateFileA", 4}}, kWriteFailed},
      {"MoveFileExW, the record of the kept original", {{"MoveFileExW", 2}}, kWriteFailed},
      {"CreateFileA, the new assembly", {{"CreateFileA", 5}}, kWriteFailed},
      {"WriteFile, the new assembly", {{"WriteFile", 1, "CreateFileA", 5}}, kWriteFailed},
      {"short write of the new assembly", {}, failedNotKept, {kIdOk},
       [payloadSize](sim::Machine& m, const Game&) { m.files.freeBytes = payloadSize / 2; }},
      {"FlushFileBuffers, the new assembly", {{"FlushFileBuffers", 3}}, kWriteFailed},
      {"CloseHandle, the new assembly", {{"CloseHandle", 1, "FlushFileBuffers", 3}}, kWriteFailed},
      {"MoveFileExW, the swap", {{"MoveFileExW", 3}}, kWriteFailed},
      {"MoveFileExW, the swap, and removing the new file",
       {{"MoveFileExW", 3}, {"DeleteFileA", 1, "MoveFileExW", 3}}, newLeft},
      {"CreateFileA, reading the assembly back", {{"CreateFileA", 6}}, kWriteFailed},
      {"ReadFile, reading the assembly back", {{"ReadFile", 1, "CreateFileA", 6}}, kWriteFailed},
      {"CopyFileA, the backup", {{"CopyFileA"}}, copyFailed},
      {"CreateDirectoryW, the installer's folder before the copy, first run",
       {{"CreateDirectoryW", 6}}, copyFailed},
      {"CreateDirectoryW, the comparison folder", {{"CreateDirectoryW", 13}}, noImagesFolder},
      {"CreateFileA, the marker file", {{"CreateFileA", 7}}, noMarker},
      {"a security program rewrites the assembly right after the swap", {}, kWriteFailed, {kIdOk},
       [](sim::Machine& m, const Game& g) {
         m.files.onRenamed = [path = g.AssemblyPath()](sim::FileSystem::Node& node) {
           if (node.name == path && node.data.size() > 100 && node.data[100] != 'o') node.data[100] ^= 1;
         };
       }},
      {"locked assembly", {}, failedNotKept, {kIdOk},
       [](sim::Machine& m, const Game& g) { m.files.Find(g.AssemblyPath())->locked = true; }},
      {"read-only assembly", {}, kWriteFailed, {kIdOk},
       [](sim::Machine& m, const Game& g) {
         m.files.Find(g.AssemblyPath())->attributes = win::FILE_ATTRIBUTE_READONLY;
       }},
  };
  for (const Case& c : cases) RunCase(c);
}

// An original set aside by an earlier build goes back only where there is no
// assembly at all; beside an assembly it is left alone, whatever the player
// answers, and the assembly is not touched before a version is confirmed.
TEST(FaultCatalogueTest, AnAsideGoesBackOnlyWhereThereIsNoAssembly) {
  const std::string original(kAssemblySize, 'o');
  {
    SCOPED_TRACE("no assembly");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, -1);
    machine.files.AddFile(game.AssemblyPath() + ".aside1", original);
    machine.user.answers = {kIdOk};
    EXPECT_EQ(ProgramEntry(machine), 0);
    EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".aside1"), nullptr);
    EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == scenario::PayloadBytes("0.25c"));
    const auto* kept = scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c"));
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->data == original);
    ASSERT_FALSE(machine.dialogs.shown.empty());
    EXPECT_EQ(machine.dialogs.shown[0].text, std::string("识别Assembly-CSharp.dll大小版本自动识别为 "
                                                         "0.25c，是否确认为该版本？"));
  }
  // A 0.25e game with an older original of the first version's size beside it.
  const std::string older(scenario::SizeOf(scenario::kVersions[0]), 'a');
  const std::string current(3271557, 'e');
  for (const bool confirms : {false, true}) {
    SCOPED_TRACE(confirms ? "the player confirms" : "the player declines every question");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, -1);
    machine.files.AddFile(game.AssemblyPath(), current);
    machine.files.AddFile(game.AssemblyPath() + ".aside1", older);
    machine.user.answers = confirms ? std::deque<int>{kIdOk} : std::deque<int>{kIdCancel, kIdCancel};
    EXPECT_EQ(ProgramEntry(machine), 0);
    EXPECT_TRUE(scenario::File(machine, game.AssemblyPath() + ".aside1")->data == older);
    ASSERT_FALSE(machine.dialogs.shown.empty());
    EXPECT_EQ(machine.dialogs.shown[0].text, std::string("识别Assembly-CSharp.dll大小版本自动识别为 "
                                                         "0.25e，是否确认为该版本？"));
    EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data ==
                (confirms ? std::string(scenario::PayloadBytes("0.25e")) : current));
    const auto* kept = scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25e"));
    EXPECT_EQ(kept != nullptr, confirms);
    if (kept) {
      EXPECT_TRUE(kept->data == current);
    }
  }
}

// Leftovers of an interrupted run are removed before the version is
// identified: the new file beside the assembly and the draft of a kept
// original, and a kept original is never overwritten.
TEST(FaultCatalogueTest, LeftoversAreRemovedAndKeptOriginalsStay) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  const std::string draft = scenario::KeptDraftPath(game.folder);
  machine.files.AddFile(game.AssemblyPath() + ".patch-new", std::string(5000, '\0'));
  machine.files.AddFile(draft, "partial");
  const std::string earlier(kAssemblySize, 'e');  // another original of the same version
  machine.files.AddFile(scenario::KeptOriginalPath(game.folder, "0.25c"), earlier);
  machine.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".patch-new"), nullptr);
  EXPECT_EQ(scenario::File(machine, draft), nullptr);
  EXPECT_TRUE(scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c"))->data == earlier);
  const auto* second =
      scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c-2"));
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->data == std::string(kAssemblySize, 'o'));

  // A second run on the patched game puts back the original that patch
  // replaced, the second kept one, and keeps nothing more.
  sim::Machine again;
  scenario::RestartOn(again, machine);
  again.user.answers = {kIdOk};
  EXPECT_EQ(ProgramEntry(again), 0);
  EXPECT_EQ(scenario::DiskWithoutRunLogs(again).size(), scenario::DiskWithoutRunLogs(machine).size());
  EXPECT_TRUE(scenario::File(again, game.AssemblyPath())->data == std::string(kAssemblySize, 'o'));
  EXPECT_TRUE(scenario::File(again, scenario::KeptOriginalPath(game.folder, "0.25c"))->data == earlier);
}

// An original that cannot be kept is not replaced: step 1 fails as any
// failed write does, and the game keeps its original.
TEST(FaultCatalogueTest, AnOriginalThatCannotBeKeptIsNotReplaced) {
  const std::string original(kAssemblySize, 'o');
  const Case cases[] = {
      {"a kept name that cannot be looked up", {{"FindFirstFileA", 4}}, Without(kWriteFailed, false)},
  };
  for (const Case& c : cases) RunCase(c);

  // The nine names of the version hold other originals.
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  auto name = [&](int n) {
    return scenario::KeptOriginalPath(game.folder, "0.25c" + (n > 1 ? "-" + std::to_string(n) : ""));
  };
  for (int n = 1; n <= 9; ++n) machine.files.AddFile(name(n), std::string(kAssemblySize, static_cast<char>('0' + n)));
  machine.user.answers = {kIdOk, kIdOk, kIdOk};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data == original);
  for (int n = 1; n <= 9; ++n)
    EXPECT_EQ(scenario::File(machine, name(n))->data[0], static_cast<char>('0' + n)) << n;
  EXPECT_EQ(scenario::File(machine, name(10)), nullptr);
  std::vector<std::string> boxes;
  for (const auto& box : machine.dialogs.shown) boxes.push_back(BoxKind(box));
  EXPECT_EQ(boxes, (std::vector<std::string>{"confirm", "dev", "report 假假"}));
  EXPECT_TRUE(machine.processes.Find(game.processId)->running);
}

// "Not found" and "could not look" are told apart: only the first is no
// assembly. A look-up that fails is a failed step, whatever the player picks.
TEST(FaultCatalogueTest, ALookUpThatFailsIsNotAMissingAssembly) {
  const std::string original(kAssemblySize, 'o');
  Expect failedPick = Without(kWriteFailed, false);
  failedPick.boxes = {"manual", "dev", "report 假假"};
  const Case cases[] = {
      {"every look-up fails, the version picked by hand", {{"FindFirstFileA", 1, nullptr, 1, -1}},
       failedPick},
      {"the identifying look-up fails, the next one works", {{"FindFirstFileA", 1}}, failedPick},
  };
  for (const Case& c : cases) RunCase(c);

  // The size is read whole: 4 GiB more than a 0.25c size is no version.
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.files.Find(game.AssemblyPath())->sizeOverride = 0x100000000LL + kAssemblySize;
  machine.user.answers = {kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  EXPECT_EQ(BoxKind(machine.dialogs.shown[0]), "manual");
}

// Where there truly is no assembly, the payload is created: a file that
// appears there meanwhile is not replaced.
class FileAppearing : public win::ApiWrapper {
 public:
  FileAppearing(sim::Machine& machine, std::string path) : ApiWrapper(machine), machine_(machine), path_(std::move(path)) {}
  win::HANDLE CreateFileA(const char* path, win::DWORD access, win::DWORD share,
                          win::DWORD disposition, win::DWORD attributes) override {
    if (std::string(path) == path_ + ".patch-new") machine_.files.AddFile(path_, "appeared");
    return ApiWrapper::CreateFileA(path, access, share, disposition, attributes);
  }

 private:
  sim::Machine& machine_;
  std::string path_;
};

TEST(FaultCatalogueTest, NoAssemblyIsCreatedNeverReplaced) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, -1);
  machine.user.answers = {kIdOk, kIdOk, kIdOk, kIdOk};
  machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                                 {sim::ScriptedUser::Action::kPressOk, ""}};
  FileAppearing api(machine, game.AssemblyPath());
  EXPECT_EQ(ProgramEntry(api), 0);
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath())->data, "appeared");
  EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".patch-new"), nullptr);
  std::vector<std::string> boxes;
  for (const auto& box : machine.dialogs.shown) boxes.push_back(BoxKind(box));
  EXPECT_EQ(boxes, (std::vector<std::string>{"manual", "dev", "report 假假"}));
}

// A program that holds the assembly for a moment (a scanner, the game's
// loader) is waited out, backing off, for up to ten seconds in all; a lock
// that stays ends the step as before, within that bound.
TEST(FaultCatalogueTest, AMomentsLockIsWaitedOut) {
  const std::string original(kAssemblySize, 'o');
  constexpr win::DWORD kDelays = 17000;
  // After `tries` refused attempts the holder lets go (-1: never).
  auto lockOnKeep = [](int tries) {
    return [tries](sim::Machine& m, const Game& g) {
      m.files.onRenamed = [&m, tries, path = g.AssemblyPath()](sim::FileSystem::Node& node) {
        if (!node.name.ends_with(".dll.bak")) return;
        auto* assembly = m.files.Find(path);
        if (tries < 0) assembly->locked = true;
        else assembly->refusals = tries;
      };
    };
  };
  const Case cases[] = {
      {"the original, held while it is read, let go after 3 tries", {}, kGood, {kIdOk},
       [](sim::Machine& m, const Game& g) { m.files.Find(g.AssemblyPath())->refusals = 3; },
       [](const sim::Machine& m, const Game&) {
         EXPECT_EQ(m.clock.slept, kDelays + 50 + 100 + 200);
         EXPECT_EQ(scenario::CallCount(m, "CreateFileA"), 7 + kKeptRecordCreates + kRunLogCreates + 3);
       }},
      {"the assembly, held from the keep on, let go after 8 tries", {}, kGood, {kIdOk}, lockOnKeep(8),
       [](const sim::Machine& m, const Game&) {
         // 50 + 100 + ... + 1600, then 1600 twice.
         EXPECT_EQ(m.clock.slept, kDelays + 3150 + 3200);
         EXPECT_EQ(scenario::CallCount(m, "MoveFileExW"), 2 + kKeptRecordMoves + 8);
       }},
      {"the assembly, held from the keep on for good", {}, kWriteFailed, {kIdOk}, lockOnKeep(-1),
       [](const sim::Machine& m, const Game&) {
         // A failed write's run has a second less of delays.
         EXPECT_EQ(m.clock.slept, kDelays - 1000 + kLockWaitLimit);
         // Waits of 50 ms to 1.6 s, then 1.6 s four times and the 450 ms left.
         EXPECT_EQ(scenario::CallCount(m, "MoveFileExW"), 1 + kKeptRecordMoves + 12);
       }},
  };
  for (const Case& c : cases) RunCase(c);
}

// The version question may stay open for minutes: an assembly whose size
// changed meanwhile is not written.
TEST(FaultCatalogueTest, AnAssemblyChangedWhileAskingIsNotWritten) {
  sim::Machine machine;
  Game game = scenario::InstallGame(machine, kAssemblySize);
  machine.user.answers = {kIdOk};
  machine.user.onShow = [&, &m = machine] {
    if (m.dialogs.shown.empty()) m.files.Find(game.AssemblyPath())->data += "updated";
  };
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(scenario::File(machine, game.AssemblyPath())->data ==
              std::string(kAssemblySize, 'o') + "updated");
  EXPECT_EQ(scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c")), nullptr);
  std::vector<std::string> boxes;
  for (const auto& box : machine.dialogs.shown) boxes.push_back(BoxKind(box));
  EXPECT_EQ(boxes, (std::vector<std::string>{"confirm", "dev", "report 假假"}));
}

TEST(FaultCatalogueTest, AFullDiskKeepsTheOriginal) {
  Expect full = Without(kWriteFailed, false);
  full.images = "Mxx";  // the images are cut short where they stand
  full.logLine = false;  // and the run's record cannot be written
  RunCase({"full disk", {}, full, {kIdOk}, [](sim::Machine& m, const Game&) { m.files.freeBytes = 0; }});
}

TEST(FaultCatalogueTest, NoTemporaryFolder) {
  Expect relative = kGood;
  relative.backup = false;
  relative.images = "---";
  auto besideInstaller = [](const sim::Machine& m, const Game&) {
    const std::string own = std::string(kOwnFolder) + "Thistlegarden补丁程序\\";
    EXPECT_NE(scenario::File(m, own + "Assembly-CSharp.dll"), nullptr);
    EXPECT_EQ(Images(m, kOwnFolder), "MBA");
    EXPECT_EQ(scenario::Started(m).back()->commandLine,
              "\"C:\\Windows\\explorer.exe\" \"Thistlegarden补丁程序\\补丁对比图\"");
  };
  Expect firstOnly = kGood;
  firstOnly.backup = false;
  RunCase({"GetTempPathA fails every time", {{"GetTempPathA", 1, nullptr, 1, -1}}, relative,
           {kIdOk}, nullptr, besideInstaller});
  RunCase({"folders.temp empty", {}, relative, {kIdOk},
           [](sim::Machine& m, const Game&) { m.folders.temp = ""; }, besideInstaller});
  RunCase({"GetTempPathA fails for the backup only", {{"GetTempPathA", 1}}, firstOnly, {kIdOk},
           nullptr, [](const sim::Machine& m, const Game&) {
             EXPECT_NE(scenario::File(m, std::string(kOwnFolder) +
                                             "Thistlegarden补丁程序\\Assembly-CSharp.dll"),
                       nullptr);
           }});
}

TEST(FaultCatalogueTest, ProcessFaults) {
  Expect noGame = kGood;
  noGame.started = "E";
  noGame.restartLine = false;
  noGame.startFailed = true;
  Expect noExplorer = kGood;
  noExplorer.started = "G";
  Expect noWindow{{"confirm", "manual", "dev", "report 假假"}, "假假", false, false, "MBA", false, "E"};
  noWindow.kept = false;
  // Ended, but the run cannot tell that it is gone: not started again, and
  // the player is told to start it.
  Expect goneUnseen = kGood;
  goneUnseen.started = "E";
  goneUnseen.restartLine = false;
  goneUnseen.stillClosing = true;
  Expect stillThere = kGameKeptRunning;
  stillThere.stillClosing = true;
  stillThere.notEnded = false;
  const Case cases[] = {
      {"TerminateProcess", {{"TerminateProcess"}}, kGameKeptRunning},
      {"a game that does not go when ended", {}, stillThere, {kIdOk},
       [](sim::Machine& m, const Game& g) { m.processes.Find(g.processId)->hangsOnEnd = true; },
       [](const sim::Machine& m, const Game&) {
         // The wait for it is bounded: fifteen seconds beyond the run's delays.
         EXPECT_EQ(m.clock.tick - 5000000u, 17000u + 15000u);
       }},
      {"WaitForSingleObject, the wait for the ended game", {{"WaitForSingleObject"}}, goneUnseen},
      {"CreateProcessA, the game", {{"CreateProcessA", 1}}, noGame},
      {"CreateProcessA, the file manager", {{"CreateProcessA", 2}}, noExplorer},
      {"CreateWindowExA, the version window",
       {{"CreateWindowExA", 1, "MessageBoxTimeoutA", 2}}, noWindow, {kIdCancel, kIdOk}},
  };
  for (const Case& c : cases) RunCase(c);
}

}  // namespace

namespace {

// Picked by hand with no assembly at all: the payload is written where none
// was; when it does not read back whole, nothing is left there.
TEST(FaultCatalogueTest, NoAssemblyAndAFailedReadBackLeaveNone) {
  for (const bool readBackFails : {false, true}) {
    SCOPED_TRACE(readBackFails ? "read back fails" : "good");
    sim::Machine machine;
    Game game = scenario::InstallGame(machine, -1);
    machine.user.answers = {kIdOk};
    machine.user.actions = {{sim::ScriptedUser::Action::kPick, "0.25c"},
                                   {sim::ScriptedUser::Action::kPressOk, ""}};
    if (readBackFails) machine.faults.Fail(win::Call::ReadFile);
    EXPECT_EQ(ProgramEntry(machine), 0);
    const auto* assembly = scenario::File(machine, game.AssemblyPath());
    if (readBackFails) {
      EXPECT_EQ(assembly, nullptr);
    } else {
      ASSERT_NE(assembly, nullptr);
      EXPECT_TRUE(assembly->data == scenario::PayloadBytes("0.25c"));
    }
    EXPECT_EQ(scenario::File(machine, scenario::KeptOriginalPath(game.folder, "0.25c")), nullptr);
    EXPECT_EQ(scenario::File(machine, game.AssemblyPath() + ".patch-new"), nullptr);
  }
}

}  // namespace
