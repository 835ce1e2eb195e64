#include "app/installer.h"

#include <string>
#include <utility>
#include <vector>

#include "app/elevation.h"
#include "app/own_patch.h"
#include "app/run_log.h"
#include "app/version_questions.h"

#include "discovery/displayed_name.h"
#include "discovery/game_lookup.h"
#include "discovery/image_path.h"
#include "fsproc/assembly_replacement.h"
#include "fsproc/file_ops.h"
#include "fsproc/kept_record.h"
#include "fsproc/process_ops.h"
#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/version_id.h"
#include "install/versions.h"
#include "runtime/handles.h"
#include "runtime/system.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"
#include "ui/message_box.h"
#include "ui/version_window.h"

namespace {

// The authors' profile pages.
constexpr const char* kAuthorPages[] = {
    "https://space.example.com/orrinvale",
    "https://space.example.com/tamsk_olu",
    "https://forum.example.org/u/thistlegarden-patch",
};

constexpr std::int32_t kBoxTimeout = 1000000;
constexpr win::UINT kErrorBox = 0x10;
constexpr const char kErrorTitle[] = "欧尼酱~出错啦~";
// The installer's own folder under the temporary-files folder.
constexpr std::string_view kOwnFolderPart = "Thistlegarden补丁程序";

void PrintBanner(ConsoleWriter& console) {
  console.write(kBrightRed, kBrightWhite, "免责声明：本程序仅供参考，技术分享。请勿用于非法用途！\r\n");
  console.write(kBrightRed, kBrightWhite,
                "此版本为离线版！无法收到补丁更新！不建议使用，建议换成常规版本。\r\n");
  for (const char* page : kAuthorPages)
    console.write(kBrightYellow, kBrightBlue, ConcatTexts(page, "\r\n"));
}

Text VariableLines(const GameTarget& game) {
  return ConcatTexts("\r\n\r\n--------------------变量信息--------------------\r\n进程ID：",
                     ValueToText(static_cast<std::int32_t>(game.processId)), "\r\n窗口句柄：",
                     ValueToText(static_cast<std::int32_t>(game.windowHandle)), "\r\n程序路径：",
                     game.folder, "\r\n程序命名：", game.displayedName);
}

Text NotFoundReport(const GameTarget& game) {
  return ConcatTexts("未能成功寻找到游戏！\r\n请确保游戏已经在运行！", VariableLines(game));
}

Text RunFailureReport(const GameTarget& game, bool patched, bool copied) {
  return ConcatTexts("程序执行过程中出现错误！\r\n请尝试关闭杀毒软件后在运行本程序。",
                     VariableLines(game), "\r\n\r\n执行过程:\r\n", TruthToText(patched), "\r\n",
                     TruthToText(copied));
}

std::int32_t ShowError(ProgramState& state, const Text& text) {
  return TimedMessageBox(state.api, state.textCodePage, text, kErrorBox, Text(kErrorTitle),
                         std::nullopt, kBoxTimeout);
}


Text Quoted(const Text& path) { return ConcatTexts("\"", path, "\""); }

// The process the game's path was read from, and no other.
struct SameImage {
  win::Api& api;
  const Text& path;
  std::int32_t codePage;
};

bool IsSameImage(void* context, win::HANDLE process) {
  const auto& same = *static_cast<const SameImage*>(context);
  return !same.path.empty() && GetOpenProcessImagePath(same.api, process, same.codePage) == same.path;
}

// The game could not be ended: it may still run the old code.
constexpr const char kNotEndedText[] = "：未能结束游戏，它可能仍在运行补丁前的版本，请关闭游戏后自行启动\r\n";

constexpr const char kNoPathText[] =
    "无法读取游戏所在的路径（权限不足，或文件夹名中有无法识别的字符）。"
    "请以管理员身份运行本程序，或把游戏移到普通名字的文件夹后再试。\r\n";

// What one run finds and does, step by step.
struct Run;
Text PickByHand(void* context);

struct Run {
  explicit Run(ProgramState& programState) : state(programState) {}
  ProgramState& state;
  win::Api& api = state.api;
  ConsoleWriter& console = state.console;
  GameTarget& game = state.game;
  // The game's image path, to make sure the process is still the game when
  // it is ended.
  Text imagePath;
  Text assemblyPath;
  bool patched = false;  // step 1: the patched assembly (or the original) is in place
  bool copied = false;   // step 2: its copy beside the comparison images
  win::DWORD patchError = 0, copyError = 0;
  EndOutcome gameEnd = EndOutcome::kEnded;
  // Whether this run ended the game, and so starts it again.
  bool endedGame = false;
  // The game's process, held while its original goes back: an elevated part
  // still finds the game this run ended.
  UniqueHandle heldGame{api, 0};
  RunLog log{api};
};

// What the run can see of the files an elevated part may touch: the
// assembly, what it writes beside it, and the kept originals of the version.
struct ManagedFiles {
  std::vector<std::pair<Text, FileLookup>> entries;
};
// The entries from this one on are the kept originals.
constexpr std::size_t kFirstKept = 5;

ManagedFiles LookAtManaged(Run& run, const Text& label) {
  const Text& folder = run.game.folder;
  std::vector<Text> paths = {run.assemblyPath, ConcatTexts(run.assemblyPath, kNewFileSuffix),
                             ConcatTexts(run.assemblyPath, kAsideSuffix),
                             JoinPath(folder, kKeptOriginalDraftPart),
                             ConcatTexts(JoinPath(folder, kKeptRecordPart), kNewFileSuffix)};
  for (int n = 1; n <= 9; ++n)
    paths.push_back(ConcatTexts(JoinPath(folder, kKeptOriginalPart), label,
                                n > 1 ? ConcatTexts("-", ValueToText(n)) : Text(), kKeptOriginalEnd));
  ManagedFiles files;
  for (Text& path : paths) files.entries.emplace_back(path, LookUpFile(run.api, path));
  return files;
}

// What is on disk after an elevated part that did not replace the assembly,
// compared with before it ran: nothing changed, an original kept (where),
// something else left, or not known (a look-up failed).
Text WhatIsOnDisk(Run& run, const ManagedFiles& before, const Text& label) {
  const ManagedFiles after = LookAtManaged(run, label);
  Text kept;
  bool other = false, unknown = false;
  for (std::size_t i = 0; i < after.entries.size(); ++i) {
    const auto& [path, now] = after.entries[i];
    const FileLookup& was = before.entries[i].second;
    if (now.state == FileLookup::kFailed || was.state == FileLookup::kFailed) {
      unknown = true;
    } else if (now != was) {
      if (i >= kFirstKept && now.found() && was.missing())
        kept = path;
      else
        other = true;
    }
  }
  if (!kept.empty())
    return ConcatTexts("。游戏文件未被替换，原版已另存为 ", ShownText(run.api, kept),
                       other ? "，另有未完成的临时文件留在游戏文件夹中（下次运行时清除）。" : "。");
  if (other) return "。游戏文件未被替换，游戏文件夹中留下了未完成的临时文件（下次运行时清除）。";
  if (unknown) return "。游戏文件未被替换。";
  return "，游戏文件未作任何改动。";
}

// Why the elevated part did not replace the assembly, and what the player
// can do; never its own codes as numbers.
std::pair<Text, Text> WhyNotReplaced(const ElevationResult& asked) {
  const Text code = ValueToText(static_cast<std::int32_t>(asked.code));
  constexpr const char* kAsAdministrator = "请右键点击本程序，选择“以管理员身份运行”后再试。";
  constexpr const char* kBlocked = "可能是文件夹的权限设置或安全软件阻止了修改。";
  switch (asked.outcome) {
    case ElevationResult::kDeclined: return {"没有获得管理员权限", kAsAdministrator};
    case ElevationResult::kNotStarted:
      return {ConcatTexts("无法以管理员身份启动本程序（错误代码", code, "）"), kAsAdministrator};
    case ElevationResult::kUnknown: return {"无法得知以管理员权限修改的结果", kBlocked};
    default: break;
  }
  switch (asked.code) {
    case kElevatedRefused: return {"以管理员权限运行的部分未能确认这是本次运行的请求", "请重新运行本程序。"};
    case kElevatedGameGone: return {"游戏已经关闭或重新启动", "请在游戏运行时再运行本程序。"};
    case kElevatedNotLocal:
      return {"游戏不在本机的硬盘上（网络驱动器或映射、subst的驱动器号在管理员权限下看不到）",
              "请把游戏移到本机硬盘的文件夹中后再试。"};
    case kElevatedLinked:
      return {"游戏所在的路径中有联接点或符号链接，为安全起见不予修改", "请把游戏移到普通文件夹中后再试。"};
    case kElevatedDamaged: return {"补丁程序已损坏（内置的补丁文件校验不符）", "请重新下载本程序。"};
    case kElevatedChanged: return {"Assembly-CSharp.dll已不是刚才识别的文件", "请重新运行本程序。"};
    case kElevatedMayChange:
      return {"游戏的文件夹不用管理员权限也能修改，为安全起见，以管理员权限运行的部分不予修改",
              "修改被拒绝可能是安全软件所致，请检查安全软件的设置后再试。"};
    case kElevatedFailed: return {"以管理员权限修改游戏文件也未成功", kBlocked};
    case kElevatedNoOriginal: return {"保存的原版文件已不存在或已被改动，不予恢复", ""};
    default: break;
  }
  return {ConcatTexts("以管理员权限修改游戏文件也未成功（错误代码", code, "）"), kBlocked};
}

void SayStillWaiting(void* context) {
  static_cast<Run*>(context)->console.write(
      kBrightYellow, kBlack, "以管理员权限运行的部分仍在修改游戏文件，请等待它完成……\r\n");
}

// The game's folder refused the patch: asked once for an administrator's
// rights, the elevated part does the replacement. The player is told why
// Windows asks, and afterwards exactly what is on disk.
ReplaceResult ReplaceWithRights(Run& run, const VersionChoice& choice) {
  ConsoleWriter& console = run.console;
  console.write(kBrightYellow, kBlack,
                "游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；"
                "选择“否”不会改动任何文件。\r\n");
  const ManagedFiles before = LookAtManaged(run, choice.label);
  const ElevationResult asked = ReplaceAsAdministrator(run.api, run.game.processId, choice.label,
                                                       choice.assembly.size, SayStillWaiting, &run);
  const bool ran = asked.outcome == ElevationResult::kFailed || asked.outcome == ElevationResult::kUnknown;
  // What the part did is read back where it did not say it replaced.
  if (asked.outcome == ElevationResult::kReplaced ||
      (ran && FileIsPayload(run.api, run.assemblyPath, choice.label))) {
    run.log.Add("管理员权限", "已请求，已完成");
    return {ReplaceResult::kReplaced};
  }
  const auto [why, advice] = WhyNotReplaced(asked);
  const Text onDisk = ran ? WhatIsOnDisk(run, before, choice.label) : Text("，游戏文件未作任何改动。");
  run.log.Add("管理员权限", ConcatTexts("已请求，", why, onDisk));
  console.write(kBrightYellow, kBlack, ConcatTexts(why, onDisk, advice, "\r\n"));
  const bool ownCode = asked.code >= kElevatedReplaced;
  return {ReplaceResult::kFailed, ownCode || asked.outcome == ElevationResult::kUnknown ? 0 : asked.code};
}

// A folder that refuses a run that has an administrator's rights already:
// asking again would bring nothing.
ReplaceResult RefusedToAdministrator(Run& run, win::DWORD error) {
  const Text line = ConcatTexts("游戏所在的文件夹拒绝修改（错误代码", ValueToText(static_cast<std::int32_t>(error)),
                                "），本程序已有管理员权限也无法修改，可能是文件夹的权限设置或安全软件阻止了修改。"
                                "游戏文件未作任何改动。\r\n");
  run.log.Add("管理员权限", "本程序已有管理员权限，文件夹仍拒绝修改");
  run.console.write(kBrightYellow, kBlack, line);
  return {ReplaceResult::kFailed, error};
}


Text PickByHand(void* context) {
  auto& run = *static_cast<Run*>(context);
  ShowVersionSelectWindow(run.state);
  return run.state.chosenVersion;
}

// The game's window, process, folder and name.
void FindTheGame(Run& run) {
  GameTarget& game = run.game;
  // Any program may have a window of that title: the game's is the one its
  // own process owns.
  const FoundGame found = FindGame(run.api, Text("Thistlegarden"), "Thistlegarden.exe");
  game.windowHandle = found.window;
  game.processId = found.processId;
  run.imagePath = GetProcessImagePath(run.api, game.processId, kPathCodePage);
  game.folder = PathFolderPart(run.imagePath);
  // The path is read again for the name; should that read or the title fail
  // where the first read worked, the first path still names the game, which
  // is started again by this name.
  Text namePath = GetProcessImagePath(run.api, game.processId, kPathCodePage);
  if (namePath.empty()) namePath = run.imagePath;
  game.displayedName = GetDisplayedProgramName(run.api, namePath, kPathCodePage);
  if (game.displayedName.empty()) game.displayedName = namePath.substr(PathFolderPart(namePath).size());
  run.assemblyPath = GameAssemblyPath(game.folder);
  run.log.Add("游戏进程ID", ValueToText(static_cast<std::int32_t>(game.processId)));
  run.log.Add("窗口句柄", ValueToText(static_cast<std::int32_t>(game.windowHandle)));
  run.log.Add("游戏路径", ConcatTexts(game.folder, game.displayedName));
}

// What the version was identified by.
void LogAssembly(Run& run, const FileLookup& found) {
  const Text bySize = found.found() ? VersionForSizeCode(AssemblySizeCode(found.size)) : Text();
  run.log.Add("Assembly-CSharp.dll",
              found.found() ? ConcatTexts(std::to_string(found.size), " 字节",
                                          bySize.empty() ? Text() : ConcatTexts("（", bySize, "）"))
              : found.missing() ? Text("不存在")
                                : Text("无法读取"));
}
void PrintWhatWasFound(Run& run) {
  const GameTarget& game = run.game;
  run.console.write(kDarkCyan, kBlack, "窗口句柄ID ");
  run.console.write(kLightGrey, kBlack,
                    ConcatTexts(ValueToText(static_cast<std::int32_t>(game.windowHandle)), "\r\n"));
  run.console.write(kDarkCyan, kBlack, "游戏进程ID ");
  run.console.write(kLightGrey, kBlack,
                    ConcatTexts(ValueToText(static_cast<std::int32_t>(game.processId)), "\r\n"));
  run.console.write(kDarkCyan, kBlack, "游戏路径 ");
  run.console.write(kLightGrey, kBlack,
                    ConcatTexts(ShownText(run.api, ConcatTexts(game.folder, game.displayedName)), "\r\n"));
}

// Step 1, once the player agreed: what an interrupted run left is cleared,
// then the assembly is replaced, by an elevated copy where the folder needs it.
void Patch(Run& run, const VersionChoice& choice) {
  if (!FindPayload(choice.label)) return;
  // A damaged download or disk never reaches the game.
  const Bytes payload = DecodedPayload(choice.label);
  if (payload.empty()) {
    run.log.Add("补丁文件校验", "不符：本程序已损坏");
    run.console.write(kBrightYellow, kBlack,
                      "补丁程序已损坏（内置的补丁文件校验不符），游戏文件未作任何改动。请重新下载本程序。\r\n");
    return;
  }
  const PatchedAssemblies patches = GamePatches();
  // An original set aside that the folder will not let go back is part of
  // the file work that needs rights.
  const win::DWORD leftover = RemoveLeftovers(run.api, kPathCodePage, patches, run.game.folder, run.assemblyPath);
  ReplaceResult result = leftover == win::ERROR_ACCESS_DENIED
                             ? ReplaceResult{ReplaceResult::kNeedsRights, leftover}
                             : WritePatchedAssembly(run.api, kPathCodePage, patches, run.game.folder,
                                                    run.assemblyPath, choice.label, choice.assembly,
                                                    payload);
  if (result.outcome == ReplaceResult::kNeedsRights)
    result = RunsElevated(run.api) ? RefusedToAdministrator(run, result.error) : ReplaceWithRights(run, choice);
  run.patched = static_cast<bool>(result);
  run.patchError = result.error;
}

void EndTheGame(Run& run) {
  // The game may have closed meanwhile and its ID gone to another program:
  // it is checked and ended through the same handle.
  SameImage same{run.api, run.imagePath, kPathCodePage};
  EndProcessById(run.api, run.game.processId, IsSameImage, &same, kEndProcessWait, &run.gameEnd);
  run.endedGame = true;
}

// Step 2: the game ended, and a copy of the patched assembly kept beside
// the comparison images.
void EndTheGameAndCopy(Run& run) {
  run.console.write(kBrightGreen, kBlack, "替换Assembly-CSharp.dll\r\n");
  run.console.write(kBrightGreen, kBlack,
                    ConcatTexts("结束进程 ", ValueToText(static_cast<std::int32_t>(run.game.processId)),
                                "\r\n"));
  EndTheGame(run);
  Delay(run.api, 1000);
  const Text temp = SpecialFolderPath(run.api, kTemporaryFilesFolder);
  MakeDirectoryTree(run.api, JoinPath(temp, kOwnFolderPart), kPathCodePage);
  run.copied = CopyFileTo(run.api, run.assemblyPath, BackupPath(temp), false);
  if (!run.copied) run.copyError = run.api.GetLastError();
}

// The step lines, and the failure report where one failed.
void PrintStepLines(Run& run) {
  for (const auto& [n, done] : {std::pair{1, run.patched}, std::pair{2, run.copied}})
    run.console.write(kBrightGreen, kBlack,
                      ConcatTexts("执行过程[", ValueToText(n), "]:", TruthToText(done), "\r\n"));
  run.log.AddStep("执行过程[1] 替换Assembly-CSharp.dll", run.patched, run.patchError);
  run.log.AddStep("执行过程[2] 复制到临时文件夹", run.copied, run.copyError);
  if (!run.patched || !run.copied)
    ShowError(run.state, RunFailureReport(run.game, run.patched, run.copied));
}

// The game is started again when it is not running: when this run ended
// it, or it went by itself. Otherwise, or when it cannot be started, the
// player is told: a second copy must not start beside the first, and a
// game that was never ended still runs the old code.
void RestartTheGame(Run& run) {
  const Text name = ShownText(run.api, run.game.displayedName);
  if (!run.endedGame) return;
  static constexpr const char* kEnds[] = {"已结束", "未见关闭", "未能结束", "已自行关闭"};
  run.log.Add("结束游戏", kEnds[static_cast<int>(run.gameEnd)]);
  if (run.gameEnd == EndOutcome::kStillThere) {
    run.console.write(kBrightGreen, kBlack,
                      ConcatTexts("未重新运行 ", name, "：游戏尚未关闭，请在它关闭后自行启动\r\n"));
    return;
  }
  if (run.gameEnd == EndOutcome::kRefused) {
    run.console.write(kBrightGreen, kBlack,
                      ConcatTexts("未重新运行 ", name, kNotEndedText));
    return;
  }
  // A game started by this run has its rights: never more than the
  // player's desktop gives it (an administrator's account, another profile).
  if (RunsElevated(run.api) && DesktopShellRights(run.api) == ShellRights::kNotElevated) {
    run.log.Add("重新运行游戏", "否：本程序以管理员权限运行");
    run.console.write(kBrightGreen, kBlack,
                      ConcatTexts("未重新运行 ", name,
                                  "：本程序以管理员身份运行，为免游戏也以管理员身份运行，请自行启动游戏\r\n"));
    return;
  }
  // By its full path, quoted so that a folder with blanks works, in its own
  // folder as a launcher would start it.
  if (RunCommandLine(run.api, Quoted(ConcatTexts(run.game.folder, run.game.displayedName)), false,
                     std::nullopt, run.game.folder)) {
    run.console.write(kBrightGreen, kBlack, ConcatTexts("重新运行 ", name, "\r\n"));
    run.log.Add("重新运行游戏", "是");
    return;
  }
  const win::DWORD startError = run.api.GetLastError();
  run.log.AddStep("重新运行游戏", false, startError);
  const Text error = ValueToText(static_cast<std::int32_t>(startError));
  run.console.write(kBrightGreen, kBlack,
                    ConcatTexts("未重新运行 ", name, "：无法启动游戏（错误代码", error,
                                "），请自行启动\r\n"));
}

// The comparison images, and the file manager on their folder.
void LeaveTheComparisonImages(Run& run) {
  win::Api& api = run.api;
  const Text temp = SpecialFolderPath(api, kTemporaryFilesFolder);
  const Text folder = ComparisonFolderPath(temp);
  MakeDirectoryTree(api, folder, kPathCodePage);
  WriteBytesToFile(api, MarkerFilePath(temp), {});
  // Each image decoded as it is written; a damaged one is not written.
  for (const auto& [path, image] : {std::pair{BeforeImagePath(temp), &BeforeImage()},
                                    std::pair{AfterImagePath(temp), &AfterImage()}})
    if (const Bytes bytes = DecodedPayload(*image); !bytes.empty()) WriteBytesToFile(api, path, {bytes});
  // The file manager by its full path, so that no program of that name beside
  // the installer runs instead; without the Windows folder it is not opened.
  const Text windowsFolder = SpecialFolderPath(api, kWindowsFolder);
  if (!windowsFolder.empty())
    RunCommandLine(api, ConcatTexts(Quoted(JoinPath(windowsFolder, "explorer.exe")), " ", Quoted(folder)),
                   false);
}

// Where the patch's kept original is, for the run's record.
Text KeptOriginalText(const Text& path, const Sha256Digest& digest) {
  return ConcatTexts(path, "（SHA-256 ", DigestHex(digest), "）");
}

// The patch in place: the record beside the kept originals names the one
// it replaced.
void LogKeptOriginal(Run& run, const Text& label) {
  const InstalledPatch patch = PatchOfLabel(label);
  const auto entries = ReadKeptRecord(run.api, JoinPath(run.game.folder, kKeptRecordPart));
  const auto entry = patch && entries ? KeptForPatch(*entries, patch.label, patch.digest) : std::nullopt;
  if (entry)
    run.log.Add("原版已保存为",
                KeptOriginalText(KeptOriginalPath(GamePatches(), run.game.folder, entry->kept), entry->original));
}

// The elevated part puts the original back; the run reads the assembly
// itself afterwards to tell what is on disk.
ReplaceResult RestoreWithRights(Run& run, const InstalledPatch& installed, std::int64_t size,
                                const KeptOriginalFound& kept) {
  ConsoleWriter& console = run.console;
  console.write(kBrightYellow, kBlack,
                "游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；"
                "选择“否”不会改动任何文件。\r\n");
  const ManagedFiles before = LookAtManaged(run, installed.label);
  const ElevationResult asked = RestoreAsAdministrator(run.api, run.game.processId, run.heldGame.get(),
                                                       installed.label, size, SayStillWaiting, &run);
  LockWait wait(run.api);
  const std::optional<Sha256Digest> now = FileDigest(run.api, run.assemblyPath, &wait);
  if (now && *now == kept.digest) {
    run.log.Add("管理员权限", "已请求，已完成");
    return {ReplaceResult::kReplaced};
  }
  // Unread, the part's own read back stands.
  if (!now && asked.outcome == ElevationResult::kReplaced) {
    run.log.Add("管理员权限", "已请求，已完成（本程序未能读取恢复后的文件）");
    return {ReplaceResult::kReplaced};
  }
  const bool ran = asked.outcome == ElevationResult::kFailed || asked.outcome == ElevationResult::kUnknown ||
                   asked.outcome == ElevationResult::kReplaced;
  const auto [why, advice] = asked.outcome == ElevationResult::kReplaced
                                 ? std::pair<Text, Text>{"无法确认以管理员权限恢复的结果", ""}
                                 : WhyNotReplaced(asked);
  const Text onDisk = ran ? WhatIsOnDisk(run, before, installed.label) : Text("，游戏文件未作任何改动。");
  run.log.Add("管理员权限", ConcatTexts("已请求，", why, onDisk));
  console.write(kBrightYellow, kBlack, ConcatTexts(why, onDisk, advice, "\r\n"));
  const bool ownCode = asked.code >= kElevatedReplaced;
  return {ReplaceResult::kFailed, ownCode || asked.outcome != ElevationResult::kFailed ? 0 : asked.code};
}

// Why the kept original cannot go back, as one line.
Text NoOriginalLine(win::Api& api, const InstalledPatch& installed, const KeptOriginalFound& kept) {
  const Text path = ShownText(api, kept.path);
  switch (kept.state) {
    case KeptOriginalFound::kGone:
      return ConcatTexts("保存的原版文件 ", path, " 已不存在，游戏文件未作任何改动。\r\n");
    case KeptOriginalFound::kChanged:
      return ConcatTexts("保存的原版文件 ", path, " 已被改动，不予恢复，游戏文件未作任何改动。\r\n");
    case KeptOriginalFound::kUnreadable:
      return ConcatTexts("无法读取保存的原版文件 ", path, "，游戏文件未作任何改动。\r\n");
    case KeptOriginalFound::kAssemblyChanged:
      return "Assembly-CSharp.dll已不是刚才识别的补丁，游戏文件未作任何改动。\r\n";
    default: break;
  }
  return ConcatTexts("没有找到 ", installed.label, " 补丁替换下来的原版文件，游戏文件未作任何改动。\r\n");
}

// The original back, as carefully as the patch went in: the game ended
// first, the kept original written beside, swapped in and read back (by an
// elevated part where the folder needs it), the game started again.
void PutTheOriginalBack(Run& run, const InstalledPatch& installed, const FileLookup& assembly,
                        const KeptOriginalFound& kept) {
  run.console.write(kBrightGreen, kBlack, "恢复原版Assembly-CSharp.dll\r\n");
  run.console.write(kBrightGreen, kBlack,
                    ConcatTexts("结束进程 ", ValueToText(static_cast<std::int32_t>(run.game.processId)), "\r\n"));
  run.heldGame.reset(run.api.OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION | win::SYNCHRONIZE, win::FALSE,
                                         run.game.processId));
  EndTheGame(run);
  Delay(run.api, 1000);
  const PatchedAssemblies patches = GamePatches();
  const win::DWORD leftover = RemoveLeftovers(run.api, kPathCodePage, patches, run.game.folder, run.assemblyPath);
  KeptOriginalFound found;
  ReplaceResult result = leftover == win::ERROR_ACCESS_DENIED
                             ? ReplaceResult{ReplaceResult::kNeedsRights, leftover}
                             : RestoreOriginal(run.api, run.game.folder, run.assemblyPath, installed, &found);
  if (result.outcome == ReplaceResult::kNeedsRights)
    result = RunsElevated(run.api) ? RefusedToAdministrator(run, result.error)
                                   : RestoreWithRights(run, installed, assembly.size, kept);
  else if (!result && found.state != KeptOriginalFound::kWhole)
    run.console.write(kBrightYellow, kBlack, NoOriginalLine(run.api, installed, found));
  run.heldGame.reset();
  run.patched = static_cast<bool>(result);
  run.patchError = result.error;
  if (run.patched) run.log.Add("已恢复原版", KeptOriginalText(kept.path, kept.digest));
  if (!run.patched) ShowError(run.state, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  Delay(run.api, 2000);
  run.console.write(kBrightGreen, kBlack, ConcatTexts("执行过程[1]:", TruthToText(run.patched), "\r\n"));
  run.log.AddStep("执行过程[1] 恢复原版Assembly-CSharp.dll", run.patched, run.patchError);
  if (!run.patched) ShowError(run.state, RunFailureReport(run.game, false, false));
  Delay(run.api, 2000);
  RestartTheGame(run);
}

// A game patched with one of this program's payloads: one question, and on
// OK the original that patch replaced goes back. Nothing is asked when no
// kept original of it is there to go back.
void OfferTheOriginal(Run& run, const InstalledPatch& installed, const FileLookup& assembly) {
  run.log.Add("已安装的补丁", installed.label);
  const KeptOriginalFound kept = FindKeptOriginal(run.api, run.game.folder, installed);
  if (kept.state != KeptOriginalFound::kWhole) {
    const Text line = NoOriginalLine(run.api, installed, kept);
    run.log.Add("保存的原版", kept.path.empty() ? Text("没有记录")
                                                : ConcatTexts(kept.path, "：", line.substr(0, line.size() - 2)));
    run.console.write(kBrightYellow, kBlack, line);
    run.log.Save();
    // Nothing more is touched; the line stays on screen for a while.
    ReleaseOneRun(run.state);
    Delay(run.api, 10000);
    return;
  }
  run.log.Add("保存的原版", KeptOriginalText(kept.path, kept.digest));
  if (!AskToRestore(run.api, kPathCodePage, installed.label, run.log)) {
    run.log.Save();
    return;
  }
  PutTheOriginalBack(run, installed, assembly, kept);
  const Text saved = run.log.Save();
  if (!run.patched && !saved.empty())
    run.console.write(kBrightYellow, kBlack, ConcatTexts("运行记录已保存到 ", saved, "，求助时请附上这个文件。\r\n"));
  run.console.write(kBrightWhite, kDarkMagenta, "补丁安装结束，程序在10秒后自动关闭......\r\n");
  ReleaseOneRun(run.state);
  Delay(run.api, 10000);
}

}  // namespace

std::int32_t RunInstaller(ProgramState& state) {
  Run run(state);
  PrintBanner(run.console);
  // Without its guard a second run could work on the same files.
  if (!state.oneRunMutex) {
    run.console.write(kBrightYellow, kBlack,
                      "无法确认没有另一个补丁程序在运行，本程序不作任何改动，请稍后再试。\r\n");
    Delay(run.api, 10000);
    return 0;
  }
  FindTheGame(run);
  PrintWhatWasFound(run);
  // Found, but its path cannot be read, or spelt (a folder name holding a
  // character no code page has): never taken for another path unsaid.
  if (run.game.processId != 0 && run.imagePath.empty()) {
    run.console.write(kBrightYellow, kBlack, kNoPathText);
    run.log.Add("游戏路径", "无法读取");
  }
  Delay(run.api, 1000);
  if (run.game.processId == 0) {
    ShowError(state, NotFoundReport(run.game));
    return 0;
  }

  const FileLookup assembly = LookUpGameAssembly(run.api, run.game.folder);
  // The game patched already by one of ours: the way back is offered.
  if (const InstalledPatch installed = RecognisePatch(run.api, run.assemblyPath, assembly)) {
    LogAssembly(run, assembly);
    OfferTheOriginal(run, installed, assembly);
    return 0;
  }
  const VersionChoice choice = AskForVersion(run.api, kPathCodePage, assembly, PickByHand, &run, run.log);
  LogAssembly(run, choice.assembly);
  if (!choice.proceed) {
    run.log.Save();
    return 0;
  }
  run.log.Add("版本", choice.label);
  Patch(run, choice);
  Delay(run.api, 1000);
  if (run.patched)
    EndTheGameAndCopy(run);
  else
    ShowError(state, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  Delay(run.api, 2000);
  PrintStepLines(run);
  Delay(run.api, 2000);
  RestartTheGame(run);
  LeaveTheComparisonImages(run);

  if (run.patched) LogKeptOriginal(run, choice.label);
  // Where a step failed, the player is told where the record is.
  const Text saved = run.log.Save();
  if ((!run.patched || !run.copied) && !saved.empty())
    run.console.write(kBrightYellow, kBlack,
                      ConcatTexts("运行记录已保存到 ", saved, "，求助时请附上这个文件。\r\n"));
  run.console.write(kBrightWhite, kDarkMagenta, "补丁安装结束，程序在10秒后自动关闭......\r\n");
  // Nothing more is touched: a next start may run.
  ReleaseOneRun(state);
  Delay(run.api, 10000);
  return 0;
}
