// A stand-in for the game, for the end-to-end runs of the installer.
//
//   standin_game [--no-window] [--marker PATH] [--hold PATH]
//   standin_game --marker PATH --hold PATH --hold-after TRIGGER --hold-ms N
//
// With no options it shows a top-level window titled "Thistlegarden" and runs
// a message loop; --no-window only sleeps. Every instance appends one JSON line
// about itself to the marker file: the installer restarts the game without
// arguments, so options missing from the command line are read from
// standin.cfg beside the executable (lines "key=value": marker, no-window,
// hold). --hold opens PATH with no sharing and keeps it open, so that
// other processes can neither open nor delete it. With --hold-after it
// appends a marker line, waits for TRIGGER to exist, holds PATH for N ms
// (appending a line once it holds it), lets go and ends: a lock that lasts a
// moment, started by what the installer does.
#include <windows.h>

#include "command_line.h"
#include "json_text.h"
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

struct Options {
  bool noWindow = false;
  std::wstring marker;
  std::wstring hold;
  std::wstring holdAfter;
  DWORD holdMs = 0;
};

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
  size_t slash = path.find_last_of(L"\\/");
  path = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"standin.cfg";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string content;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got > 0) content.append(buf, got);
  CloseHandle(file);

  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    std::string key = line.substr(0, eq);
    std::wstring value = eq == std::string::npos ? std::wstring() : FromUtf8(line.substr(eq + 1));
    if (key == "marker") options.marker = value;
    if (key == "hold") options.hold = value;
    if (key == "no-window") options.noWindow = value != L"0";
  }
}

DWORD ParentProcessId(DWORD pid) {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == pid) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

void AppendMarker(const Options& options, HWND window, bool held, DWORD holdError) {
  if (options.marker.empty()) return;
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
  if (!options.hold.empty())
    line += ",\"hold\":" + Json(options.hold) + ",\"held\":" + Bool(held) +
            ",\"hold_error\":" + Number(holdError);
  line += "}\n";

  HANDLE file = CreateFileW(options.marker.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
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
  Options options;
  ReadConfig(options);
  std::vector<std::wstring> argv = SplitCommandLine(GetCommandLineW());
  const size_t argc = argv.size();
  for (size_t i = 1; i < argc; ++i) {
    const std::wstring& arg = argv[i];
    if (arg == L"--no-window") options.noWindow = true;
    else if (arg == L"--marker" && i + 1 < argc) options.marker = argv[++i];
    else if (arg == L"--hold" && i + 1 < argc) options.hold = argv[++i];
    else if (arg == L"--hold-after" && i + 1 < argc) options.holdAfter = argv[++i];
    else if (arg == L"--hold-ms" && i + 1 < argc) options.holdMs = _wtoi(argv[++i].c_str());
  }

  HANDLE held = INVALID_HANDLE_VALUE;
  DWORD holdError = 0;
  if (!options.holdAfter.empty()) {
    // TRIGGER may be there for a moment only: any name changing in its
    // folder counts as well.
    const std::wstring& trigger = options.holdAfter;
    const size_t slash = trigger.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : trigger.substr(0, slash);
    HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    AppendMarker(options, nullptr, false, 0);
    while (GetFileAttributesW(trigger.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (change == INVALID_HANDLE_VALUE) Sleep(5);
      else if (WaitForSingleObject(change, 5) == WAIT_OBJECT_0) break;
    }
    if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
    held = CreateFileW(options.hold.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) holdError = GetLastError();
    AppendMarker(options, nullptr, held != INVALID_HANDLE_VALUE, holdError);
    Sleep(options.holdMs);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return 0;
  }
  if (!options.hold.empty()) {
    held = CreateFileW(options.hold.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) holdError = GetLastError();
  }

  if (options.noWindow) {
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
