// A stand-in for the game, for the end-to-end runs of the installer.
//
//   standin_game [--no-window] [--marker PATH] [--hold PATH]
//   standin_game --marker PATH --hold PATH --hold-after TRIGGER --hold-ms N
//
// It shows a window titled "Thistlegarden" until closed (--no-window: only
// sleeps) and appends one JSON line about itself to the marker file. The
// installer restarts the game without arguments, so options also come from
// standin.cfg beside the executable: lines "key=value" for "--key value"
// (marker, no-window=1), the command line's winning. --hold keeps PATH open
// with no sharing. --hold-after appends a line, waits for TRIGGER to exist,
// holds PATH for N ms (appending a line once it holds it) and ends: a lock
// that lasts a moment, started by what the installer does.
#include "helper.h"

namespace {

std::wstring ModulePath() {
  wchar_t path[32768] = {};
  GetModuleFileNameW(nullptr, path, 32768);
  return path;
}

void ReadConfig(Options& options) {
  std::wstring path = ModulePath();
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"standin.cfg";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string content(65536, '\0');
  DWORD got = 0;
  ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr);
  CloseHandle(file);
  std::wstring text = FromUtf8(content.substr(0, got));
  std::erase(text, L'\r');
  for (const std::wstring& line : Split(text, L'\n'))
    if (const size_t eq = line.find(L'='); eq != std::wstring::npos)
      options[L"--" + line.substr(0, eq)] = line.substr(eq + 1);
}

// Opens the file with no sharing until the process ends; 0, else the error.
DWORD HoldFile(const std::wstring& path) {
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return held == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

// Appends the marker line of this instance, with the window it shows (if
// any) and whether it holds the file --hold names.
void AppendMarker(Options& options, HWND window, bool held = false, DWORD holdError = 0) {
  if (options[L"--marker"].empty()) return;
  std::wstring cwd(32768, L'\0');
  cwd.resize(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  // The handle as the installer prints it: a 32-bit number.
  const unsigned long hwnd = static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window));
  const DWORD pid = GetCurrentProcessId();
  DWORD ppid = 0;
  for (const PROCESSENTRY32W& entry : Processes())
    if (entry.th32ProcessID == pid) ppid = entry.th32ParentProcessID;
  std::string line = "{" + Members({{"pid", pid}, {"ppid", ppid}, {"hwnd", hwnd},
                                    {"window", window != nullptr}, {"cmdline", GetCommandLineW()},
                                    {"exe", ModulePath()}, {"cwd", cwd}});
  if (!options[L"--hold"].empty())
    line += "," + Members({{"hold", options[L"--hold"]}, {"held", held}, {"hold_error", holdError}});
  HANDLE file = CreateFileW(options[L"--marker"].c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteAll(file, line + "}\n");
  CloseHandle(file);
}

int HoldAfter(Options& options) {
  // TRIGGER may be there for a moment only: any name changing in its
  // folder counts as well.
  const std::wstring& trigger = options[L"--hold-after"];
  const size_t slash = trigger.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : trigger.substr(0, slash);
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  AppendMarker(options, nullptr);
  while (GetFileAttributesW(trigger.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (change == INVALID_HANDLE_VALUE) Sleep(5);
    else if (WaitForSingleObject(change, 5) == WAIT_OBJECT_0) break;
  }
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  const DWORD error = HoldFile(options[L"--hold"]);
  AppendMarker(options, nullptr, !error, error);
  Sleep(static_cast<DWORD>(_wtoi(options[L"--hold-ms"].c_str())));
  return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateGameWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{.lpfnWndProc = WindowProc, .hInstance = instance, .hCursor = LoadCursorW(nullptr, IDC_ARROW),
               .hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1),
               .lpszClassName = L"StandinGameWindow"};
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"Thistlegarden",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 480, 300, nullptr,
                                nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  return window;
}

}  // namespace

int main() {
  // A restarted instance inherits the installer's console; the game has none.
  FreeConsole();

  Options options{{L"--marker", L""}, {L"--hold", L""}, {L"--hold-after", L""}, {L"--hold-ms", L"0"}};
  ReadConfig(options);
  ReadOptions(Arguments(), options, {L"--no-window"});
  if (!options[L"--hold-after"].empty()) return HoldAfter(options);
  const DWORD holdError = options[L"--hold"].empty() ? 0 : HoldFile(options[L"--hold"]);
  const bool windowless = options[L"--no-window"] == L"1";
  HWND window = windowless ? nullptr : CreateGameWindow();
  AppendMarker(options, window, !holdError, holdError);
  while (windowless) Sleep(60000);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
