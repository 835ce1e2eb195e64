// A game patched with this program's own payloads: the run says so, and one
// answer puts back the original that patch replaced, as carefully as the
// patch went in. Every other game keeps the run it had.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "app/elevation.h"
#include "app/startup.h"
#include "fsproc/kept_record.h"
#include "install/payload_catalogue.h"
#include "platform/sim/code_pages.h"
#include "unit/scenario.h"

namespace {

using scenario::Game;
using scenario::kIdCancel;
using scenario::kIdOk;
using scenario::Line;

constexpr win::WORD kStep = 0x0A, kNotice = 0x0E, kClosing = 0x5F;
const std::string kRecordName = "原版Assembly-CSharp记录.txt";
const std::string kClosingLine = "补丁安装结束，程序在10秒后自动关闭......\r\n";

std::string Question(const std::string& label) {
  return "检测到游戏已经安装了 " + label + " 补丁，是否恢复为原版？";
}
std::string Payload(const std::string& label) { return scenario::PayloadBytes(label); }
std::string Managed(const Game& game) { return game.folder + "Thistlegarden_Data\\Managed\\"; }

// The player's original of `size` bytes, unlike any other of that size.
std::string OriginalOf(long long size, char fill = 'o') { return std::string(static_cast<std::size_t>(size), fill); }

// A game patched by this program: the first run confirmed `label` for an
// original of `size` bytes; the player then starts the game and the
// installer again, on a fresh machine with the disk the first run left.
struct PatchedGame {
  std::shared_ptr<const sim::Machine> first = std::make_shared<sim::Machine>();
  std::unique_ptr<sim::Machine> machine = std::make_unique<sim::Machine>();
  Game game;
  std::string label;
  std::string original;

  explicit PatchedGame(const scenario::Version& version, bool adminOnly = false)
      : PatchedGame(version.label, scenario::SizeOf(version), adminOnly) {}
  PatchedGame(const std::string& patchLabel, long long size, bool adminOnly = false,
              const std::function<void(sim::Machine&, const Game&)>& before = nullptr)
      : label(patchLabel), original(OriginalOf(size)) {
    const Game installed = scenario::InstallGame(*machine, size);
    if (before) before(*machine, installed);
    if (adminOnly) scenario::MakeAdminOnly(*machine, installed);
    machine->user.answers = {kIdOk};
    EXPECT_EQ(ProgramEntry(*machine), 0);
    EXPECT_TRUE(scenario::File(*machine, installed.AssemblyPath())->data == Payload(label)) << "not patched";
    Again();
  }
  // The game and the installer started once more on the disk `patched`'s
  // first run left, that run not made again: a sweep starts hundreds of runs
  // there, and a run on a fresh machine from the same disk is the same run.
  static PatchedGame OnTheDiskOf(const PatchedGame& patched) { return PatchedGame(patched, 0); }
  // The player starts the game and the installer once more, on the disk
  // the last run left.
  void Again() {
    auto next = std::make_unique<sim::Machine>();
    game = scenario::RestartOn(*next, *machine);
    first = std::move(machine);
    machine = std::move(next);
  }
  int Run(std::deque<int> answers = {kIdOk}) {
    machine->user.answers = std::move(answers);
    return ProgramEntry(*machine);
  }
  std::string Assembly() const { return machine->files.Find(game.AssemblyPath())->data; }
  std::vector<Line> AfterBanner() const {
    const auto lines = scenario::Lines(machine->console);
    return lines.size() < scenario::kBannerLines ? lines
                                                 : std::vector<Line>(lines.begin() + scenario::kBannerLines, lines.end());
  }
  std::vector<Line> Discovery() const {
    const auto good = scenario::GoodInstallLines(game.window, game.processId, game.ExePath(), game.exeName);
    return {good.begin() + scenario::kBannerLines, good.begin() + scenario::kBannerLines + 6};
  }
  // Names in the Managed folder.
  std::set<std::string> InManaged() const {
    std::set<std::string> names;
    for (const auto& [key, node] : machine->files.nodes)
      if (!node.directory && node.name.starts_with(Managed(game)))
        names.insert(node.name.substr(Managed(game).size()));
    return names;
  }

 private:
  PatchedGame(const PatchedGame& patched, int)
      : first(patched.first), label(patched.label), original(patched.original) {
    game = scenario::RestartOn(*machine, *first);
  }
};

std::vector<Line> Concat(std::vector<Line> a, const std::vector<Line>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The screen of a good restore after the discovery lines.
std::vector<Line> RestoredLines(const Game& game) {
  return {{"恢复原版Assembly-CSharp.dll\r\n", kStep},
          {"结束进程 " + std::to_string(game.processId) + "\r\n", kStep},
          {"执行过程[1]:真\r\n", kStep},
          {"重新运行 Thistlegarden.exe\r\n", kStep},
          {kClosingLine, kClosing}};
}

void ExpectOneQuestion(const sim::Machine& machine, const std::string& label) {
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  const auto& box = machine.dialogs.shown[0];
  EXPECT_EQ(box.text, Question(label));
  EXPECT_EQ(box.style, 0x21u);
  EXPECT_EQ(box.caption, "欧尼酱~这个事情很重要！");
  EXPECT_EQ(box.timeout, 1000000u);
  EXPECT_EQ(box.owner, 0u);
}

// ---------------------------------------------------------------- the record

TEST(KeptRecordTest, ReadsWhatItWritesAndPassesOverWhatIsNotAnEntry) {
  const KeptEntry a{"0.25c", Sha256("a"), "0.25c", Sha256("p")}, b{"0.25c-2", Sha256("b"), "0.25c", Sha256("p")};
  const Text text = FormatKeptRecord({a, b});
  EXPECT_EQ(text.substr(0, 6), "0.25c ");
  EXPECT_EQ(ParseKeptRecord(text), (std::vector<KeptEntry>{a, b}));
  // Torn or foreign lines count for nothing; the whole ones stay.
  EXPECT_EQ(ParseKeptRecord("garbage\r\n" + text + text.substr(0, 40)), (std::vector<KeptEntry>{a, b}));
  EXPECT_TRUE(ParseKeptRecord(std::string(text).replace(7, 1, "G")).size() == 1u);
  // The newest for a patch is the one it replaced.
  EXPECT_EQ(KeptForPatch({a, b}, "0.25c", Sha256("p")), b);
  EXPECT_EQ(KeptForPatch({a, b}, "0.25c", Sha256("q")), std::nullopt);
  EXPECT_EQ(KeptForPatch({a, b}, "0.25e", Sha256("p")), std::nullopt);
}

TEST(KeptRecordTest, AnEntryOfTheSameKeptNameIsReplacedAndTheNewestGoesLast) {
  sim::Machine machine;
  machine.files.AddDirectory("C:\\m");
  const KeptEntry a{"0.25c", Sha256("a"), "0.25c", Sha256("p")}, b{"0.25c-2", Sha256("b"), "0.25c", Sha256("p")};
  const KeptEntry a2{"0.25c", Sha256("a2"), "0.25c", Sha256("p")};
  for (const KeptEntry& entry : {a, b, a2}) EXPECT_TRUE(RecordKeptOriginal(machine, 936, "C:\\m\\r", "C:\\m\\r.new", entry));
  EXPECT_EQ(ReadKeptRecord(machine, "C:\\m\\r"), (std::vector<KeptEntry>{b, a2}));
  // The newest again writes nothing.
  const auto changes = machine.files.changes();
  EXPECT_TRUE(RecordKeptOriginal(machine, 936, "C:\\m\\r", "C:\\m\\r.new", a2));
  EXPECT_EQ(machine.files.changes(), changes);
  // A record that cannot be read is never written over.
  machine.files.Find("C:\\m\\r")->locked = true;
  EXPECT_EQ(ReadKeptRecord(machine, "C:\\m\\r"), std::nullopt);
  EXPECT_FALSE(RecordKeptOriginal(machine, 936, "C:\\m\\r", "C:\\m\\r.new", a));
  EXPECT_EQ(machine.files.Find("C:\\m\\r.new"), nullptr);
  EXPECT_EQ(ReadKeptRecord(machine, "C:\\m\\none"), std::vector<KeptEntry>{});
}

// ---------------------------------------------------------------- one answer puts the original back

class RestoreEachVersionTest : public ::testing::TestWithParam<scenario::Version> {};

TEST_P(RestoreEachVersionTest, OneQuestionAndTheOriginalIsBack) {
  PatchedGame patched(GetParam());
  const auto diskBefore = scenario::DiskWithoutRunLogs(*patched.machine);
  EXPECT_EQ(patched.Run(), 0);
  const sim::Machine& m = *patched.machine;
  const Game& game = patched.game;
  EXPECT_EQ(patched.AfterBanner(), Concat(patched.Discovery(), RestoredLines(game)));
  ExpectOneQuestion(m, GetParam().label);
  EXPECT_TRUE(patched.Assembly() == patched.original);
  // The kept original stays kept, with the record; nothing else beside it,
  // and nothing else anywhere changed.
  EXPECT_EQ(patched.InManaged(), (std::set<std::string>{"Assembly-CSharp.dll",
                                                        scenario::KeptOriginalName(GetParam().label), kRecordName}));
  EXPECT_TRUE(scenario::File(m, scenario::KeptOriginalPath(game.folder, GetParam().label))->data == patched.original);
  auto diskAfter = scenario::DiskWithoutRunLogs(m);
  diskAfter[game.AssemblyPath()] = diskBefore.at(game.AssemblyPath());
  EXPECT_TRUE(diskAfter == diskBefore);
  // The game ended first and started again, by the run; no file manager.
  EXPECT_FALSE(m.processes.Find(game.processId)->running);
  const auto started = scenario::Started(m);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0]->commandLine, "\"" + game.ExePath() + "\"");
  EXPECT_EQ(started[0]->currentDirectory, game.folder);
  EXPECT_TRUE(m.elevation.requests.empty());
  EXPECT_EQ(m.clock.slept, 16000u);
  EXPECT_EQ(m.OpenHandleCount(), 0u);

  // Patched again: the original is kept already, nothing new is kept.
  patched.Again();
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_TRUE(patched.Assembly() == Payload(GetParam().label));
  EXPECT_EQ(patched.machine->dialogs.shown[0].style, 0x21u);
  EXPECT_NE(patched.machine->dialogs.shown[0].text.find("是否确认为该版本"), std::string::npos);
  EXPECT_EQ(patched.InManaged(), (std::set<std::string>{"Assembly-CSharp.dll",
                                                        scenario::KeptOriginalName(GetParam().label), kRecordName}));
}

INSTANTIATE_TEST_SUITE_P(EachVersion, RestoreEachVersionTest, ::testing::ValuesIn(scenario::kVersions),
                         [](const ::testing::TestParamInfo<scenario::Version>& tested) {
                           std::string name = tested.param.label;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// Several originals of one version kept: the one the installed patch
// replaced goes back, never a guess among "-2", "-3".
TEST(RestoreTest, TheOriginalThePatchReplacedOfSeveralKept) {
  const long long size = scenario::kAssemblySize;
  const std::string earlier = OriginalOf(size, 'e');
  PatchedGame patched("0.25c", size, false, [&](sim::Machine& m, const Game& g) {
    m.files.AddFile(scenario::KeptOriginalPath(g.folder, "0.25c"), earlier);
  });
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_TRUE(patched.Assembly() == patched.original);
  EXPECT_TRUE(scenario::File(*patched.machine, scenario::KeptOriginalPath(patched.game.folder, "0.25c"))->data == earlier);

  // An update of the game since: a new original of the same version, patched
  // and put back; then the first again.
  for (const char fill : {'u', 'o'}) {
    SCOPED_TRACE(fill);
    patched.Again();
    patched.machine->files.Find(patched.game.AssemblyPath())->data = OriginalOf(size, fill);
    EXPECT_EQ(patched.Run(), 0);
    ASSERT_TRUE(patched.Assembly() == Payload("0.25c"));
    patched.Again();
    EXPECT_EQ(patched.Run(), 0);
    EXPECT_TRUE(patched.Assembly() == OriginalOf(size, fill));
  }
  EXPECT_EQ(patched.InManaged(),
            (std::set<std::string>{"Assembly-CSharp.dll", scenario::KeptOriginalName("0.25c"),
                                   scenario::KeptOriginalName("0.25c-2"), scenario::KeptOriginalName("0.25c-3"),
                                   kRecordName}));
}

// Anything but OK changes nothing: the run ends as a declined one does.
TEST(RestoreTest, DeclinedOrTimedOutChangesNothing) {
  for (const std::deque<int>& answers : {std::deque<int>{kIdCancel}, std::deque<int>{}}) {
    PatchedGame patched(scenario::kVersions[3]);
    const auto before = scenario::DiskWithoutRunLogs(*patched.machine);
    EXPECT_EQ(patched.Run(answers), 0);
    EXPECT_EQ(patched.AfterBanner(), patched.Discovery());
    ExpectOneQuestion(*patched.machine, "0.25c");
    EXPECT_TRUE(scenario::DiskWithoutRunLogs(*patched.machine) == before);
    EXPECT_NE(scenario::File(*patched.machine, scenario::kRunLogPath), nullptr);
    EXPECT_TRUE(patched.machine->processes.Find(patched.game.processId)->running);
    EXPECT_TRUE(scenario::Started(*patched.machine).empty());
  }
}

// No kept original of the installed patch to put back: no question, one
// line, nothing changed.
TEST(RestoreTest, NoKeptOriginalToPutBackIsSaidInOneLine) {
  struct Case {
    const char* what;
    std::function<void(PatchedGame&)> arrange;
    std::string line;
  };
  const std::string kept = scenario::KeptOriginalPath(scenario::kGameFolder, "0.25c");
  const Case cases[] = {
      {"deleted by the player", [&](PatchedGame& p) { p.machine->files.nodes.erase(sim::FileSystem::Key(kept)); },
       "保存的原版文件 " + kept + " 已不存在，游戏文件未作任何改动。\r\n"},
      {"changed since", [&](PatchedGame& p) { p.machine->files.Find(kept)->data[100] ^= 1; },
       "保存的原版文件 " + kept + " 已被改动，不予恢复，游戏文件未作任何改动。\r\n"},
      {"kept by an older build, without a record",
       [](PatchedGame& p) { p.machine->files.nodes.erase(sim::FileSystem::Key(Managed(p.game) + kRecordName)); },
       "没有找到 0.25c 补丁替换下来的原版文件，游戏文件未作任何改动。\r\n"},
      {"held by another program for good", [&](PatchedGame& p) { p.machine->files.Find(kept)->locked = true; },
       "无法读取保存的原版文件 " + kept + "，游戏文件未作任何改动。\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatchedGame patched(scenario::kVersions[3]);
    c.arrange(patched);
    const auto before = scenario::DiskWithoutRunLogs(*patched.machine);
    EXPECT_EQ(patched.Run(), 0);
    EXPECT_EQ(patched.AfterBanner(), Concat(patched.Discovery(), {{c.line, kNotice}}));
    EXPECT_TRUE(patched.machine->dialogs.shown.empty());
    EXPECT_TRUE(scenario::DiskWithoutRunLogs(*patched.machine) == before);
    EXPECT_TRUE(patched.machine->processes.Find(patched.game.processId)->running);
    EXPECT_TRUE(scenario::Started(*patched.machine).empty());
    EXPECT_NE(scenario::File(*patched.machine, scenario::kRunLogPath), nullptr);
  }
}

// A kept original a scanner holds for a moment is waited out, as for the
// patch.
TEST(RestoreTest, AKeptOriginalLockedForAMomentIsWaitedOut) {
  PatchedGame patched(scenario::kVersions[3]);
  patched.machine->files.Find(scenario::KeptOriginalPath(patched.game.folder, "0.25c"))->refusals = 4;
  patched.machine->files.Find(patched.game.AssemblyPath())->refusals = 2;
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_EQ(patched.AfterBanner(), Concat(patched.Discovery(), RestoredLines(patched.game)));
  EXPECT_TRUE(patched.Assembly() == patched.original);
  EXPECT_GT(patched.machine->clock.slept, 16000u);
}

// The kept original changed while the question was open: what the run
// checks again before it writes is what goes back, or nothing.
TEST(RestoreTest, AKeptOriginalChangedWhileAskedIsNotPutBack) {
  PatchedGame patched(scenario::kVersions[3]);
  sim::Machine& m = *patched.machine;
  const std::string kept = scenario::KeptOriginalPath(patched.game.folder, "0.25c");
  m.user.onShow = [&] { m.files.Find(kept)->data[7] ^= 1; };
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_TRUE(patched.Assembly() == Payload("0.25c"));
  const auto lines = patched.AfterBanner();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"保存的原版文件 " + kept + " 已被改动，不予恢复，游戏文件未作任何改动。\r\n", kNotice}),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[1]:假\r\n", kStep}), lines.end());
  // The two boxes of a failed patch; the game this run ended comes back.
  ASSERT_EQ(m.dialogs.shown.size(), 3u);
  EXPECT_EQ(m.dialogs.shown[1].text, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  EXPECT_TRUE(m.dialogs.shown[2].text.starts_with("程序执行过程中出现错误！"));
  EXPECT_TRUE(m.dialogs.shown[2].text.ends_with("执行过程:\r\n假\r\n假"));
  EXPECT_EQ(scenario::Started(m).size(), 1u);
  EXPECT_EQ(lines.back(), (Line{kClosingLine, kClosing}));
}

// A restore that fails (the assembly cannot be replaced): the failure boxes,
// the patch still whole, the game started again.
TEST(RestoreTest, AFailedRestoreShowsTheFailureBoxes) {
  PatchedGame patched(scenario::kVersions[3]);
  sim::Machine& m = *patched.machine;
  // Held for good once the question is answered.
  m.user.onShow = [&] { m.files.Find(patched.game.AssemblyPath())->locked = true; };
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_TRUE(patched.Assembly() == Payload("0.25c"));
  const auto& game = patched.game;
  EXPECT_EQ(patched.AfterBanner(),
            Concat(patched.Discovery(), {{"恢复原版Assembly-CSharp.dll\r\n", kStep},
                                         {"结束进程 " + std::to_string(game.processId) + "\r\n", kStep},
                                         {"执行过程[1]:假\r\n", kStep},
                                         {"重新运行 Thistlegarden.exe\r\n", kStep},
                                         {scenario::kRunLogLine, kNotice},
                                         {kClosingLine, kClosing}}));
  ASSERT_EQ(m.dialogs.shown.size(), 3u);
  EXPECT_EQ(m.dialogs.shown[1].style, 0x10u);
  EXPECT_TRUE(m.dialogs.shown[2].text.ends_with("执行过程:\r\n假\r\n假"));
  EXPECT_EQ(patched.InManaged(),
            (std::set<std::string>{"Assembly-CSharp.dll", scenario::KeptOriginalName("0.25c"), kRecordName}));
}

// Today's run for every other game: an assembly of a payload's size with
// other bytes, or one that cannot be read, gets the size's question.
TEST(RestoreTest, AnAssemblyThatIsNotOursKeepsTodaysRun) {
  for (const bool unreadable : {false, true}) {
    SCOPED_TRACE(unreadable);
    sim::Machine machine;
    // 0.25b's payload size maps to no version: the question to pick by hand.
    const Game game = scenario::InstallGame(machine, scenario::kVersions[2].payloadBytes);
    if (unreadable) machine.files.Find(game.AssemblyPath())->data = Payload("0.25b");
    if (unreadable) machine.files.Find(game.AssemblyPath())->locked = true;
    machine.user.answers = {kIdCancel};
    EXPECT_EQ(ProgramEntry(machine), 0);
    ASSERT_EQ(machine.dialogs.shown.size(), 1u);
    EXPECT_EQ(machine.dialogs.shown[0].text, "未能成功检测到你的游戏版本，是否手动选择？否则退出。");
    EXPECT_TRUE(machine.processes.Find(game.processId)->running);
  }
  // One of another size is not even read.
  sim::Machine machine;
  scenario::InstallGame(machine, scenario::kAssemblySize);
  machine.user.answers = {kIdCancel, kIdCancel};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_EQ(scenario::CallCount(machine, "ReadFile"), 0);
}

// The run's record says which patch was found, where the original was kept
// and what was put back; the patch's record where it kept the original.
TEST(RestoreTest, TheRunsRecordNamesTheKeptOriginal) {
  PatchedGame patched(scenario::kVersions[3]);
  const std::string kept = scenario::KeptOriginalPath(patched.game.folder, "0.25c");
  const std::string digest = DigestHex(Sha256(patched.original));
  const auto text = [](const sim::Machine& m) { return sim::Recode("GB18030", "UTF-8", scenario::File(m, scenario::kRunLogPath)->data.substr(3)); };
  EXPECT_NE(text(*patched.first).find("原版已保存为：" + kept + "（SHA-256 " + digest + "）\r\n"), std::string::npos);
  EXPECT_EQ(patched.Run(), 0);
  const std::string record = text(*patched.machine);
  for (const std::string& line : {std::string("已安装的补丁：0.25c"), "保存的原版：" + kept + "（SHA-256 " + digest + "）",
                                  "询问：" + Question("0.25c") + "：确定",
                                  "已恢复原版：" + kept + "（SHA-256 " + digest + "）",
                                  std::string("执行过程[1] 恢复原版Assembly-CSharp.dll：真")})
    EXPECT_NE(record.find(line + "\r\n"), std::string::npos) << line;
}

// ---------------------------------------------------------------- the folder needs rights

TEST(RestoreTest, AnAdminOnlyFolderThroughTheElevatedPart) {
  PatchedGame patched(scenario::kVersions[3], true);
  sim::Machine& m = *patched.machine;
  EXPECT_EQ(patched.Run(), 0);
  const Game& game = patched.game;
  EXPECT_EQ(patched.AfterBanner(),
            Concat(patched.Discovery(),
                   {{"恢复原版Assembly-CSharp.dll\r\n", kStep},
                    {"结束进程 " + std::to_string(game.processId) + "\r\n", kStep},
                    {"游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；"
                     "选择“否”不会改动任何文件。\r\n",
                     kNotice},
                    {"执行过程[1]:真\r\n", kStep},
                    {"重新运行 Thistlegarden.exe\r\n", kStep},
                    {kClosingLine, kClosing}}));
  EXPECT_TRUE(patched.Assembly() == patched.original);
  ASSERT_EQ(m.elevation.requests.size(), 1u);
  const std::u16string& parameters = m.elevation.requests[0].parameters;
  EXPECT_TRUE(parameters.starts_with(u"--elevated-part "));
  EXPECT_TRUE(parameters.ends_with(u" restore 0.25c 3240448"));
  EXPECT_EQ(parameters.find(u"\\"), std::u16string::npos) << "never a path";
  // The game comes back with its own rights, started by the run.
  const auto started = scenario::Started(m);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_TRUE(started[0]->elevated);
  EXPECT_FALSE(started[1]->elevated);
  EXPECT_EQ(started[1]->commandLine, "\"" + game.ExePath() + "\"");
  EXPECT_EQ(m.OpenHandleCount(), 0u);
  EXPECT_EQ(patched.InManaged(),
            (std::set<std::string>{"Assembly-CSharp.dll", scenario::KeptOriginalName("0.25c"), kRecordName}));
}

TEST(RestoreTest, ADeclinedElevationChangesNothingAndSaysSo) {
  PatchedGame patched(scenario::kVersions[3], true);
  patched.machine->elevation.consent = sim::Elevation::Consent::kDeclined;
  EXPECT_EQ(patched.Run(), 0);
  EXPECT_TRUE(patched.Assembly() == Payload("0.25c"));
  const auto lines = patched.AfterBanner();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"没有获得管理员权限，游戏文件未作任何改动。请右键点击本程序，选择“以管理员身份运行”后再试。\r\n",
                           kNotice}),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[1]:假\r\n", kStep}), lines.end());
  EXPECT_EQ(patched.machine->dialogs.shown.size(), 3u);
  EXPECT_EQ(scenario::Started(*patched.machine).size(), 1u);
}

// The elevated part's restore checks for itself what it puts back and what
// it goes over; the command line names no file.
TEST(RestoreTest, TheElevatedPartChecksWhatItPutsBack) {
  struct Case {
    const char* what;
    std::function<void(PatchedGame&)> arrange;
    std::u16string label;
    win::DWORD expected;
  };
  const Case cases[] = {
      {"as asked", nullptr, u"0.25c", kElevatedReplaced},
      {"another patch than installed", nullptr, u"0.25e", kElevatedNoOriginal},
      {"a label not in the table", nullptr, u"0.26", kElevatedRefused},
      {"the kept original changed",
       [](PatchedGame& p) { p.machine->files.Find(scenario::KeptOriginalPath(p.game.folder, "0.25c"))->data[9] ^= 1; },
       u"0.25c", kElevatedNoOriginal},
      {"no record", [](PatchedGame& p) { p.machine->files.nodes.erase(sim::FileSystem::Key(Managed(p.game) + kRecordName)); },
       u"0.25c", kElevatedNoOriginal},
      {"the game ended and let go",
       [](PatchedGame& p) { p.machine->processes.Find(p.game.processId)->running = false; }, u"0.25c",
       kElevatedGameGone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatchedGame patched(scenario::kVersions[3], true);
    sim::Machine& m = *patched.machine;
    if (c.arrange) c.arrange(patched);
    m.self.elevated = true;
    const win::DWORD asker = m.processes.Add("ThistlegardenPatch.exe", m.processes.selfImagePath);
    m.processes.Find(asker)->startTime = m.self.startTime - 50000000;
    m.self.parentId = asker;
    const auto n = [](unsigned long long v) {
      const std::string t = std::to_string(v);
      return std::u16string(t.begin(), t.end());
    };
    m.self.arguments = std::u16string(kElevatedPartSwitch) + u" " + n(asker) + u" " +
                       n(m.processes.Find(asker)->startTime) + u" " + n(patched.game.processId) + u" " +
                       n(m.processes.Find(patched.game.processId)->startTime) + u" restore " + c.label + u" 3240448";
    EXPECT_EQ(ProgramEntry(m), static_cast<int>(c.expected));
    EXPECT_TRUE(m.console.written.empty());
    EXPECT_TRUE(m.dialogs.shown.empty());
    EXPECT_TRUE(patched.Assembly() == (c.expected == kElevatedReplaced ? patched.original : Payload("0.25c")));
    EXPECT_TRUE(scenario::OriginalSomewhere(m, patched.game.AssemblyPath(), patched.original) ||
                c.expected == kElevatedNoOriginal);
    EXPECT_EQ(m.OpenHandleCount(), 0u);
  }
}

// ---------------------------------------------------------------- faults and crashes through the restore

// The invariant of every run on a patched game: the assembly is the whole
// patch or the whole original, the kept original is never lost nor
// overwritten, and the step line says what happened.
void CheckRestoreRun(const PatchedGame& patched, long lostAt, const std::string& what, bool restoring = true) {
  SCOPED_TRACE(what);
  const sim::Machine& m = *patched.machine;
  const auto* assembly = scenario::File(m, patched.game.AssemblyPath());
  ASSERT_NE(assembly, nullptr) << "no assembly";
  const bool restored = assembly->data == patched.original;
  EXPECT_TRUE(restored || assembly->data == Payload(patched.label)) << assembly->data.size() << " bytes";
  const auto* kept = scenario::File(m, scenario::KeptOriginalPath(patched.game.folder, patched.label));
  ASSERT_NE(kept, nullptr) << "the kept original is gone";
  EXPECT_TRUE(kept->data == patched.original) << "the kept original changed";
  EXPECT_EQ(lostAt, 0) << "the original existed nowhere before call " << lostAt;
  // A patch that could not be read is taken for none of ours: that run
  // goes the patch's way, and its step lines are the patch's.
  bool said = false, saidRestored = false, restoreRun = false;
  for (const Line& line : scenario::Lines(m.console)) {
    if (line.text == "恢复原版Assembly-CSharp.dll\r\n") restoreRun = true;
    if (line.text.starts_with("执行过程[1]:")) {
      said = true;
      saidRestored = line.text == "执行过程[1]:真\r\n";
    }
  }
  if (said && restoring && restoreRun) {
    EXPECT_EQ(saidRestored, restored) << "the step line says otherwise";
  }
}

// A writable folder, and one only administrators may change (the elevated
// part restores): each a case of its own, so that CTest runs them side by side.
class RestoreFaultLoopTest : public ::testing::TestWithParam<bool> {};
class RestoreCrashSweepTest : public ::testing::TestWithParam<bool> {};
std::string FolderName(const ::testing::TestParamInfo<bool>& folder) {
  return folder.param ? "AdminOnlyFolder" : "WritableFolder";
}

TEST_P(RestoreFaultLoopTest, EachCallFailingOnce) {
  const bool adminOnly = GetParam();
  SCOPED_TRACE(adminOnly ? "admin-only folder" : "writable folder");
  const PatchedGame installed(scenario::kVersions[3], adminOnly);
  long failable = 0;
  {
    PatchedGame clean = PatchedGame::OnTheDiskOf(installed);
    EXPECT_EQ(clean.Run(), 0);
    EXPECT_TRUE(clean.Assembly() == clean.original);
    failable = clean.machine->faults.failableCalls;
  }
  ASSERT_GT(failable, 20);
  std::set<std::string> failed;
  for (long n = 1; n <= failable; ++n) {
    PatchedGame patched = PatchedGame::OnTheDiskOf(installed);
    long lostAt = 0;
    scenario::WatchOriginal(*patched.machine, patched.game.AssemblyPath(), patched.original, &lostAt);
    patched.machine->faults.FailAtCall(n);
    patched.Run();
    const std::string call = patched.machine->faults.failed.empty() ? "" : patched.machine->faults.failed[0];
    failed.insert(call);
    CheckRestoreRun(patched, lostAt, "call " + std::to_string(n) + ": " + call);
    if (::testing::Test::HasFailure()) return;
  }
  for (const char* call : {"ReadFile", "CreateFileA", "MoveFileExW", "FlushFileBuffers", "TerminateProcess",
                           "CreateProcessA", "MessageBoxTimeoutA"})
    EXPECT_TRUE(failed.count(call)) << call;
}

// The restore cut off at each call that follows a change to the disk,
// under each way the machine may go down; then the player runs the
// installer again and answers OK: a game still patched is restored, one
// restored already is patched, and the original is never lost.
TEST_P(RestoreCrashSweepTest, EveryCrashLeavesAWholeAssemblyAndTheKeptOriginal) {
  struct Loss {
    const char* name;
    sim::FileSystem::Loss data;
    bool uncommitted;
  };
  const Loss losses[] = {{"process killed", sim::FileSystem::Loss::kNothing, false},
                         {"power cut, data cut off, changes undone", sim::FileSystem::Loss::kTruncate, true},
                         {"power cut, data zeroed", sim::FileSystem::Loss::kZero, false}};
  const bool adminOnly = GetParam();
  const PatchedGame installed(scenario::kVersions[3], adminOnly);
  std::vector<long> stamps;
  {
    PatchedGame clean = PatchedGame::OnTheDiskOf(installed);
    clean.Run();
    stamps = clean.machine->faults.stamps;
  }
  int checked = 0;
  for (std::size_t n = 1; n <= stamps.size(); ++n) {
    if (n > 1 && stamps[n - 1] == stamps[n - 2]) continue;
    for (const Loss& loss : losses) {
      const std::string what = std::string(adminOnly ? "admin-only, " : "") + "crash at call " +
                               std::to_string(n) + ", " + loss.name;
      PatchedGame patched = PatchedGame::OnTheDiskOf(installed);
      sim::Machine& m = *patched.machine;
      m.files.unflushedLoss = loss.data;
      m.files.uncommittedLost = loss.uncommitted;
      m.faults.CrashAtCall(static_cast<long>(n));
      long lostAt = 0;
      scenario::WatchOriginal(m, patched.game.AssemblyPath(), patched.original, &lostAt);
      patched.Run();
      EXPECT_TRUE(m.faults.crashed) << what;
      CheckRestoreRun(patched, lostAt, what);

      const bool wasPatched = patched.Assembly() == Payload("0.25c");
      patched.Again();
      long lostAgainAt = 0;
      scenario::WatchOriginal(*patched.machine, patched.game.AssemblyPath(), patched.original, &lostAgainAt);
      EXPECT_EQ(patched.Run(), 0);
      CheckRestoreRun(patched, lostAgainAt, what + ", the next run", wasPatched);
      EXPECT_TRUE(patched.Assembly() == (wasPatched ? patched.original : Payload("0.25c"))) << what;
      EXPECT_EQ(patched.InManaged(), (std::set<std::string>{"Assembly-CSharp.dll",
                                                            scenario::KeptOriginalName("0.25c"), kRecordName}))
          << what;
      ++checked;
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GE(checked, 3 * 8);
}

INSTANTIATE_TEST_SUITE_P(Restore, RestoreFaultLoopTest, ::testing::Bool(), FolderName);
INSTANTIATE_TEST_SUITE_P(Restore, RestoreCrashSweepTest, ::testing::Bool(), FolderName);

}  // namespace

namespace {

// The assembly changed while the question was open (the player updated the
// game): nothing is put over it.
TEST(RestoreTest, AnAssemblyChangedWhileAskedIsLeftAlone) {
  PatchedGame patched(scenario::kVersions[3]);
  sim::Machine& m = *patched.machine;
  m.user.onShow = [&] { m.files.Find(patched.game.AssemblyPath())->data[50] ^= 1; };
  EXPECT_EQ(patched.Run(), 0);
  std::string changed = Payload("0.25c");
  changed[50] ^= 1;
  EXPECT_TRUE(patched.Assembly() == changed);
  const auto lines = patched.AfterBanner();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      Line{"Assembly-CSharp.dll已不是刚才识别的补丁，游戏文件未作任何改动。\r\n", kNotice}),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), Line{"执行过程[1]:假\r\n", kStep}), lines.end());
}

}  // namespace
