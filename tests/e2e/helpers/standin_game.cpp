// A stand-in for the game, for the end-to-end runs of the installer.
//
//   standin_game [--no-window] [--marker PATH] [--hold PATH]
//   standin_game --marker PATH --hold PATH --hold-after TRIGGER --hold-ms N
//
// With no options it shows a top-level window titled "Thistlegarden" and runs
// a message loop; --no-window only sleeps. Every instance appends one JSON line
// about itself to the marker file: the installer restarts the game without
// arguments, so options missing from the command line are read from
// standin.cfg beside the executable (lines "key=value": marker, no-window).
// --hold opens PATH with no sharing and keeps it open, so that
// other processes can neither open nor delete it. With --hold-after it
// appends a marker line, waits for TRIGGER to exist, holds PATH for N ms
// (appending a line once it holds it), lets go and ends: a lock that lasts a
// moment, started by what the installer does.
#include "helper.h"

namespace {

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return path;
}

// Reads standin.cfg beside the executable into options.
void ReadConfig(Options& options) {
  std::wstring path = ModulePath();
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"standin.cfg";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string content;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) content.append(buf, got);
  CloseHandle(file);
  for (std::string line : Split(content, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    const std::wstring value = eq == std::string::npos ? std::wstring() : FromUtf8(line.substr(eq + 1));
    if (line.substr(0, eq) == "marker") options[L"--marker"] = value;
    if (line.substr(0, eq) == "no-window") options[L"--no-window"] = value != L"0" ? L"1" : L"";
  }
}

DWORD ParentProcessId(DWORD pid) {
  for (const PROCESSENTRY32W& entry : Processes())
    if (entry.th32ProcessID == pid) return entry.th32ParentProcessID;
  return 0;
}

// Appends the marker line of this instance, with the window it shows (if
// any) and whether it holds the file --hold names.
void AppendMarker(Options& options, HWND window, bool held, DWORD holdError) {
  if (options[L"--marker"].empty()) return;
  std::wstring cwd(32768, L'\0');
  cwd.resize(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  // The handle as the installer prints it: a 32-bit number.
  std::string line = "{\"pid\":" + Number(GetCurrentProcessId()) + ",\"ppid\":" +
                     Number(ParentProcessId(GetCurrentProcessId())) + ",\"hwnd\":" +
                     Number(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window))) +
                     ",\"window\":" + Bool(window);
  line += ",\"cmdline\":" + Json(GetCommandLineW());
  line += ",\"exe\":" + Json(ModulePath());
  line += ",\"cwd\":" + Json(cwd);
  if (!options[L"--hold"].empty())
    line += ",\"hold\":" + Json(options[L"--hold"]) + ",\"held\":" + Bool(held) +
            ",\"hold_error\":" + Number(holdError);
  HANDLE file = CreateFileW(options[L"--marker"].c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteAll(file, line + "}\n");
  CloseHandle(file);
}

HANDLE Hold(const std::wstring& path, DWORD& error) {
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) error = GetLastError();
  return held;
}

// --hold-after: waits for the trigger, holds the file for --hold-ms, ends.
int HoldAfter(Options& options) {
  // TRIGGER may be there for a moment only: any name changing in its
  // folder counts as well.
  const std::wstring& trigger = options[L"--hold-after"];
  const size_t slash = trigger.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : trigger.substr(0, slash);
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  AppendMarker(options, nullptr, false, 0);
  while (GetFileAttributesW(trigger.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (change == INVALID_HANDLE_VALUE) Sleep(5);
    else if (WaitForSingleObject(change, 5) == WAIT_OBJECT_0) break;
  }
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  DWORD holdError = 0;
  HANDLE held = Hold(options[L"--hold"], holdError);
  AppendMarker(options, nullptr, held != INVALID_HANDLE_VALUE, holdError);
  Sleep(static_cast<DWORD>(_wtoi(options[L"--hold-ms"].c_str())));
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateGameWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"StandinGameWindow";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"Thistlegarden",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 480, 300, nullptr,
                                nullptr, instance, nullptr);
  if (window) {
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
  }
  return window;
}

}  // namespace

int main() {
  // A restarted instance inherits the installer's console; the game has none.
  FreeConsole();

  // The command line's options override the file's.
  Options options{{L"--marker", L""}, {L"--hold", L""}, {L"--hold-after", L""}, {L"--hold-ms", L"0"}};
  ReadConfig(options);
  ReadOptions(Arguments(), options, {L"--no-window"});
  if (!options[L"--hold-after"].empty()) return HoldAfter(options);
  HANDLE held = INVALID_HANDLE_VALUE;
  DWORD holdError = 0;
  if (!options[L"--hold"].empty()) held = Hold(options[L"--hold"], holdError);

  if (options[L"--no-window"] == L"1") {
    AppendMarker(options, nullptr, held != INVALID_HANDLE_VALUE, holdError);
    for (;;) Sleep(60000);
  }

  HWND window = CreateGameWindow();
  AppendMarker(options, window, held != INVALID_HANDLE_VALUE, holdError);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}
