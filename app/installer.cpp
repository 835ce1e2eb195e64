#include "app/installer.h"

#include <array>

#include "app/elevation.h"

#include "discovery/displayed_name.h"
#include "discovery/game_lookup.h"
#include "discovery/image_path.h"
#include "fsproc/assembly_replacement.h"
#include "fsproc/file_ops.h"
#include "fsproc/process_ops.h"
#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/version_id.h"
#include "install/versions.h"
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
constexpr std::int32_t kTemporaryFiles = 11;
constexpr std::int32_t kWindowsFolder = 9;
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

Text RunFailureReport(const GameTarget& game, const std::array<std::int32_t, 101>& trace) {
  return ConcatTexts("程序执行过程中出现错误！\r\n请尝试关闭杀毒软件后在运行本程序。",
                     VariableLines(game), "\r\n\r\n执行过程:\r\n", TruthToText(trace[1]), "\r\n",
                     TruthToText(trace[2]));
}

std::int32_t ShowError(ProgramState& state, const Text& text) {
  return TimedMessageBox(state.api, state.textCodePage, text, kErrorBox, Text(kErrorTitle),
                         std::nullopt, kBoxTimeout);
}

Text PickByHand(void* context) {
  auto& state = *static_cast<ProgramState*>(context);
  ShowVersionSelectWindow(state);
  return state.chosenVersion;
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

// The game's folder refused the patch: asked once for an administrator's
// rights, the elevated part does the replacement. The player is told why
// Windows asks, and what to do when it came to nothing.
ReplaceResult ReplaceWithRights(ProgramState& state, const VersionChoice& choice) {
  ConsoleWriter& console = state.console;
  console.write(kBrightYellow, kBlack,
                "游戏所在的文件夹需要管理员权限才能修改，Windows将询问是否允许本程序修改；"
                "选择“否”不会改动任何文件。\r\n");
  const ElevationResult asked =
      ReplaceAsAdministrator(state.api, state.game.folder, choice.label, choice.assembly.size);
  if (asked.outcome == ElevationResult::kReplaced) return {ReplaceResult::kReplaced};
  const Text code = ValueToText(static_cast<std::int32_t>(asked.code));
  const Text what = asked.outcome == ElevationResult::kDeclined
                        ? Text("没有获得管理员权限")
                    : asked.outcome == ElevationResult::kNotStarted
                        ? ConcatTexts("无法以管理员身份启动本程序（错误代码", code, "）")
                        : ConcatTexts("以管理员权限修改游戏文件也未成功（错误代码", code, "）");
  console.write(kBrightYellow, kBlack,
                ConcatTexts(what, "，游戏文件未作任何改动。请右键点击本程序，选择“以管理员身份运行”后再试。\r\n"));
  return {ReplaceResult::kFailed, asked.code};
}

}  // namespace

std::int32_t RunInstaller(ProgramState& state) {
  win::Api& api = state.api;
  ConsoleWriter& console = state.console;
  GameTarget& game = state.game;
  // Paths from the system are carried in GB18030; what is shown is 936.
  const std::int32_t codePage = kPathCodePage;

  PrintBanner(console);

  // Find the game.
  // Any program may have a window of that title: the game's is the one its
  // own process owns.
  const FoundGame found = FindGame(api, Text("Thistlegarden"), "Thistlegarden.exe");
  game.windowHandle = found.window;
  game.processId = found.processId;
  // Kept to make sure the process is still the game when it is ended.
  const Text imagePath = GetProcessImagePath(api, game.processId, codePage);
  game.folder = PathFolderPart(imagePath);
  // The path is read again for the name; should that read or the title fail
  // where the first read worked, the first path still names the game, which
  // is started again by this name.
  Text namePath = GetProcessImagePath(api, game.processId, codePage);
  if (namePath.empty()) namePath = imagePath;
  game.displayedName = GetDisplayedProgramName(api, namePath, codePage);
  if (game.displayedName.empty()) game.displayedName = namePath.substr(PathFolderPart(namePath).size());

  console.write(kDarkCyan, kBlack, "窗口句柄ID ");
  console.write(kLightGrey, kBlack,
                ConcatTexts(ValueToText(static_cast<std::int32_t>(game.windowHandle)), "\r\n"));
  console.write(kDarkCyan, kBlack, "游戏进程ID ");
  console.write(kLightGrey, kBlack,
                ConcatTexts(ValueToText(static_cast<std::int32_t>(game.processId)), "\r\n"));
  console.write(kDarkCyan, kBlack, "游戏路径 ");
  console.write(kLightGrey, kBlack,
                ConcatTexts(ShownText(api, ConcatTexts(game.folder, game.displayedName)), "\r\n"));
  Delay(api, 1000);

  if (game.processId == 0) {
    ShowError(state, NotFoundReport(game));
    return 0;
  }

  const PatchedAssemblies patches = GamePatches();
  RemoveLeftovers(api, codePage, patches, game.folder, GameAssemblyPath(game.folder));

  // Identify the version.
  VersionChoice choice = IdentifyVersion(api, codePage, game.folder, PickByHand, &state);
  if (!choice.proceed) return 0;

  // Patch.
  std::array<std::int32_t, 101> stepTrace{};  // entries 1 to 100
  bool endedGame = false;
  bool gameStillClosing = false;
  const Text assemblyPath = GameAssemblyPath(game.folder);
  if (const PayloadBlob* payload = FindPayload(choice.label)) {
    ReplaceResult patched = WritePatchedAssembly(api, codePage, patches, game.folder, assemblyPath,
                                                 choice.label, choice.assembly, payload->bytes());
    if (patched.outcome == ReplaceResult::kNeedsRights) patched = ReplaceWithRights(state, choice);
    stepTrace[1] = patched ? 1 : 0;
  }
  Delay(api, 1000);

  if (stepTrace[1] == 1) {
    console.write(kBrightGreen, kBlack, "替换Assembly-CSharp.dll\r\n");
    console.write(kBrightGreen, kBlack,
                  ConcatTexts("结束进程 ", ValueToText(static_cast<std::int32_t>(game.processId)),
                              "\r\n"));
    // The game may have closed meanwhile and its ID gone to another program:
    // it is checked and ended through the same handle.
    SameImage same{api, imagePath, codePage};
    endedGame = EndProcessById(api, game.processId, IsSameImage, &same, kEndProcessWait,
                               &gameStillClosing);
    Delay(api, 1000);
    // Keep a copy of the patched assembly beside the comparison images.
    const Text temp = SpecialFolderPath(api, kTemporaryFiles);
    MakeDirectoryTree(api, JoinPath(temp, kOwnFolderPart), codePage);
    stepTrace[2] = CopyFileTo(api, assemblyPath, BackupPath(temp), false) ? 1 : 0;
  } else {
    ShowError(state, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  }
  Delay(api, 2000);

  bool failedRun = false;
  for (std::int32_t n = 1; n <= 2; ++n) {
    console.write(kBrightGreen, kBlack,
                  ConcatTexts("执行过程[", ValueToText(n), "]:", TruthToText(stepTrace[n]),
                              "\r\n"));
    if (stepTrace[n] == 0) failedRun = true;
  }
  if (failedRun) ShowError(state, RunFailureReport(game, stepTrace));
  Delay(api, 2000);

  // Start the game again only when this run ended it, so that no second copy
  // runs beside it; by its full path, quoted so that a folder with blanks
  // works, in its own folder as a launcher would start it.
  if (endedGame) {
    RunCommandLine(api, Quoted(ConcatTexts(game.folder, game.displayedName)), false, std::nullopt,
                   game.folder);
    console.write(kBrightGreen, kBlack,
                  ConcatTexts("重新运行 ", ShownText(api, game.displayedName), "\r\n"));
  } else if (gameStillClosing) {
    // Ended but not yet gone: a second copy must not start beside it, and
    // the player must know the game is theirs to start.
    console.write(kBrightGreen, kBlack,
                  ConcatTexts("未重新运行 ", ShownText(api, game.displayedName),
                              "：游戏尚未关闭，请在它关闭后自行启动\r\n"));
  }

  // The comparison images, and the file manager on their folder.
  MakeDirectoryTree(api, ComparisonFolderPath(SpecialFolderPath(api, kTemporaryFiles)), codePage);
  WriteBytesToFile(api, MarkerFilePath(SpecialFolderPath(api, kTemporaryFiles)), {});
  WriteBytesToFile(api, BeforeImagePath(SpecialFolderPath(api, kTemporaryFiles)),
                   {BeforeImage().bytes()});
  WriteBytesToFile(api, AfterImagePath(SpecialFolderPath(api, kTemporaryFiles)),
                   {AfterImage().bytes()});
  // The file manager by its full path, so that no program of that name beside
  // the installer runs instead; without the Windows folder it is not opened.
  const Text windowsFolder = SpecialFolderPath(api, kWindowsFolder);
  if (!windowsFolder.empty())
    RunCommandLine(api,
                   ConcatTexts(Quoted(JoinPath(windowsFolder, "explorer.exe")), " ",
                               Quoted(ComparisonFolderPath(SpecialFolderPath(api, kTemporaryFiles)))),
                   false);

  console.write(kBrightWhite, kDarkMagenta, "补丁安装结束，程序在10秒后自动关闭......\r\n");
  // Nothing more is touched: a next start may run.
  ReleaseOneRun(state);
  Delay(api, 10000);
  return 0;
}
