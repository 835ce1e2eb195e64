// win::Api forwarded to Windows. The seam's header comes first: <windows.h>
// defines macros (TRUE, ERROR_SUCCESS, WM_QUIT, ...) that would clash with
// the seam's own constants.
#include "platform/real/real_api.h"

#include <cstddef>
#include <cstring>

#undef UNICODE
#undef _UNICODE
#include <windows.h>
#include <commdlg.h>
#include <ole2.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

namespace {

static_assert(sizeof(win::WCHAR) == sizeof(wchar_t));
static_assert(sizeof(win::PROCESSENTRY32::szExeFile) == MAX_PATH);
static_assert(sizeof(win::WIN32_FIND_DATAA::cFileName) == MAX_PATH);
static_assert(sizeof(win::UNICODE_STRING) == 2 * sizeof(void*));

using MessageBoxTimeoutFn = int(WINAPI*)(::HWND, LPCWSTR, LPCWSTR, ::UINT, ::WORD, ::DWORD);
using RtlAdjustPrivilegeFn = ::LONG(NTAPI*)(::ULONG, ::BOOLEAN, ::BOOLEAN, ::BOOLEAN*);
using NtQueryInformationProcessFn = ::LONG(NTAPI*)(::HANDLE, ::ULONG, void*, ::ULONG, ::ULONG*);
using GetSystemWow64DirectoryFn = ::UINT(WINAPI*)(LPWSTR, ::UINT);
using SetDefaultDllDirectoriesFn = ::BOOL(WINAPI*)(::DWORD);

constexpr win::NTSTATUS kProcedureNotFound = static_cast<win::NTSTATUS>(0xC000007Au);

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

const wchar_t* Wide(const win::WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(win::WCHAR* text) { return reinterpret_cast<wchar_t*>(text); }

// The program's text is code page 936 whatever the system's ANSI code page:
// each 8-bit operation converts its texts and calls the platform's UTF-16 twin.
constexpr ::UINT kTextCodePage = 936;
constexpr ::DWORD kLongestPath = 32768;

// UTF-16 text for a W call: on the stack when it fits a path, else on the heap.
// Null and atoms (values below 0x10000) given for a text pass through as they are.
class WideText16 {
 public:
  WideText16() = default;
  explicit WideText16(const char* text, int count = -1) {
    if (reinterpret_cast<std::uintptr_t>(text) >> 16 == 0) {
      passed_ = true;
      atom_ = reinterpret_cast<wchar_t*>(const_cast<char*>(text));
      return;
    }
    ok_ = Assign(text, count);
  }
  WideText16(const WideText16&) = delete;
  WideText16& operator=(const WideText16&) = delete;
  ~WideText16() {
    if (heap_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, heap_);
  }

  // False when the text could not be converted (the last error says why).
  bool ok() const { return ok_; }
  wchar_t* get() { return passed_ ? atom_ : data(); }
  wchar_t* data() { return heap_ != nullptr ? heap_ : small_; }
  ::DWORD capacity() const { return capacity_; }

  // Room for `units` UTF-16 units; the content is lost when it grows.
  bool Reserve(::DWORD units) {
    if (units <= capacity_) return true;
    void* grown = ::HeapAlloc(::GetProcessHeap(), 0, units * sizeof(wchar_t));
    if (grown == nullptr) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    if (heap_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, heap_);
    heap_ = static_cast<wchar_t*>(grown);
    capacity_ = units;
    return true;
  }

 private:
  // `count` bytes of `text`, or up to its terminator when -1; terminated.
  bool Assign(const char* text, int count) {
    int n = count == 0 ? 0
                       : ::MultiByteToWideChar(kTextCodePage, 0, text, count, small_,
                                               static_cast<int>(capacity_ - 1));
    if (n == 0 && count != 0) {
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
      n = ::MultiByteToWideChar(kTextCodePage, 0, text, count, nullptr, 0);
      if (n <= 0 || !Reserve(static_cast<::DWORD>(n) + 1)) return false;
      n = ::MultiByteToWideChar(kTextCodePage, 0, text, count, heap_, n);
    }
    data()[n] = L'\0';
    return true;
  }

  wchar_t small_[MAX_PATH + 1];
  wchar_t* heap_ = nullptr;
  wchar_t* atom_ = nullptr;
  bool passed_ = false;
  ::DWORD capacity_ = MAX_PATH + 1;
  bool ok_ = true;
};

// The bytes `count` units of `wide` take in code page 936.
int TextBytes(const wchar_t* wide, int count) {
  return count > 0 ? ::WideCharToMultiByte(kTextCodePage, 0, wide, count, nullptr, 0, nullptr,
                                           nullptr)
                   : 0;
}

// Writes `count` units of `wide` into `out` as at most size - 1 bytes and a
// terminator, cut after a whole character; the bytes written before the
// terminator.
int PutText(const wchar_t* wide, int count, char* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  int n = 0;
  // Every unit takes at least one byte.
  for (int units = count < size - 1 ? count : size - 1; units > 0 && n == 0; --units) {
    if (units < count && wide[units - 1] >= 0xD800 && wide[units - 1] < 0xDC00) continue;
    n = ::WideCharToMultiByte(kTextCodePage, 0, wide, units, out, size - 1, nullptr, nullptr);
  }
  out[n] = '\0';
  return n;
}

// What an A call that reports the room it needs answers: the text's bytes
// when `out` holds them, else the bytes needed with the terminator.
::DWORD PathAnswer(const wchar_t* wide, ::DWORD count, char* out, ::DWORD size) {
  const auto bytes = static_cast<::DWORD>(TextBytes(wide, static_cast<int>(count)));
  if (out == nullptr || bytes >= size) return bytes + 1;
  PutText(wide, static_cast<int>(count), out, static_cast<int>(size));
  return bytes;
}

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

// A window's text, fetched as UTF-16; the units, 0 when it has none.
int WindowText(::HWND window, WideText16& wide) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0 || !wide.Reserve(static_cast<::DWORD>(length) + 1)) return 0;
  return ::GetWindowTextW(window, wide.data(), length + 1);
}

// A combo box item's text, fetched as UTF-16; the units, or CB_ERR.
::LRESULT ItemText(::HWND combo, ::WPARAM index, WideText16& wide) {
  const ::LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length < 0) return length;
  if (!wide.Reserve(static_cast<::DWORD>(length) + 1)) return CB_ERR;
  return ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<::LPARAM>(wide.data()));
}

// The predefined keys are 32-bit values that 64-bit Windows sign-extends.
::HKEY ToKey(win::HKEY key) {
  if ((key & ~std::uintptr_t{0xFF}) == 0x80000000u) {
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
    return To<::HKEY>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(low)));
  }
  return To<::HKEY>(key);
}

::MSG ToMsg(const win::MSG& in) {
  ::MSG out{};
  out.hwnd = To<::HWND>(in.hwnd);
  out.message = in.message;
  out.wParam = in.wParam;
  out.lParam = in.lParam;
  out.time = in.time;
  out.pt.x = in.pt.x;
  out.pt.y = in.pt.y;
  return out;
}

void FromMsg(const ::MSG& in, win::MSG* out) {
  out->hwnd = From(in.hwnd);
  out->message = in.message;
  out->wParam = in.wParam;
  out->lParam = in.lParam;
  out->time = in.time;
  out->pt.x = in.pt.x;
  out->pt.y = in.pt.y;
}

void FromEntry(const ::PROCESSENTRY32W& in, win::PROCESSENTRY32* out) {
  out->cntUsage = in.cntUsage;
  out->th32ProcessID = in.th32ProcessID;
  out->th32DefaultHeapID = in.th32DefaultHeapID;
  out->th32ModuleID = in.th32ModuleID;
  out->cntThreads = in.cntThreads;
  out->th32ParentProcessID = in.th32ParentProcessID;
  out->pcPriClassBase = in.pcPriClassBase;
  out->dwFlags = in.dwFlags;
  PutText(in.szExeFile, ::lstrlenW(in.szExeFile), out->szExeFile, sizeof(out->szExeFile));
}

// The program's window classes: every window of theirs runs Trampoline, which
// finds the program's procedure and context by the class atom.
struct ClassSlot {
  ::ATOM atom;
  win::WindowProc proc;
  void* context;
};
ClassSlot g_classes[8];

LRESULT CALLBACK Trampoline(::HWND window, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  const auto atom = static_cast<::ATOM>(::GetClassWord(window, GCW_ATOM));
  for (const ClassSlot& slot : g_classes) {
    if (slot.atom != 0 && slot.atom == atom) {
      return slot.proc(slot.context, From(window), message, wParam, lParam);
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Wine's MessageBoxTimeoutA ignores its time-out: a thread timer of our own
// ends the box with the time-out's result, 32000, on every platform.
struct BoxGuard {
  ::UINT_PTR timer;
  ::DWORD start;
  ::DWORD limit;
  BoxGuard* outer;
};
BoxGuard* g_boxGuard = nullptr;  // the innermost box on screen

::BOOL CALLBACK FindOpenBox(::HWND window, ::LPARAM found) {
  char name[8];
  if (::GetClassNameA(window, name, sizeof name) == 6 && std::memcmp(name, "#32770", 7) == 0 &&
      ::IsWindowEnabled(window)) {
    *reinterpret_cast<::HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK EndTimedOutBox(::HWND, ::UINT, ::UINT_PTR timer, ::DWORD) {
  BoxGuard* guard = g_boxGuard;
  while (guard != nullptr && guard->timer != timer) guard = guard->outer;
  if (guard == nullptr) return;  // left over from a box already closed
  // A message left over from an earlier box that had the same timer comes
  // too early for this one: wait for the rest of this box's time.
  const ::DWORD elapsed = ::GetTickCount() - guard->start;
  if (elapsed < guard->limit) {
    ::SetTimer(nullptr, timer, guard->limit - elapsed, EndTimedOutBox);
    return;
  }
  ::HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindOpenBox, reinterpret_cast<::LPARAM>(&box));
  if (box != nullptr) ::EndDialog(box, 32000);
}

class RealApi final : public win::Api {
 public:
  RealApi()
      : messageBoxTimeout_(Lookup<MessageBoxTimeoutFn>("user32.dll", "MessageBoxTimeoutW")),
        adjustPrivilege_(Lookup<RtlAdjustPrivilegeFn>("ntdll.dll", "RtlAdjustPrivilege")),
        queryProcess_(Lookup<NtQueryInformationProcessFn>("ntdll.dll", "NtQueryInformationProcess")) {}

  // kernel32: errors and time.
  win::DWORD GetLastError() override { return ::GetLastError(); }
  void Sleep(win::DWORD milliseconds) override { ::Sleep(milliseconds); }
  win::DWORD GetTickCount() override { return ::GetTickCount(); }

  // kernel32: standard handles and console.
  win::HANDLE GetStdHandle(win::DWORD nStdHandle) override { return From(::GetStdHandle(nStdHandle)); }

  win::BOOL GetConsoleScreenBufferInfo(win::HANDLE console,
                                       win::CONSOLE_SCREEN_BUFFER_INFO* info) override {
    ::CONSOLE_SCREEN_BUFFER_INFO real{};
    const ::BOOL ok = ::GetConsoleScreenBufferInfo(To<::HANDLE>(console), &real);
    if (ok && info != nullptr) {
      info->dwSize = {real.dwSize.X, real.dwSize.Y};
      info->dwCursorPosition = {real.dwCursorPosition.X, real.dwCursorPosition.Y};
      info->wAttributes = real.wAttributes;
      info->srWindow = {real.srWindow.Left, real.srWindow.Top, real.srWindow.Right,
                        real.srWindow.Bottom};
      info->dwMaximumWindowSize = {real.dwMaximumWindowSize.X, real.dwMaximumWindowSize.Y};
    }
    return ok;
  }

  win::BOOL SetConsoleTextAttribute(win::HANDLE console, win::WORD attributes) override {
    return ::SetConsoleTextAttribute(To<::HANDLE>(console), attributes);
  }

  win::BOOL SetConsoleCursorPosition(win::HANDLE console, win::COORD position) override {
    return ::SetConsoleCursorPosition(To<::HANDLE>(console), ::COORD{position.X, position.Y});
  }

  win::UINT GetConsoleOutputCP() override { return ::GetConsoleOutputCP(); }
  win::BOOL SetConsoleOutputCP(win::UINT codePage) override { return ::SetConsoleOutputCP(codePage); }

  win::BOOL WriteFile(win::HANDLE file, const void* buffer, win::DWORD size,
                      win::DWORD* written) override {
    ::DWORD done = 0;
    const ::BOOL ok = ::WriteFile(To<::HANDLE>(file), buffer, size, &done, nullptr);
    if (written != nullptr) *written = done;
    return ok;
  }

  win::BOOL CloseHandle(win::HANDLE handle) override { return ::CloseHandle(To<::HANDLE>(handle)); }

  // kernel32: the program itself.
  // Truncated to size - 1 bytes and terminated, answering size, when too long.
  win::DWORD GetModuleFileNameA(win::HMODULE module, char* buffer, win::DWORD size) override {
    WideText16 wide;
    ::DWORD n = ::GetModuleFileNameW(To<::HMODULE>(module), wide.data(), wide.capacity());
    if (n == wide.capacity() && wide.Reserve(kLongestPath))
      n = ::GetModuleFileNameW(To<::HMODULE>(module), wide.data(), wide.capacity());
    if (n == 0) return 0;
    if (buffer == nullptr || size == 0) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    const int written = PutText(wide.data(), static_cast<int>(n), buffer, static_cast<int>(size));
    if (static_cast<::DWORD>(TextBytes(wide.data(), static_cast<int>(n))) >= size) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    return static_cast<win::DWORD>(written);
  }
  win::BOOL SetCurrentDirectoryA(const char* path) override {
    WideText16 wide(path);
    return wide.ok() && ::SetCurrentDirectoryW(wide.get());
  }
  win::HANDLE GetCurrentProcess() override { return From(::GetCurrentProcess()); }
  win::DWORD GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
  win::DWORD GetCurrentThreadId() override { return ::GetCurrentThreadId(); }
  win::HMODULE GetModuleHandleA(const char* name) override {
    WideText16 wide(name);
    return wide.ok() ? From(::GetModuleHandleW(wide.get())) : 0;
  }
  win::FARPROC GetProcAddress(win::HMODULE module, const char* name) override {
    return reinterpret_cast<std::uintptr_t>(::GetProcAddress(To<::HMODULE>(module), name));
  }

  // kernel32: code pages.
  int WideCharToMultiByte(win::UINT codePage, win::DWORD flags, const win::WCHAR* wide,
                          int wideCount, char* text, int textSize) override {
    return ::WideCharToMultiByte(codePage, flags, Wide(wide), wideCount, text, textSize, nullptr,
                                 nullptr);
  }
  int MultiByteToWideChar(win::UINT codePage, win::DWORD flags, const char* text, int textCount,
                          win::WCHAR* wide, int wideSize) override {
    return ::MultiByteToWideChar(codePage, flags, text, textCount, Wide(wide), wideSize);
  }

  // kernel32: processes.
  win::HANDLE CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD processId) override {
    return From(::CreateToolhelp32Snapshot(flags, processId));
  }
  win::BOOL Process32First(win::HANDLE snapshot, win::PROCESSENTRY32* entry) override {
    return WalkProcesses(snapshot, entry, ::Process32FirstW);
  }
  win::BOOL Process32Next(win::HANDLE snapshot, win::PROCESSENTRY32* entry) override {
    return WalkProcesses(snapshot, entry, ::Process32NextW);
  }
  win::HANDLE OpenProcess(win::DWORD access, win::BOOL inherit, win::DWORD processId) override {
    return From(::OpenProcess(access, inherit, processId));
  }
  win::BOOL TerminateProcess(win::HANDLE process, win::UINT exitCode) override {
    return ::TerminateProcess(To<::HANDLE>(process), exitCode);
  }

  win::BOOL CreateProcessA(const char* applicationName, char* commandLine, win::BOOL inheritHandles,
                           win::DWORD creationFlags, const char* currentDirectory,
                           const win::STARTUPINFOA* startup,
                           win::PROCESS_INFORMATION* info) override {
    ::STARTUPINFOW real{};
    real.cb = sizeof(real);
    if (startup != nullptr) {
      real.dwFlags = startup->dwFlags;
      real.wShowWindow = startup->wShowWindow;
    }
    // The platform may write into the command line: the converted copy is ours.
    WideText16 application(applicationName), command(commandLine), directory(currentDirectory);
    if (!application.ok() || !command.ok() || !directory.ok()) return FALSE;
    ::PROCESS_INFORMATION started{};
    const ::BOOL ok =
        ::CreateProcessW(application.get(), command.get(), nullptr, nullptr, inheritHandles,
                         creationFlags, nullptr, directory.get(), &real, &started);
    if (ok && info != nullptr) {
      info->hProcess = From(started.hProcess);
      info->hThread = From(started.hThread);
      info->dwProcessId = started.dwProcessId;
      info->dwThreadId = started.dwThreadId;
    }
    return ok;
  }

  win::DWORD WaitForInputIdle(win::HANDLE process, win::DWORD milliseconds) override {
    return ::WaitForInputIdle(To<::HANDLE>(process), milliseconds);
  }
  win::DWORD WaitForSingleObject(win::HANDLE object, win::DWORD milliseconds) override {
    return ::WaitForSingleObject(To<::HANDLE>(object), milliseconds);
  }

  // kernel32: memory.
  win::HANDLE GetProcessHeap() override { return From(::GetProcessHeap()); }
  void* HeapAlloc(win::HANDLE heap, win::DWORD flags, std::size_t bytes) override {
    return ::HeapAlloc(To<::HANDLE>(heap), flags, bytes);
  }
  win::BOOL HeapFree(win::HANDLE heap, win::DWORD flags, void* memory) override {
    return ::HeapFree(To<::HANDLE>(heap), flags, memory);
  }
  void* LocalAlloc(win::UINT flags, std::size_t bytes) override { return ::LocalAlloc(flags, bytes); }
  void* LocalFree(void* memory) override { return ::LocalFree(memory); }

  // ntdll.
  win::NTSTATUS RtlAdjustPrivilege(win::ULONG privilege, win::BOOL enable, win::BOOL currentThread,
                                   win::BOOL* wasEnabled) override {
    if (adjustPrivilege_ == nullptr) return kProcedureNotFound;
    ::BOOLEAN was = FALSE;
    const ::LONG status = adjustPrivilege_(privilege, enable ? TRUE : FALSE,
                                           currentThread ? TRUE : FALSE, &was);
    if (status >= 0 && wasEnabled != nullptr) *wasEnabled = was ? TRUE : FALSE;
    return status;
  }

  win::NTSTATUS NtQueryInformationProcess(win::HANDLE process, win::ULONG infoClass, void* buffer,
                                          win::ULONG length, win::ULONG* returnLength) override {
    if (queryProcess_ == nullptr) return kProcedureNotFound;
    ::ULONG needed = 0;
    const ::LONG status = queryProcess_(To<::HANDLE>(process), infoClass, buffer, length,
                                        returnLength != nullptr ? &needed : nullptr);
    if (returnLength != nullptr) *returnLength = needed;
    return status;
  }

  // kernel32: devices.
  win::DWORD QueryDosDeviceW(const win::WCHAR* device, win::WCHAR* target,
                             win::DWORD maxUnits) override {
    return ::QueryDosDeviceW(Wide(device), Wide(target), maxUnits);
  }

  // kernel32 and shell: files and folders.
  win::HANDLE FindFirstFileA(const char* path, win::WIN32_FIND_DATAA* data) override {
    WideText16 wide(path);
    if (!wide.ok()) return From(INVALID_HANDLE_VALUE);
    ::WIN32_FIND_DATAW found{};
    const ::HANDLE find = ::FindFirstFileW(wide.get(), &found);
    if (find != INVALID_HANDLE_VALUE && data != nullptr) {
      data->dwFileAttributes = found.dwFileAttributes;
      data->nFileSizeHigh = found.nFileSizeHigh;
      data->nFileSizeLow = found.nFileSizeLow;
      PutText(found.cFileName, ::lstrlenW(found.cFileName), data->cFileName,
              sizeof(data->cFileName));
    }
    return From(find);
  }
  win::BOOL FindClose(win::HANDLE find) override { return ::FindClose(To<::HANDLE>(find)); }
  win::BOOL DeleteFileA(const char* path) override {
    WideText16 wide(path);
    return wide.ok() && ::DeleteFileW(wide.get());
  }
  win::HANDLE CreateFileA(const char* path, win::DWORD access, win::DWORD shareMode,
                          win::DWORD disposition, win::DWORD attributes) override {
    WideText16 wide(path);
    if (!wide.ok()) return From(INVALID_HANDLE_VALUE);
    return From(
        ::CreateFileW(wide.get(), access, shareMode, nullptr, disposition, attributes, nullptr));
  }
  win::BOOL CopyFileA(const char* existing, const char* target, win::BOOL failIfExists) override {
    WideText16 from(existing), to(target);
    return from.ok() && to.ok() && ::CopyFileW(from.get(), to.get(), failIfExists);
  }
  win::BOOL MoveFileExA(const char* existing, const char* target, win::DWORD flags) override {
    WideText16 from(existing), to(target);
    return from.ok() && to.ok() && ::MoveFileExW(from.get(), to.get(), flags);
  }
  win::BOOL CreateDirectoryW(const win::WCHAR* path) override {
    return ::CreateDirectoryW(Wide(path), nullptr);
  }
  win::DWORD GetFileAttributesW(const win::WCHAR* path) override {
    return ::GetFileAttributesW(Wide(path));
  }
  win::BOOL PathIsDirectoryW(const win::WCHAR* path) override { return ::PathIsDirectoryW(Wide(path)); }
  const win::WCHAR* PathFindExtensionW(const win::WCHAR* path) override {
    return reinterpret_cast<const win::WCHAR*>(::PathFindExtensionW(Wide(path)));
  }
  win::SHORT GetFileTitleW(const win::WCHAR* path, win::WCHAR* title, win::WORD size) override {
    return ::GetFileTitleW(Wide(path), Wide(title), size);
  }
  win::DWORD GetTempPathA(win::DWORD size, char* buffer) override {
    return PathInto(buffer, size, [](wchar_t* out, ::DWORD room) { return ::GetTempPathW(room, out); });
  }
  win::UINT GetWindowsDirectoryA(char* buffer, win::UINT size) override {
    return PathInto(buffer, size,
                    [](wchar_t* out, ::DWORD room) { return ::GetWindowsDirectoryW(out, room); });
  }
  win::UINT GetSystemDirectoryA(char* buffer, win::UINT size) override {
    return PathInto(buffer, size,
                    [](wchar_t* out, ::DWORD room) { return ::GetSystemDirectoryW(out, room); });
  }
  win::UINT GetSystemWow64DirectoryA(char* buffer, win::UINT size) override {
    const auto fn = Lookup<GetSystemWow64DirectoryFn>("kernel32.dll", "GetSystemWow64DirectoryW");
    if (fn == nullptr) {
      ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
      return 0;
    }
    return PathInto(buffer, size, [fn](wchar_t* out, ::DWORD room) -> ::DWORD { return fn(out, room); });
  }
  // `path` has room for MAX_PATH bytes.
  win::BOOL SHGetSpecialFolderPathA(win::HWND owner, char* path, int folder, win::BOOL create) override {
    WideText16 wide;
    if (path == nullptr || !::SHGetSpecialFolderPathW(To<::HWND>(owner), wide.data(), folder, create))
      return FALSE;
    const int length = ::lstrlenW(wide.data());
    if (TextBytes(wide.data(), length) >= MAX_PATH) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    PutText(wide.data(), length, path, MAX_PATH);
    return TRUE;
  }

  // advapi32.
  win::LONG RegOpenKeyExW(win::HKEY root, const win::WCHAR* subKey, win::DWORD options,
                          win::DWORD access, win::HKEY* result) override {
    ::HKEY opened = nullptr;
    const ::LONG status = ::RegOpenKeyExW(ToKey(root), Wide(subKey), options, access, &opened);
    if (result != nullptr) *result = From(opened);
    return status;
  }
  win::LONG RegQueryValueExW(win::HKEY key, const win::WCHAR* name, win::DWORD* reserved,
                             win::DWORD* type, win::BYTE* data, win::DWORD* size) override {
    ::DWORD realReserved = reserved != nullptr ? *reserved : 0;
    ::DWORD realType = 0;
    ::DWORD realSize = size != nullptr ? *size : 0;
    const ::LONG status =
        ::RegQueryValueExW(ToKey(key), Wide(name), reserved != nullptr ? &realReserved : nullptr,
                           type != nullptr ? &realType : nullptr, data,
                           size != nullptr ? &realSize : nullptr);
    if (type != nullptr) *type = realType;
    if (size != nullptr) *size = realSize;
    return status;
  }
  win::LONG RegCloseKey(win::HKEY key) override { return ::RegCloseKey(ToKey(key)); }

  // ole32.
  win::HRESULT OleInitialize() override { return ::OleInitialize(nullptr); }
  void OleUninitialize() override { ::OleUninitialize(); }

  // user32: finding and reading windows.
  win::HWND FindWindowExA(win::HWND parent, win::HWND childAfter, const char* className,
                          const char* title) override {
    WideText16 wideClass(className), wideTitle(title);
    if (!wideClass.ok() || !wideTitle.ok()) return 0;
    return From(::FindWindowExW(To<::HWND>(parent), To<::HWND>(childAfter), wideClass.get(),
                                wideTitle.get()));
  }
  win::DWORD GetWindowThreadProcessId(win::HWND window, win::DWORD* processId) override {
    // Written only when the window exists, as the platform does.
    ::DWORD owner = processId != nullptr ? *processId : 0;
    const ::DWORD thread =
        ::GetWindowThreadProcessId(To<::HWND>(window), processId != nullptr ? &owner : nullptr);
    if (processId != nullptr) *processId = owner;
    return thread;
  }
  win::BOOL IsWindowVisible(win::HWND window) override { return ::IsWindowVisible(To<::HWND>(window)); }
  win::BOOL IsWindow(win::HWND window) override { return ::IsWindow(To<::HWND>(window)); }
  win::HWND GetParent(win::HWND window) override { return From(::GetParent(To<::HWND>(window))); }
  int GetClassNameA(win::HWND window, char* name, int maxCount) override {
    wchar_t wide[257];  // class names hold at most 256 characters
    const int n = ::GetClassNameW(To<::HWND>(window), wide, 257);
    return n > 0 ? PutText(wide, n, name, maxCount) : 0;
  }
  int GetWindowTextLengthW(win::HWND window) override {
    return ::GetWindowTextLengthW(To<::HWND>(window));
  }
  int GetWindowTextW(win::HWND window, win::WCHAR* text, int maxCount) override {
    return ::GetWindowTextW(To<::HWND>(window), Wide(text), maxCount);
  }
  int GetWindowTextA(win::HWND window, char* text, int maxCount) override {
    WideText16 wide;
    const int n = WindowText(To<::HWND>(window), wide);
    if (n == 0 && text != nullptr && maxCount > 0) text[0] = '\0';
    return n > 0 ? PutText(wide.data(), n, text, maxCount) : 0;
  }
  win::BOOL SetWindowTextA(win::HWND window, const char* text) override {
    WideText16 wide(text);
    return wide.ok() && ::SetWindowTextW(To<::HWND>(window), wide.get());
  }

  // user32: message boxes.
  int MessageBoxTimeoutA(win::HWND owner, const char* text, const char* caption, win::UINT style,
                         win::WORD language, win::DWORD milliseconds) override {
    if (messageBoxTimeout_ == nullptr) return 0;
    // 0 and INFINITE mean no time-out, as they do to Windows.
    WideText16 wideText(text), wideCaption(caption);
    if (!wideText.ok() || !wideCaption.ok()) return 0;
    BoxGuard guard{0, ::GetTickCount(), milliseconds, g_boxGuard};
    if (milliseconds != 0 && milliseconds != INFINITE)
      guard.timer = ::SetTimer(nullptr, 0, milliseconds, EndTimedOutBox);
    if (guard.timer != 0) g_boxGuard = &guard;
    const int result = messageBoxTimeout_(To<::HWND>(owner), wideText.get(), wideCaption.get(),
                                          style, language, milliseconds);
    if (guard.timer != 0) {
      ::KillTimer(nullptr, guard.timer);
      g_boxGuard = guard.outer;
    }
    return result;
  }
  int MessageBoxA(win::HWND owner, const char* text, const char* caption, win::UINT style) override {
    WideText16 wideText(text), wideCaption(caption);
    if (!wideText.ok() || !wideCaption.ok()) return 0;
    return ::MessageBoxW(To<::HWND>(owner), wideText.get(), wideCaption.get(), style);
  }

  // user32: messages.
  win::BOOL PeekMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last,
                         win::UINT remove) override {
    ::MSG real{};
    const ::BOOL got = ::PeekMessageW(&real, To<::HWND>(window), first, last, remove);
    if (got) FromMsg(real, msg);
    return got;
  }
  win::BOOL GetMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last) override {
    ::MSG real{};
    const ::BOOL got = ::GetMessageW(&real, To<::HWND>(window), first, last);
    if (got != -1) FromMsg(real, msg);
    return got;
  }
  win::BOOL TranslateMessage(const win::MSG* msg) override {
    const ::MSG real = ToMsg(*msg);
    return ::TranslateMessage(&real);
  }
  win::LRESULT DispatchMessageA(const win::MSG* msg) override {
    const ::MSG real = ToMsg(*msg);
    return ::DispatchMessageW(&real);
  }
  void PostQuitMessage(int exitCode) override { ::PostQuitMessage(exitCode); }
  win::BOOL PostMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                         win::LPARAM lParam) override {
    return ::PostMessageW(To<::HWND>(window), message, wParam, lParam);
  }
  win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                            win::LPARAM lParam) override {
    const ::HWND target = To<::HWND>(window);
    switch (message) {
      case WM_SETTEXT:
      case CB_ADDSTRING:
      case CB_INSERTSTRING:
      case CB_SELECTSTRING:
      case CB_FINDSTRING:
      case CB_FINDSTRINGEXACT: {
        WideText16 wide(reinterpret_cast<const char*>(lParam));
        if (!wide.ok()) return message == WM_SETTEXT ? FALSE : CB_ERR;
        return ::SendMessageW(target, message, wParam, reinterpret_cast<::LPARAM>(wide.get()));
      }
      case WM_GETTEXT:
        return GetWindowTextA(window, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
      case WM_GETTEXTLENGTH:
        return GetWindowTextLengthA(window);
      case CB_GETLBTEXT:
      case CB_GETLBTEXTLEN: {
        // The caller's buffer has room for what CB_GETLBTEXTLEN answered.
        WideText16 wide;
        const ::LRESULT n = ItemText(target, wParam, wide);
        if (n < 0) return n;
        const int bytes = TextBytes(wide.data(), static_cast<int>(n));
        if (message == CB_GETLBTEXT)
          return PutText(wide.data(), static_cast<int>(n), reinterpret_cast<char*>(lParam), bytes + 1);
        return bytes;
      }
      default:
        return ::SendMessageW(target, message, wParam, lParam);
    }
  }
  win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) override {
    return ::DefWindowProcW(To<::HWND>(window), message, wParam, lParam);
  }

  // user32 and gdi32: creating windows.
  win::WORD RegisterClassExA(const win::WNDCLASSEXA* windowClass) override {
    ClassSlot* free = nullptr;
    for (ClassSlot& slot : g_classes) {
      if (slot.atom == 0) {
        free = &slot;
        break;
      }
    }
    if (free == nullptr || windowClass->lpfnWndProc == nullptr) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    WideText16 name(windowClass->lpszClassName);
    if (!name.ok()) return 0;
    ::WNDCLASSEXW real{};
    real.cbSize = sizeof(real);
    real.style = windowClass->style;
    real.lpfnWndProc = Trampoline;
    real.hInstance = ::GetModuleHandleW(nullptr);
    real.hCursor = windowClass->arrowCursor ? ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)) : nullptr;
    real.lpszClassName = name.get();
    const ::ATOM atom = ::RegisterClassExW(&real);
    if (atom != 0) *free = {atom, windowClass->lpfnWndProc, windowClass->context};
    return atom;
  }
  win::HWND CreateWindowExA(win::DWORD exStyle, const char* className, const char* title,
                            win::DWORD style, int x, int y, int width, int height, win::HWND parent,
                            win::HMENU menu) override {
    WideText16 wideClass(className), wideTitle(title);
    if (!wideClass.ok() || !wideTitle.ok()) return 0;
    return From(::CreateWindowExW(exStyle, wideClass.get(), wideTitle.get(), style, x, y, width,
                                  height, To<::HWND>(parent), To<::HMENU>(menu),
                                  ::GetModuleHandleW(nullptr), nullptr));
  }
  win::BOOL DestroyWindow(win::HWND window) override { return ::DestroyWindow(To<::HWND>(window)); }
  win::BOOL ShowWindow(win::HWND window, int command) override {
    return ::ShowWindow(To<::HWND>(window), command);
  }
  win::BOOL SetWindowPos(win::HWND window, win::HWND insertAfter, int x, int y, int width, int height,
                         win::UINT flags) override {
    return ::SetWindowPos(To<::HWND>(window), To<::HWND>(insertAfter), x, y, width, height, flags);
  }
  win::BOOL MoveWindow(win::HWND window, int x, int y, int width, int height,
                       win::BOOL repaint) override {
    return ::MoveWindow(To<::HWND>(window), x, y, width, height, repaint);
  }
  win::BOOL GetWindowRect(win::HWND window, win::RECT* rect) override {
    ::RECT real{};
    const ::BOOL ok = ::GetWindowRect(To<::HWND>(window), &real);
    if (ok && rect != nullptr) *rect = {real.left, real.top, real.right, real.bottom};
    return ok;
  }
  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }
  win::DWORD GetSysColor(int index) override { return ::GetSysColor(index); }
  win::HGDIOBJ GetStockObject(int object) override { return From(::GetStockObject(object)); }
  int GetWindowTextLengthA(win::HWND window) override {
    WideText16 wide;
    return TextBytes(wide.data(), WindowText(To<::HWND>(window), wide));
  }
  win::HWND GetDlgItem(win::HWND dialog, int id) override {
    return From(::GetDlgItem(To<::HWND>(dialog), id));
  }

  // The platform's paint record travels inside the seam's.
  static_assert(sizeof(::PAINTSTRUCT) <= sizeof(win::PAINTSTRUCT::platform));
  win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) override {
    ::PAINTSTRUCT real{};
    ::HDC dc = ::BeginPaint(To<::HWND>(window), &real);
    std::memcpy(paint->platform, &real, sizeof real);
    paint->hdc = From(dc);
    paint->rcPaint = {real.rcPaint.left, real.rcPaint.top, real.rcPaint.right, real.rcPaint.bottom};
    return From(dc);
  }
  win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) override {
    ::PAINTSTRUCT real;
    std::memcpy(&real, paint->platform, sizeof real);
    return ::EndPaint(To<::HWND>(window), &real);
  }
  win::BOOL GetClientRect(win::HWND window, win::RECT* rect) override {
    ::RECT real{};
    const ::BOOL ok = ::GetClientRect(To<::HWND>(window), &real);
    if (ok) *rect = {real.left, real.top, real.right, real.bottom};
    return ok;
  }
  win::DWORD SetTextColor(win::HDC dc, win::DWORD colour) override {
    return ::SetTextColor(To<::HDC>(dc), colour);
  }
  win::DWORD SetBkColor(win::HDC dc, win::DWORD colour) override {
    return ::SetBkColor(To<::HDC>(dc), colour);
  }
  int SetBkMode(win::HDC dc, int mode) override { return ::SetBkMode(To<::HDC>(dc), mode); }
  win::HGDIOBJ SelectObject(win::HDC dc, win::HGDIOBJ object) override {
    return From(::SelectObject(To<::HDC>(dc), To<::HGDIOBJ>(object)));
  }
  int DrawTextA(win::HDC dc, const char* text, int count, win::RECT* rect,
                win::UINT format) override {
    WideText16 wide(text, count);
    if (!wide.ok()) return 0;
    ::RECT real{rect->left, rect->top, rect->right, rect->bottom};
    const int height = ::DrawTextW(To<::HDC>(dc), wide.get(), -1, &real, format);
    *rect = {real.left, real.top, real.right, real.bottom};
    return height;
  }
  int FillRect(win::HDC dc, const win::RECT* rect, win::HGDIOBJ brush) override {
    const ::RECT real{rect->left, rect->top, rect->right, rect->bottom};
    return ::FillRect(To<::HDC>(dc), &real, To<::HBRUSH>(brush));
  }
  win::HGDIOBJ CreateSolidBrush(win::DWORD colour) override {
    return From(::CreateSolidBrush(colour));
  }
  win::BOOL DeleteObject(win::HGDIOBJ object) override {
    return ::DeleteObject(To<::HGDIOBJ>(object));
  }

  // kernel32: DLL search. Windows 7 has it only with KB2533623.
  win::BOOL SetDefaultDllDirectories(win::DWORD directoryFlags) override {
    const auto set = Lookup<SetDefaultDllDirectoriesFn>("kernel32.dll", "SetDefaultDllDirectories");
    if (set == nullptr) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return FALSE;
    }
    return set(directoryFlags);
  }

  // user32: dialog keys and focus.
  win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* msg) override {
    ::MSG real = ToMsg(*msg);
    return ::IsDialogMessageW(To<::HWND>(dialog), &real);
  }
  win::HWND SetFocus(win::HWND window) override { return From(::SetFocus(To<::HWND>(window))); }

  // kernel32: writing a file beside another and swapping it in.
  win::BOOL FlushFileBuffers(win::HANDLE file) override {
    return ::FlushFileBuffers(To<::HANDLE>(file));
  }
  win::BOOL ReadFile(win::HANDLE file, void* buffer, win::DWORD size, win::DWORD* read) override {
    ::DWORD done = 0;
    const ::BOOL ok = ::ReadFile(To<::HANDLE>(file), buffer, size, &done, nullptr);
    if (read != nullptr) *read = done;
    return ok;
  }
  win::BOOL MoveFileExW(const win::WCHAR* existing, const win::WCHAR* target,
                        win::DWORD flags) override {
    return ::MoveFileExW(Wide(existing), Wide(target), flags);
  }

 private:
  using WalkFn = ::BOOL(WINAPI*)(::HANDLE, ::PROCESSENTRY32W*);

  static win::BOOL WalkProcesses(win::HANDLE snapshot, win::PROCESSENTRY32* entry, WalkFn walk) {
    ::PROCESSENTRY32W real{};
    // A size below the seam's record stays too small for Windows as well.
    real.dwSize = entry->dwSize >= sizeof(win::PROCESSENTRY32) ? sizeof(real) : entry->dwSize;
    const ::BOOL ok = walk(To<::HANDLE>(snapshot), &real);
    if (ok) FromEntry(real, entry);
    return ok;
  }

  MessageBoxTimeoutFn messageBoxTimeout_;
  RtlAdjustPrivilegeFn adjustPrivilege_;
  NtQueryInformationProcessFn queryProcess_;
};

}  // namespace

win::Api& RealApi() {
  static class RealApi instance;
  return instance;
}
