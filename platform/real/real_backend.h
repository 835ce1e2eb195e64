// What the real backend's files share: the Windows headers, the handle and
// text casts, the code-page layer's text buffer and the backend class.
//
// The seam's header comes first: <windows.h> defines macros (TRUE,
// ERROR_SUCCESS, WM_QUIT, ...) that would clash with the seam's own constants.
#pragma once

#include "platform/win_api.h"

#include <cstddef>
#include <cstdint>

#undef UNICODE
#undef _UNICODE
#include <windows.h>

namespace real {

template <class Fn>
Fn Lookup(const char* module, const char* name) {
  const auto address = reinterpret_cast<std::uintptr_t>(::GetProcAddress(::GetModuleHandleA(module), name));
  return reinterpret_cast<Fn>(address);
}

template <class T>
T To(std::uintptr_t value) {
  return reinterpret_cast<T>(value);
}

template <class T>
std::uintptr_t From(T* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

inline const wchar_t* Wide(const win::WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(win::WCHAR* text) { return reinterpret_cast<wchar_t*>(text); }

// The program's text is code page 936 whatever the system's ANSI code page:
// each 8-bit operation converts its texts and calls the platform's UTF-16 twin.
// It converts with GB18030 (54936), which gives the same bytes as 936 for
// every character 936 has and holds every other one too: a path the system
// hands out (a folder named "Thistlegarden ♪", a user name in Korean) comes
// back to it unchanged.
constexpr ::UINT kTextCodePage = 54936;
constexpr ::DWORD kLongestPath = 32768;

// UTF-16 text for a W call: on the stack when it fits a path, else on the heap.
// Null and atoms (values below 0x10000) given for a text pass through as they are.
class WideText16 {
 public:
  WideText16() = default;
  explicit WideText16(const char* text, int count = -1);
  WideText16(const WideText16&) = delete;
  WideText16& operator=(const WideText16&) = delete;
  ~WideText16();

  // False when the text could not be converted (the last error says why).
  bool ok() const { return ok_; }
  wchar_t* get() { return passed_ ? atom_ : data(); }
  wchar_t* data() { return heap_ != nullptr ? heap_ : small_; }
  ::DWORD capacity() const { return capacity_; }

  // Room for `units` UTF-16 units; the content is lost when it grows.
  bool Reserve(::DWORD units);

 private:
  // `count` bytes of `text`, or up to its terminator when -1; terminated.
  bool Assign(const char* text, int count);

  wchar_t small_[MAX_PATH + 1];
  wchar_t* heap_ = nullptr;
  wchar_t* atom_ = nullptr;
  bool passed_ = false;
  ::DWORD capacity_ = MAX_PATH + 1;
  bool ok_ = true;
};

// The bytes `count` units of `wide` take in the program's 8-bit text.
int TextBytes(const wchar_t* wide, int count);

// Writes `count` units of `wide` into `out` as at most size - 1 bytes and a
// terminator, cut after a whole character; the bytes written before the
// terminator.
int PutText(const wchar_t* wide, int count, char* out, int size);

// What an A call that reports the room it needs answers: the text's bytes
// when `out` holds them, else the bytes needed with the terminator.
::DWORD PathAnswer(const wchar_t* wide, ::DWORD count, char* out, ::DWORD size);

// Runs a W call that answers like GetTempPathW, growing the buffer as asked;
// the units it wrote, 0 on failure.
template <class Call>
::DWORD FetchPath(WideText16& wide, Call call) {
  ::DWORD n = call(wide.data(), wide.capacity());
  while (n >= wide.capacity()) {
    if (!wide.Reserve(n + 1)) return 0;
    n = call(wide.data(), wide.capacity());
  }
  return n;
}

// Writes a W call's path into an A caller's buffer, answering as the A call would.
template <class Call>
::DWORD PathInto(char* buffer, ::DWORD size, Call call) {
  WideText16 wide;
  const ::DWORD n = FetchPath(wide, call);
  return n == 0 ? 0 : PathAnswer(wide.data(), n, buffer, size);
}

using MessageBoxTimeoutFn = int(WINAPI*)(::HWND, LPCWSTR, LPCWSTR, ::UINT, ::WORD, ::DWORD);
using RtlAdjustPrivilegeFn = ::LONG(NTAPI*)(::ULONG, ::BOOLEAN, ::BOOLEAN, ::BOOLEAN*);
using NtQueryInformationProcessFn = ::LONG(NTAPI*)(::HANDLE, ::ULONG, void*, ::ULONG, ::ULONG*);

// win::Api forwarded to Windows; each group's calls live in the file named.
class Backend final : public win::Api {
 public:
  Backend();

  // Errors and time, console, the program, memory, OLE, DLL search (real_api.cpp)
  win::DWORD GetLastError() override;
  void Sleep(win::DWORD milliseconds) override;
  win::DWORD GetTickCount() override;
  win::HANDLE GetStdHandle(win::DWORD nStdHandle) override;
  win::BOOL GetConsoleScreenBufferInfo(win::HANDLE console,
                                       win::CONSOLE_SCREEN_BUFFER_INFO* info) override;
  win::BOOL SetConsoleTextAttribute(win::HANDLE console, win::WORD attributes) override;
  win::BOOL SetConsoleCursorPosition(win::HANDLE console, win::COORD position) override;
  win::UINT GetConsoleOutputCP() override;
  win::BOOL SetConsoleOutputCP(win::UINT codePage) override;
  win::BOOL WriteFile(win::HANDLE file, const void* buffer, win::DWORD size,
                      win::DWORD* written) override;
  win::BOOL CloseHandle(win::HANDLE handle) override;
  win::DWORD GetModuleFileNameA(win::HMODULE module, char* buffer, win::DWORD size) override;
  win::BOOL SetCurrentDirectoryA(const char* path) override;
  win::HANDLE GetCurrentProcess() override;
  win::DWORD GetCurrentProcessId() override;
  win::DWORD GetCurrentThreadId() override;
  win::HMODULE GetModuleHandleA(const char* name) override;
  win::FARPROC GetProcAddress(win::HMODULE module, const char* name) override;
  win::BOOL SetDefaultDllDirectories(win::DWORD directoryFlags) override;
  win::HANDLE GetProcessHeap() override;
  void* HeapAlloc(win::HANDLE heap, win::DWORD flags, std::size_t bytes) override;
  win::BOOL HeapFree(win::HANDLE heap, win::DWORD flags, void* memory) override;
  void* LocalAlloc(win::UINT flags, std::size_t bytes) override;
  void* LocalFree(void* memory) override;
  win::HRESULT OleInitialize() override;
  void OleUninitialize() override;

  // Code pages (code_pages.cpp)
  int WideCharToMultiByte(win::UINT codePage, win::DWORD flags, const win::WCHAR* wide,
                          int wideCount, char* text, int textSize) override;
  int MultiByteToWideChar(win::UINT codePage, win::DWORD flags, const char* text, int textCount,
                          win::WCHAR* wide, int wideSize) override;

  // Processes, ntdll and devices (processes.cpp)
  win::HANDLE CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD processId) override;
  win::BOOL Process32First(win::HANDLE snapshot, win::PROCESSENTRY32* entry) override;
  win::BOOL Process32Next(win::HANDLE snapshot, win::PROCESSENTRY32* entry) override;
  win::HANDLE OpenProcess(win::DWORD access, win::BOOL inherit, win::DWORD processId) override;
  win::HANDLE CreateMutexW(win::BOOL initialOwner, const win::WCHAR* name) override;
  win::BOOL TerminateProcess(win::HANDLE process, win::UINT exitCode) override;
  win::BOOL CreateProcessA(const char* applicationName, char* commandLine, win::BOOL inheritHandles,
                           win::DWORD creationFlags, const char* currentDirectory,
                           const win::STARTUPINFOA* startup,
                           win::PROCESS_INFORMATION* info) override;
  win::DWORD WaitForInputIdle(win::HANDLE process, win::DWORD milliseconds) override;
  win::DWORD WaitForSingleObject(win::HANDLE object, win::DWORD milliseconds) override;
  win::NTSTATUS RtlAdjustPrivilege(win::ULONG privilege, win::BOOL enable, win::BOOL currentThread,
                                   win::BOOL* wasEnabled) override;
  win::NTSTATUS NtQueryInformationProcess(win::HANDLE process, win::ULONG infoClass, void* buffer,
                                          win::ULONG length, win::ULONG* returnLength) override;
  win::DWORD QueryDosDeviceW(const win::WCHAR* device, win::WCHAR* target,
                             win::DWORD maxUnits) override;

  // Files and folders (files.cpp)
  win::HANDLE FindFirstFileA(const char* path, win::WIN32_FIND_DATAA* data) override;
  win::BOOL FindClose(win::HANDLE find) override;
  win::BOOL DeleteFileA(const char* path) override;
  win::HANDLE CreateFileA(const char* path, win::DWORD access, win::DWORD shareMode,
                          win::DWORD disposition, win::DWORD attributes) override;
  win::BOOL CopyFileA(const char* existing, const char* target, win::BOOL failIfExists) override;
  win::BOOL MoveFileExW(const win::WCHAR* existing, const win::WCHAR* target,
                        win::DWORD flags) override;
  win::BOOL CreateDirectoryW(const win::WCHAR* path) override;
  win::BOOL PathIsDirectoryW(const win::WCHAR* path) override;
  win::BOOL FlushFileBuffers(win::HANDLE file) override;
  win::BOOL ReadFile(win::HANDLE file, void* buffer, win::DWORD size, win::DWORD* read) override;
  win::DWORD GetTempPathA(win::DWORD size, char* buffer) override;
  win::UINT GetWindowsDirectoryA(char* buffer, win::UINT size) override;
  win::UINT GetSystemDirectoryA(char* buffer, win::UINT size) override;
  win::BOOL SHGetSpecialFolderPathA(win::HWND owner, char* path, int folder, win::BOOL create) override;

  // Registry, file attributes and the shell's name helpers (shell.cpp)
  win::LONG RegOpenKeyExW(win::HKEY root, const win::WCHAR* subKey, win::DWORD options,
                          win::DWORD access, win::HKEY* result) override;
  win::LONG RegQueryValueExW(win::HKEY key, const win::WCHAR* name, win::DWORD* reserved,
                             win::DWORD* type, win::BYTE* data, win::DWORD* size) override;
  win::LONG RegCloseKey(win::HKEY key) override;
  win::DWORD GetFileAttributesW(const win::WCHAR* path) override;
  const win::WCHAR* PathFindExtensionW(const win::WCHAR* path) override;
  win::SHORT GetFileTitleW(const win::WCHAR* path, win::WCHAR* title, win::WORD size) override;
  win::UINT GetSystemWow64DirectoryA(char* buffer, win::UINT size) override;

  // Message boxes (message_boxes.cpp)
  int MessageBoxTimeoutA(win::HWND owner, const char* text, const char* caption, win::UINT style,
                         win::WORD language, win::DWORD milliseconds) override;
  int MessageBoxA(win::HWND owner, const char* text, const char* caption, win::UINT style) override;

  // Windows, messages, painting, dialog keys and focus (windows.cpp)
  win::HWND FindWindowExA(win::HWND parent, win::HWND childAfter, const char* className,
                          const char* title) override;
  win::DWORD GetWindowThreadProcessId(win::HWND window, win::DWORD* processId) override;
  win::BOOL IsWindowVisible(win::HWND window) override;
  win::BOOL IsWindow(win::HWND window) override;
  win::HWND GetParent(win::HWND window) override;
  int GetClassNameA(win::HWND window, char* name, int maxCount) override;
  int GetWindowTextLengthW(win::HWND window) override;
  int GetWindowTextW(win::HWND window, win::WCHAR* text, int maxCount) override;
  int GetWindowTextA(win::HWND window, char* text, int maxCount) override;
  int GetWindowTextLengthA(win::HWND window) override;
  win::HWND GetDlgItem(win::HWND dialog, int id) override;
  win::BOOL SetWindowTextA(win::HWND window, const char* text) override;
  win::BOOL PeekMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last,
                         win::UINT remove) override;
  win::BOOL GetMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last) override;
  win::BOOL TranslateMessage(const win::MSG* msg) override;
  win::LRESULT DispatchMessageA(const win::MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  win::BOOL PostMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                         win::LPARAM lParam) override;
  win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                            win::LPARAM lParam) override;
  win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) override;
  win::WORD RegisterClassExA(const win::WNDCLASSEXA* windowClass) override;
  win::HWND CreateWindowExA(win::DWORD exStyle, const char* className, const char* title,
                            win::DWORD style, int x, int y, int width, int height, win::HWND parent,
                            win::HMENU menu) override;
  win::BOOL DestroyWindow(win::HWND window) override;
  win::BOOL ShowWindow(win::HWND window, int command) override;
  win::BOOL SetWindowPos(win::HWND window, win::HWND insertAfter, int x, int y, int width, int height,
                         win::UINT flags) override;
  win::BOOL MoveWindow(win::HWND window, int x, int y, int width, int height,
                       win::BOOL repaint) override;
  win::BOOL GetWindowRect(win::HWND window, win::RECT* rect) override;
  int GetSystemMetrics(int index) override;
  win::DWORD GetSysColor(int index) override;
  win::HGDIOBJ GetStockObject(int object) override;
  win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) override;
  win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) override;
  win::BOOL GetClientRect(win::HWND window, win::RECT* rect) override;
  win::DWORD SetTextColor(win::HDC dc, win::DWORD colour) override;
  win::DWORD SetBkColor(win::HDC dc, win::DWORD colour) override;
  int SetBkMode(win::HDC dc, int mode) override;
  win::HGDIOBJ SelectObject(win::HDC dc, win::HGDIOBJ object) override;
  int DrawTextA(win::HDC dc, const char* text, int count, win::RECT* rect,
                win::UINT format) override;
  int FillRect(win::HDC dc, const win::RECT* rect, win::HGDIOBJ brush) override;
  win::HGDIOBJ CreateSolidBrush(win::DWORD colour) override;
  win::BOOL DeleteObject(win::HGDIOBJ object) override;
  win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* msg) override;
  win::HWND SetFocus(win::HWND window) override;

 private:
  MessageBoxTimeoutFn messageBoxTimeout_;
  RtlAdjustPrivilegeFn adjustPrivilege_;
  NtQueryInformationProcessFn queryProcess_;
};

}  // namespace real
