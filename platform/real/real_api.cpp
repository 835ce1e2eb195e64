// The backend itself, and the kernel32 calls of the program's own process:
// errors, time, console, memory, OLE and the DLL search. Windows widens an
// A module name in the ANSI code page, and GetModuleFileName reports a cut
// name only by filling the buffer; SetDefaultDllDirectories is missing on
// Windows 7 without KB2533623, so it is looked up at run time.
#include "platform/real/real_api.h"

#include "platform/real/real_backend.h"

#include <ole2.h>

namespace real {

namespace {

static_assert(sizeof(win::WCHAR) == sizeof(wchar_t));
static_assert(sizeof(win::PROCESSENTRY32::szExeFile) == MAX_PATH);
static_assert(sizeof(win::WIN32_FIND_DATAA::cFileName) == MAX_PATH);
static_assert(sizeof(win::UNICODE_STRING) == 2 * sizeof(void*));

using SetDefaultDllDirectoriesFn = ::BOOL(WINAPI*)(::DWORD);

}  // namespace

Backend::Backend()
    : messageBoxTimeout_(Lookup<MessageBoxTimeoutFn>("user32.dll", "MessageBoxTimeoutW")),
      adjustPrivilege_(Lookup<RtlAdjustPrivilegeFn>("ntdll.dll", "RtlAdjustPrivilege")),
      queryProcess_(Lookup<NtQueryInformationProcessFn>("ntdll.dll", "NtQueryInformationProcess")) {}

win::DWORD Backend::GetLastError() { return ::GetLastError(); }

void Backend::SetLastError(win::DWORD error) { ::SetLastError(error); }

void Backend::Sleep(win::DWORD milliseconds) { ::Sleep(milliseconds); }

win::DWORD Backend::GetTickCount() { return ::GetTickCount(); }

win::HANDLE Backend::GetStdHandle(win::DWORD nStdHandle) { return From(::GetStdHandle(nStdHandle)); }

win::BOOL Backend::GetConsoleScreenBufferInfo(win::HANDLE console,
                                            win::CONSOLE_SCREEN_BUFFER_INFO* info) {
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

win::BOOL Backend::SetConsoleTextAttribute(win::HANDLE console, win::WORD attributes) {
  return ::SetConsoleTextAttribute(To<::HANDLE>(console), attributes);
}

win::BOOL Backend::SetConsoleCursorPosition(win::HANDLE console, win::COORD position) {
  return ::SetConsoleCursorPosition(To<::HANDLE>(console), ::COORD{position.X, position.Y});
}

win::UINT Backend::GetConsoleOutputCP() { return ::GetConsoleOutputCP(); }

win::BOOL Backend::SetConsoleOutputCP(win::UINT codePage) { return ::SetConsoleOutputCP(codePage); }

win::BOOL Backend::WriteFile(win::HANDLE file, const void* buffer, win::DWORD size,
                           win::DWORD* written) {
  ::DWORD done = 0;
  const ::BOOL ok = ::WriteFile(To<::HANDLE>(file), buffer, size, &done, nullptr);
  if (written != nullptr) *written = done;
  return ok;
}

win::BOOL Backend::CloseHandle(win::HANDLE handle) { return ::CloseHandle(To<::HANDLE>(handle)); }

// Truncated to size - 1 bytes and terminated, answering size, when too long.
void Backend::GetLocalTime(win::SYSTEMTIME* time) {
  ::GetLocalTime(reinterpret_cast<::SYSTEMTIME*>(time));
}

win::DWORD Backend::FormatMessageW(win::DWORD flags, win::DWORD messageId, win::WCHAR* buffer,
                                   win::DWORD size) {
  return ::FormatMessageW(flags, nullptr, messageId, 0, Wide(buffer), size, nullptr);
}

win::DWORD Backend::GetModuleFileNameW(win::HMODULE module, win::WCHAR* buffer, win::DWORD size) {
  return ::GetModuleFileNameW(To<::HMODULE>(module), Wide(buffer), size);
}

const win::WCHAR* Backend::GetCommandLineW() {
  return reinterpret_cast<const win::WCHAR*>(::GetCommandLineW());
}

win::DWORD Backend::GetModuleFileNameA(win::HMODULE module, char* buffer, win::DWORD size) {
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

win::BOOL Backend::SetCurrentDirectoryA(const char* path) {
  WideText16 wide(path);
  return wide.ok() && ::SetCurrentDirectoryW(wide.get());
}

win::HANDLE Backend::GetCurrentProcess() { return From(::GetCurrentProcess()); }

win::DWORD Backend::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

win::DWORD Backend::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

win::HMODULE Backend::GetModuleHandleA(const char* name) {
  WideText16 wide(name);
  return wide.ok() ? From(::GetModuleHandleW(wide.get())) : 0;
}

win::FARPROC Backend::GetProcAddress(win::HMODULE module, const char* name) {
  return reinterpret_cast<std::uintptr_t>(::GetProcAddress(To<::HMODULE>(module), name));
}

// Windows 7 has it only with KB2533623.
win::BOOL Backend::SetDefaultDllDirectories(win::DWORD directoryFlags) {
  const auto set = Lookup<SetDefaultDllDirectoriesFn>("kernel32.dll", "SetDefaultDllDirectories");
  if (set == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return set(directoryFlags);
}

win::HANDLE Backend::GetProcessHeap() { return From(::GetProcessHeap()); }

void* Backend::HeapAlloc(win::HANDLE heap, win::DWORD flags, std::size_t bytes) {
  return ::HeapAlloc(To<::HANDLE>(heap), flags, bytes);
}

win::BOOL Backend::HeapFree(win::HANDLE heap, win::DWORD flags, void* memory) {
  return ::HeapFree(To<::HANDLE>(heap), flags, memory);
}

void* Backend::LocalAlloc(win::UINT flags, std::size_t bytes) { return ::LocalAlloc(flags, bytes); }

void* Backend::LocalFree(void* memory) { return ::LocalFree(memory); }

// ole32.
win::HRESULT Backend::OleInitialize() { return ::OleInitialize(nullptr); }

void Backend::OleUninitialize() { ::OleUninitialize(); }

}  // namespace real

win::Api& RealApi() {
  static real::Backend instance;
  return instance;
}
