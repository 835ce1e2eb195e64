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

#include <cstdlib>

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

using Words = std::vector<std::string>;

int EndProcesses(const Words& args, bool politely) {
  struct Target {
    DWORD pid;
    HANDLE process;
    DWORD error;
    int posted;
  };
  std::vector<Target> targets;
  for (size_t i = 1; i < args.size(); ++i) {
    Target t{static_cast<DWORD>(strtoul(args[i].c_str(), nullptr, 10)), nullptr, 0, 0};
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
    Print("{\"pid\":" + Number(t.pid) + ",\"ended\":" + Bool(ended) + ",\"closed\":" +
          Bool(closed) + ",\"error\":" + Number(t.error) + "}");
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
    Print("{\"error\":\"CoInitializeEx failed\",\"code\":" + Number(static_cast<ULONG>(init)) + "}");
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
      Print("{\"error\":\"no shell windows\",\"code\":" + Number(static_cast<ULONG>(hr)) + "}");
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
      Print("{\"hwnd\":" + Number(static_cast<ULONG_PTR>(hwnd)) + ",\"folder\":" +
            Json(FolderShown(app.p)) + "}");
    }
  }
  CoUninitialize();
  return status;
}

int Serve();

int Answer(const Words& args) {
  const std::string command = args.empty() ? "" : args[0];
  if (command == "procs") {
    for (const PROCESSENTRY32W& entry : Processes())
      Print("{\"pid\":" + Number(entry.th32ProcessID) + ",\"ppid\":" +
            Number(entry.th32ParentProcessID) + ",\"exe\":" + Json(entry.szExeFile) +
            ",\"path\":" + Json(ImagePath(entry.th32ProcessID)) + "}");
    return 0;
  }
  if (command == "windows") {
    for (HWND window : TopLevelWindows()) Print("{" + WindowFields(window) + "}");
    return 0;
  }
  if (command == "end") return EndProcesses(args, false);
  if (command == "close") return EndProcesses(args, true);
  if (command == "closewindow") {
    for (size_t i = 1; i < args.size(); ++i) {
      const unsigned long long value = strtoull(args[i].c_str(), nullptr, 10);
      const BOOL posted = PostMessageW(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value)),
                                       WM_CLOSE, 0, 0);
      Print("{\"hwnd\":" + Number(value) + ",\"posted\":" + Bool(posted) + "}");
    }
    return 0;
  }
  if (command == "temp") {
    wchar_t buf[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buf);
    Print("{\"temp\":" + Json(buf) + "}");
    return 0;
  }
  if (command == "chinese-fonts") {
    for (const auto& [font, type] : ChineseFonts())
      Print("{\"face\":" + Json(font.lfFaceName) + ",\"charset\":" + Number(font.lfCharSet) + "}");
    return 0;
  }
  if (command == "folders") return ListShellFolders();
  if (command == "serve" && args.size() == 1) return Serve();
  Print("{\"error\":\"usage: winprobe procs|windows|end PID...|close PID...|closewindow HWND...|temp|"
        "chinese-fonts|folders|serve\"}");
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
      for (const std::string& word : Split(line, ' '))
        if (!word.empty()) words.push_back(word);
      Print("{\"done\":" + Number(Answer(words)) + "}");
    } else if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got) {
      pending.append(buf, got);
    } else {
      return 0;
    }
  }
}

}  // namespace

int main(int argc, char** argv) { return Answer(Words(argv + 1, argv + argc)); }
