#include "app/startup.h"

#include <algorithm>

#include "app/elevation.h"
#include "app/installer.h"
#include "install/versions.h"
#include "runtime/handles.h"
#include "ui/message_box.h"
#include "runtime/values.h"
#include "ui/window_definitions.h"

namespace {

constexpr char kOwnerClass[] = "ThistlegardenPatchOwner";
constexpr win::DWORD kToolWindow = 0x00000080;  // WS_EX_TOOLWINDOW

// What a second start says.
constexpr const char kAlreadyRunningText[] = "补丁程序已经在运行，请在先打开的窗口中继续。";
constexpr win::UINT kAlreadyRunningStyle = kBoxIconInformation | kBoxSetForeground;
constexpr std::int32_t kAlreadyRunningTimeout = 5000;

win::LRESULT OwnerWindowProc(void* context, win::HWND window, win::UINT message,
                             win::WPARAM wParam, win::LPARAM lParam) {
  return static_cast<ProgramState*>(context)->api.DefWindowProcA(window, message, wParam, lParam);
}

void InstallerCleanup(ProgramState& state) {
  state.console.destroy();
  Text().swap(state.game.folder);
  Text().swap(state.game.displayedName);
  Text().swap(state.chosenVersion);
}

// Room for the longest path Windows has (32767 UTF-16 units, each at most
// two bytes in code page 936) and its terminator.
constexpr win::DWORD kLongestModulePath = 65536;

// Everything before the program path's last backslash; a two-byte character
// whose second byte is 0x5C is no backslash.
Text ProgramDirectory(win::Api& api) {
  Text full;
  for (win::DWORD room = 260; room <= kLongestModulePath; room *= 2) {
    full.assign(room, '\0');
    const win::DWORD n = api.GetModuleFileNameA(0, full.data(), room);
    // A name that fills the room was cut short: try again with more.
    if (n < room) {
      full.resize(n);
      break;
    }
    full.clear();
  }
  const std::int32_t cut = FindTextBackward(full, "\\");
  return cut < 1 ? Text() : TextLeft(full, cut - 1);
}

void CreateOwnerWindow(ProgramState& state) {
  win::WNDCLASSEXA definition{};
  definition.lpfnWndProc = OwnerWindowProc;
  definition.context = &state;
  definition.lpszClassName = kOwnerClass;
  definition.arrowCursor = true;
  state.api.RegisterClassExA(&definition);
  state.ownerWindow = state.api.CreateWindowExA(kToolWindow, kOwnerClass, "", 0, 0, 0, 0, 0, 0, 0);
  state.mainThreadId = state.api.GetCurrentThreadId();
}

// Shutdown steps 1 and 3: the program's windows, then the platform modules.
void ReleasePlatform(ProgramState& state) {
  if (state.ownerWindow) state.api.DestroyWindow(state.ownerWindow);
  state.ownerWindow = 0;
  if (state.savedOutputCodePage) state.api.SetConsoleOutputCP(state.savedOutputCodePage);
  state.savedOutputCodePage = 0;
  state.api.OleUninitialize();
}

}  // namespace

void RegisterCleanup(ProgramState& state, CleanupRoutine routine) {
  auto& list = state.cleanupRoutines;
  if (std::find(list.begin(), list.end(), routine) == list.end()) list.push_back(routine);
}

void EndProgram(ProgramState& state) {
  state.ending = true;
  if (state.definitionWindows <= 0) return;
  win::MSG msg{};
  while (state.api.GetMessageA(&msg, 0, 0, 0) > 0) {
    state.api.TranslateMessage(&msg);
    state.api.DispatchMessageA(&msg);
  }
}

int ReportRuntimeError(ProgramState& state, std::int32_t errorNumber, const Text& message,
                       std::int32_t locationA, std::int32_t locationB) {
  Text text = "运行时出错!\r\n";
  if (errorNumber != 0) text += "\r\n错误代码：" + ValueToText(errorNumber) + "\r\n";
  if (!message.empty()) text += "\r\n错误信息：" + message + "\r\n";
  text += "\r\n" + ValueToText(locationA) + ", " + ValueToText(locationB) + "\r\n";
  state.api.MessageBoxA(0, text.c_str(), "错误", kBoxIconError);
  state.cleanupRoutines.clear();
  ReleasePlatform(state);
  ReleaseOneRun(state);
  return -1;
}

int ProgramEntry(win::Api& api) {
  // Before anything loads a DLL: DLLs loaded later come from the system's
  // own folder, never from the folder the installer was downloaded to.
  api.SetDefaultDllDirectories(win::LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The elevated part of a run that asked for an administrator's rights
  // does its file work and nothing else.
  if (const std::optional<int> exitCode = RunElevatedPartIfAsked(api)) return *exitCode;
  // One run at a time in the session: a second start (a player who clicks
  // again while the console is slow to appear) says so briefly and ends,
  // touching nothing. A mutex refused to this start was made by a run with
  // other rights: a run is going all the same. The run lets the mutex go
  // before its closing wait.
  UniqueHandle oneRun(api, api.CreateMutexW(win::FALSE, kOneRunMutex));
  const win::DWORD mutexError = api.GetLastError();
  if ((oneRun && mutexError == win::ERROR_ALREADY_EXISTS) ||
      (!oneRun && mutexError == win::ERROR_ACCESS_DENIED)) {
    TimedMessageBox(api, 936, kAlreadyRunningText, kAlreadyRunningStyle, Text("友情提醒"),
                    std::nullopt, kAlreadyRunningTimeout);
    return 0;
  }
  ProgramState state(api);
  state.oneRunMutex = oneRun.release();
  api.OleInitialize();
  state.programDirectory = ProgramDirectory(api);
  // "C:" alone would mean the drive's current folder, not its root.
  const Text current = state.programDirectory.ends_with(':') ? state.programDirectory + "\\"
                                                             : state.programDirectory;
  api.SetCurrentDirectoryA(current.c_str());
  CreateOwnerWindow(state);
  if (!LoadWindowDefinitions(state))
    return ReportRuntimeError(state, 0, "载入窗口模板数据段出错!", 5, 1);
  for (const KnownVersion& version : kKnownVersions) state.versionLabels.emplace_back(version.label);
  state.console.create(api);
  RegisterCleanup(state, InstallerCleanup);
  state.textCodePage = 936;
  // The program's text is code page 936: make the console show it as such
  // whatever the system's own code page, and put the old one back at exit.
  win::UINT previous = api.GetConsoleOutputCP();
  if (previous != 0 && previous != 936 && api.SetConsoleOutputCP(936))
    state.savedOutputCodePage = previous;

  RunInstaller(state);
  EndProgram(state);

  if (state.ownerWindow) api.DestroyWindow(state.ownerWindow);
  state.ownerWindow = 0;
  for (CleanupRoutine routine : state.cleanupRoutines) routine(state);
  ReleasePlatform(state);
  ReleaseOneRun(state);
  return 0;
}
