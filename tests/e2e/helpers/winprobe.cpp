// Looks at and ends Windows processes for the end-to-end tests; prints UTF-8
// JSON lines on standard output.
//
//   winprobe procs               a line per process: pid, ppid, exe, path
//   winprobe windows             a line per top-level window: hwnd, pid, class, title, visible, owner
//   winprobe end PID...          ends each process and waits (5 s) until it is gone; a line
//                                per PID, exit code = number not ended
//   winprobe close PID...        the same, after asking its windows to close (WM_CLOSE) for 5 s
//   winprobe closewindow HWND... posts WM_CLOSE to each window, a line each
//   winprobe temp                the temporary-files folder (GetTempPathW)
//   winprobe chinese-fonts       a line per font family for Simplified Chinese
//   winprobe folders             a line per File Explorer tab: hwnd, folder (a file system path or "")
//   winprobe version PATH        file, product, translations and the first translation's strings
//                                as Explorer reads them; else {"error":N}, exit code 1
//   winprobe serve               answers a command a line ("end 12 34") from standard input as
//                                above, then {"done":EXIT CODE}, until its input ends
#include "helper.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

namespace {

using Microsoft::WRL::ComPtr;
using Words = std::vector<std::wstring>;

std::wstring ImagePath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!process || !QueryFullProcessImageNameW(process, 0, path.data(), &size)) size = 0;
  if (process) CloseHandle(process);
  path.resize(size);
  return path;
}

// Asks the visible unowned windows of a process to close; how many it asked.
int CloseWindowsOf(DWORD pid) {
  int posted = 0;
  for (HWND window : TopLevelWindows()) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      ++posted;
    }
  }
  return posted;
}

int EndProcesses(const Words& args, bool politely) {
  struct Target {
    DWORD pid;
    HANDLE process;
    DWORD error;
    int posted;
  };
  std::vector<Target> targets;
  for (size_t i = 1; i < args.size(); ++i) {
    const DWORD pid = static_cast<DWORD>(_wtoi64(args[i].c_str()));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    const DWORD error = process ? 0 : GetLastError();
    targets.push_back({pid, process, error, process && politely ? CloseWindowsOf(pid) : 0});
  }
  // All are asked at once, then given 5 s together.
  const ULONGLONG deadline = GetTickCount64() + 5000;
  int failed = 0;
  for (Target& t : targets) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const bool closed = t.posted && WaitForSingleObject(t.process, left) == WAIT_OBJECT_0;
    bool ended = closed || (t.process && TerminateProcess(t.process, 1));
    if (t.process && !ended) t.error = GetLastError();
    ended = ended && WaitForSingleObject(t.process, 5000) == WAIT_OBJECT_0;
    if (t.process) CloseHandle(t.process);
    failed += ended ? 0 : 1;
    Print(Object({{"pid", t.pid}, {"ended", ended}, {"closed", closed}, {"error", t.error}}));
  }
  return failed;
}

// The file system folder a shell window shows, by its view; "" for another
// kind of place.
std::wstring FolderShown(IWebBrowserApp* app) {
  ComPtr<IServiceProvider> provider;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IFolderView> folderView;
  ComPtr<IPersistFolder2> folder;
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(app->QueryInterface(IID_IServiceProvider, &provider)) ||
      FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, &browser)) ||
      FAILED(browser->QueryActiveShellView(&view)) ||
      FAILED(view->QueryInterface(IID_IFolderView, &folderView)) ||
      FAILED(folderView->GetFolder(IID_IPersistFolder2, &folder)) || FAILED(folder->GetCurFolder(&pidl)) ||
      !pidl)
    return {};
  wchar_t path[32768] = {};
  if (!SHGetPathFromIDListEx(pidl, path, 32768, GPFIDL_DEFAULT)) path[0] = L'\0';
  CoTaskMemFree(pidl);
  return path;
}

int ListShellFolders() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    Print(Object({{"error", L"CoInitializeEx failed"}, {"code", static_cast<ULONG>(hr)}}));
    return 1;
  }
  {
    ComPtr<IShellWindows> windows;
    long count = 0;
    hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows, &windows);
    if (SUCCEEDED(hr)) hr = windows->get_Count(&count);
    if (FAILED(hr)) Print(Object({{"error", L"no shell windows"}, {"code", static_cast<ULONG>(hr)}}));
    for (long i = 0; SUCCEEDED(hr) && i < count; ++i) {
      VARIANT index{};
      index.vt = VT_I4;
      index.lVal = i;
      ComPtr<IDispatch> item;
      ComPtr<IWebBrowserApp> app;
      if (FAILED(windows->Item(index, &item)) || !item || FAILED(item.As(&app))) continue;
      SHANDLE_PTR hwnd = 0;
      app->get_HWND(&hwnd);
      Print(Object({{"hwnd", static_cast<ULONG_PTR>(hwnd)}, {"folder", FolderShown(app.Get())}}));
    }
  }
  CoUninitialize();
  return FAILED(hr) ? 1 : 0;
}

std::wstring FourParts(DWORD high, DWORD low) {
  wchar_t text[32];
  wsprintfW(text, L"%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
  return text;
}

int VersionInfo(const std::wstring& path) {
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  std::vector<unsigned char> block(size);
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
    Print(Object({{"error", GetLastError()}}));
    return 1;
  }
  std::string line = "{";
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    line += Members({{"file", FourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS)},
                     {"product", FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS)}}) + ",";
  }
  std::vector<Value> translations;
  std::wstring table;  // the first translation's
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    const auto* pairs = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      wchar_t name[16];
      wsprintfW(name, L"%04x%04x", pairs[i], pairs[i + 1]);
      if (table.empty()) table = name;
      translations.push_back(name);
    }
  }
  std::string strings;
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                              L"LegalCopyright", L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring query = L"\\StringFileInfo\\" + table + L"\\" + name;
    if (!table.empty() && VerQueryValueW(block.data(), query.c_str(), &value, &length) && length)
      strings += (strings.empty() ? "" : ",") + Json(name) + ":" + Json(static_cast<const wchar_t*>(value));
  }
  Print(line + Members({{"translations", List(translations)}, {"strings", "{" + strings + "}"}}) + "}");
  return 0;
}

int Answer(const Words& args) {
  const std::wstring command = args.empty() ? L"" : args[0];
  if (command == L"procs") {
    for (const PROCESSENTRY32W& entry : Processes())
      Print(Object({{"pid", entry.th32ProcessID}, {"ppid", entry.th32ParentProcessID},
                    {"exe", entry.szExeFile}, {"path", ImagePath(entry.th32ProcessID)}}));
  } else if (command == L"windows") {
    for (HWND window : TopLevelWindows()) Print("{" + WindowFields(window) + "}");
  } else if (command == L"end" || command == L"close") {
    return EndProcesses(args, command == L"close");
  } else if (command == L"closewindow") {
    for (size_t i = 1; i < args.size(); ++i) {
      const long long value = _wtoi64(args[i].c_str());
      const bool posted = PostMessageW(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value)), WM_CLOSE, 0, 0);
      Print(Object({{"hwnd", value}, {"posted", posted}}));
    }
  } else if (command == L"temp") {
    wchar_t buf[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buf);
    Print(Object({{"temp", buf}}));
  } else if (command == L"chinese-fonts") {
    for (const auto& [font, type] : ChineseFonts())
      Print(Object({{"face", font.lfFaceName}, {"charset", font.lfCharSet}}));
  } else if (command == L"folders") {
    return ListShellFolders();
  } else if (command == L"version" && args.size() == 2) {
    return VersionInfo(args[1]);
  } else {
    Print(Object({{"error", L"usage: winprobe procs|windows|end PID...|close PID...|closewindow HWND...|"
                            L"temp|chinese-fonts|folders|version PATH|serve"}}));
    return 2;
  }
  return 0;
}

int Serve() {
  std::string pending;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got) {
    pending.append(buf, got);
    std::ranges::replace(pending, '\r', ' ');
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      Words words = Split(FromUtf8(pending.substr(0, end)), L' ');
      std::erase(words, L"");
      Print(Object({{"done", Answer(words)}}));
    }
  }
  return 0;
}

}  // namespace

int main() {
  const Words args = Arguments();
  return args.size() == 2 && args[1] == L"serve" ? Serve() : Answer(Words(args.begin() + 1, args.end()));
}
