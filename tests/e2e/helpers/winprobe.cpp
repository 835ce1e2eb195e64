// Looks at and ends Windows processes for the end-to-end tests; prints UTF-8
// JSON lines on standard output.
//
//   winprobe procs              one line per process: pid, ppid, exe, path
//   winprobe windows            one line per top-level window: hwnd, pid,
//                               class, title, visible, owner
//   winprobe end PID...         ends each process and waits (5 s) until it is gone;
//                               one line per PID, exit code = number not ended
//   winprobe close PID...       the same, but first asks the process's windows to
//                               close (WM_CLOSE) and gives it 5 s to exit
//   winprobe closewindow HWND...  asks each window to close (WM_CLOSE), one
//                               line per window; its process runs on
//   winprobe temp               the temporary-files folder (GetTempPathW)
//   winprobe chinese-fonts      one line per font family the desktop has for
//                               Simplified Chinese text (GB2312_CHARSET)
//   winprobe folders            one line per folder the shell's windows show
//                               (IShellWindows; a File Explorer tab each):
//                               hwnd, folder (a file system path or "")
//   winprobe version PATH       the version information of a program as
//                               Explorer reads it: {"file":"1.0.0.0","product":
//                               "1.0.0.0","translations":["080404b0"],"strings":
//                               {"CompanyName":...}} (the first translation's),
//                               else {"error":N} and exit code 1
//   winprobe serve              reads one command a line ("end 12 34") from
//                               standard input and answers it as above, then
//                               with {"done":EXIT CODE}, until its input ends:
//                               one process for many questions, where starting
//                               one costs more than the answer
#include "helper.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

std::wstring ImagePath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) size = 0;
  CloseHandle(process);
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

using Words = std::vector<std::wstring>;

int EndProcesses(const Words& args, bool politely) {
  struct Target {
    DWORD pid;
    HANDLE process;
    DWORD error;
    int posted;
  };
  std::vector<Target> targets;
  for (size_t i = 1; i < args.size(); ++i) {
    Target t{static_cast<DWORD>(_wtoi64(args[i].c_str())), nullptr, 0, 0};
    t.process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, t.pid);
    if (!t.process) t.error = GetLastError();
    if (t.process && politely) t.posted = CloseWindowsOf(t.pid);
    targets.push_back(t);
  }
  // All are asked at once, then given 5 s together.
  const ULONGLONG deadline = GetTickCount64() + 5000;
  int failed = 0;
  for (Target& t : targets) {
    bool ended = false, closed = false;
    if (t.process) {
      if (t.posted) {
        const ULONGLONG now = GetTickCount64();
        closed = WaitForSingleObject(t.process, now < deadline ? static_cast<DWORD>(deadline - now)
                                                               : 0) == WAIT_OBJECT_0;
      }
      ended = closed || TerminateProcess(t.process, 1) != 0;
      if (!ended) t.error = GetLastError();
      if (ended) ended = WaitForSingleObject(t.process, 5000) == WAIT_OBJECT_0;
      CloseHandle(t.process);
    }
    if (!ended) ++failed;
    Print(Object({{"pid", t.pid}, {"ended", ended}, {"closed", closed}, {"error", t.error}}));
  }
  return failed;
}

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p) p->Release();
  }
  void** out() { return reinterpret_cast<void**>(&p); }
};

// The file system folder a shell window shows, by its view; "" for another
// kind of place.
std::wstring FolderShown(IWebBrowserApp* app) {
  Held<IServiceProvider> provider;
  Held<IShellBrowser> browser;
  Held<IShellView> view;
  Held<IFolderView> folderView;
  Held<IPersistFolder2> folder;
  if (FAILED(app->QueryInterface(IID_IServiceProvider, provider.out())) ||
      FAILED(provider.p->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.out())) ||
      FAILED(browser.p->QueryActiveShellView(&view.p)) ||
      FAILED(view.p->QueryInterface(IID_IFolderView, folderView.out())) ||
      FAILED(folderView.p->GetFolder(IID_IPersistFolder2, folder.out())))
    return {};
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(folder.p->GetCurFolder(&pidl)) || !pidl) return {};
  std::wstring path(32768, L'\0');
  if (!SHGetPathFromIDListEx(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
    path.clear();
  CoTaskMemFree(pidl);
  path.resize(wcslen(path.c_str()));
  return path;
}

int ListShellFolders() {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init)) {
    Print(Object({{"error", L"CoInitializeEx failed"}, {"code", static_cast<ULONG>(init)}}));
    return 1;
  }
  int status = 0;
  {
    Held<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                  windows.out());
    long count = 0;
    if (SUCCEEDED(hr)) hr = windows.p->get_Count(&count);
    if (FAILED(hr)) {
      count = 0;
      Print(Object({{"error", L"no shell windows"}, {"code", static_cast<ULONG>(hr)}}));
      status = 1;
    }
    for (long i = 0; i < count; ++i) {
      VARIANT index;
      VariantInit(&index);
      index.vt = VT_I4;
      index.lVal = i;
      Held<IDispatch> item;
      Held<IWebBrowserApp> app;
      if (FAILED(windows.p->Item(index, &item.p)) || !item.p ||
          FAILED(item.p->QueryInterface(IID_IWebBrowserApp, app.out())))
        continue;
      SHANDLE_PTR hwnd = 0;
      app.p->get_HWND(&hwnd);
      Print(Object({{"hwnd", static_cast<ULONG_PTR>(hwnd)}, {"folder", FolderShown(app.p)}}));
    }
  }
  CoUninitialize();
  return status;
}

std::wstring FourParts(DWORD high, DWORD low) {
  wchar_t text[32];
  wsprintfW(text, L"%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
  return text;
}

int VersionInfo(const std::wstring& path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<unsigned char> block(size ? size : 1);
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
                     {"product", FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS)}}) +
            ",";
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

int Serve();

int Answer(const Words& args) {
  const std::wstring command = args.empty() ? L"" : args[0];
  if (command == L"procs") {
    for (const PROCESSENTRY32W& entry : Processes())
      Print(Object({{"pid", entry.th32ProcessID}, {"ppid", entry.th32ParentProcessID},
                    {"exe", entry.szExeFile}, {"path", ImagePath(entry.th32ProcessID)}}));
    return 0;
  }
  if (command == L"windows") {
    for (HWND window : TopLevelWindows()) Print("{" + WindowFields(window) + "}");
    return 0;
  }
  if (command == L"end") return EndProcesses(args, false);
  if (command == L"close") return EndProcesses(args, true);
  if (command == L"closewindow") {
    for (size_t i = 1; i < args.size(); ++i) {
      const long long value = _wtoi64(args[i].c_str());
      const bool posted = PostMessageW(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value)), WM_CLOSE, 0, 0);
      Print(Object({{"hwnd", value}, {"posted", posted}}));
    }
    return 0;
  }
  if (command == L"temp") {
    wchar_t buf[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buf);
    Print(Object({{"temp", buf}}));
    return 0;
  }
  if (command == L"chinese-fonts") {
    for (const auto& [font, type] : ChineseFonts())
      Print(Object({{"face", font.lfFaceName}, {"charset", font.lfCharSet}}));
    return 0;
  }
  if (command == L"folders") return ListShellFolders();
  if (command == L"version" && args.size() == 2) return VersionInfo(args[1]);
  if (command == L"serve" && args.size() == 1) return Serve();
  Print(Object({{"error", L"usage: winprobe procs|windows|end PID...|close PID...|closewindow HWND...|"
                          L"temp|chinese-fonts|folders|version PATH|serve"}}));
  return 2;
}

int Serve() {
  std::string pending;
  char buf[4096];
  DWORD got = 0;
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Words words;
      for (const std::wstring& word : Split(FromUtf8(line), L' '))
        if (!word.empty()) words.push_back(word);
      Print(Object({{"done", Answer(words)}}));
    } else if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got) {
      pending.append(buf, got);
    } else {
      return 0;
    }
  }
}

}  // namespace

int main() {
  const Words args = Arguments();
  return Answer(Words(args.begin() + 1, args.end()));
}
