// A win::Api that forwards every call to another one, as LevelDB's
// EnvWrapper does: a test backend derives from it and overrides only the
// calls it changes, and a call added to win::Api is forwarded here once.
#pragma once

#include "platform/win_api.h"

namespace win {

class ApiWrapper : public Api {
 public:
  explicit ApiWrapper(Api& target) : target_(&target) {}

  Api& target() const { return *target_; }

  DWORD GetLastError() override { return target_->GetLastError(); }
  void Sleep(DWORD milliseconds) override { return target_->Sleep(milliseconds); }
  DWORD GetTickCount() override { return target_->GetTickCount(); }
  HANDLE GetStdHandle(DWORD nStdHandle) override { return target_->GetStdHandle(nStdHandle); }
  BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info) override {
    return target_->GetConsoleScreenBufferInfo(console, info);
  }
  BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes) override {
    return target_->SetConsoleTextAttribute(console, attributes);
  }
  BOOL SetConsoleCursorPosition(HANDLE console, COORD position) override {
    return target_->SetConsoleCursorPosition(console, position);
  }
  UINT GetConsoleOutputCP() override { return target_->GetConsoleOutputCP(); }
  BOOL SetConsoleOutputCP(UINT codePage) override { return target_->SetConsoleOutputCP(codePage); }
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) override {
    return target_->WriteFile(file, buffer, size, written);
  }
  BOOL CloseHandle(HANDLE handle) override { return target_->CloseHandle(handle); }
  DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) override {
    return target_->GetModuleFileNameA(module, buffer, size);
  }
  BOOL SetCurrentDirectoryA(const char* path) override {
    return target_->SetCurrentDirectoryA(path);
  }
  HANDLE GetCurrentProcess() override { return target_->GetCurrentProcess(); }
  DWORD GetCurrentProcessId() override { return target_->GetCurrentProcessId(); }
  DWORD GetCurrentThreadId() override { return target_->GetCurrentThreadId(); }
  HMODULE GetModuleHandleA(const char* name) override { return target_->GetModuleHandleA(name); }
  FARPROC GetProcAddress(HMODULE module, const char* name) override {
    return target_->GetProcAddress(module, name);
  }
  int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* text,
                          int textSize) override {
    return target_->WideCharToMultiByte(codePage, flags, wide, wideCount, text, textSize);
  }
  int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int textCount, WCHAR* wide,
                          int wideSize) override {
    return target_->MultiByteToWideChar(codePage, flags, text, textCount, wide, wideSize);
  }
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override {
    return target_->CreateToolhelp32Snapshot(flags, processId);
  }
  BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) override {
    return target_->Process32First(snapshot, entry);
  }
  BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) override {
    return target_->Process32Next(snapshot, entry);
  }
  HANDLE CreateMutexW(BOOL initialOwner, const WCHAR* name) override {
    return target_->CreateMutexW(initialOwner, name);
  }
  HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override {
    return target_->OpenProcess(access, inherit, processId);
  }
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override {
    return target_->TerminateProcess(process, exitCode);
  }
  BOOL CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles,
                      DWORD creationFlags, const char* currentDirectory,
                      const STARTUPINFOA* startup, PROCESS_INFORMATION* info) override {
    return target_->CreateProcessA(applicationName, commandLine, inheritHandles, creationFlags,
                                   currentDirectory, startup, info);
  }
  DWORD WaitForInputIdle(HANDLE process, DWORD milliseconds) override {
    return target_->WaitForInputIdle(process, milliseconds);
  }
  DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) override {
    return target_->WaitForSingleObject(object, milliseconds);
  }
  HANDLE GetProcessHeap() override { return target_->GetProcessHeap(); }
  void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) override {
    return target_->HeapAlloc(heap, flags, bytes);
  }
  BOOL HeapFree(HANDLE heap, DWORD flags, void* memory) override {
    return target_->HeapFree(heap, flags, memory);
  }
  void* LocalAlloc(UINT flags, std::size_t bytes) override {
    return target_->LocalAlloc(flags, bytes);
  }
  void* LocalFree(void* memory) override { return target_->LocalFree(memory); }
  NTSTATUS RtlAdjustPrivilege(ULONG privilege, BOOL enable, BOOL currentThread,
                              BOOL* wasEnabled) override {
    return target_->RtlAdjustPrivilege(privilege, enable, currentThread, wasEnabled);
  }
  NTSTATUS NtQueryInformationProcess(HANDLE process, ULONG infoClass, void* buffer, ULONG length,
                                     ULONG* returnLength) override {
    return target_->NtQueryInformationProcess(process, infoClass, buffer, length, returnLength);
  }
  DWORD QueryDosDeviceW(const WCHAR* device, WCHAR* target, DWORD maxUnits) override {
    return target_->QueryDosDeviceW(device, target, maxUnits);
  }
  HANDLE FindFirstFileA(const char* path, WIN32_FIND_DATAA* data) override {
    return target_->FindFirstFileA(path, data);
  }
  BOOL FindClose(HANDLE find) override { return target_->FindClose(find); }
  BOOL DeleteFileA(const char* path) override { return target_->DeleteFileA(path); }
  HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                     DWORD attributes) override {
    return target_->CreateFileA(path, access, shareMode, disposition, attributes);
  }
  BOOL CopyFileA(const char* existing, const char* target, BOOL failIfExists) override {
    return target_->CopyFileA(existing, target, failIfExists);
  }
  BOOL CreateDirectoryW(const WCHAR* path) override { return target_->CreateDirectoryW(path); }
  DWORD GetFileAttributesW(const WCHAR* path) override { return target_->GetFileAttributesW(path); }
  BOOL PathIsDirectoryW(const WCHAR* path) override { return target_->PathIsDirectoryW(path); }
  const WCHAR* PathFindExtensionW(const WCHAR* path) override {
    return target_->PathFindExtensionW(path);
  }
  SHORT GetFileTitleW(const WCHAR* path, WCHAR* title, WORD size) override {
    return target_->GetFileTitleW(path, title, size);
  }
  DWORD GetTempPathA(DWORD size, char* buffer) override {
    return target_->GetTempPathA(size, buffer);
  }
  UINT GetWindowsDirectoryA(char* buffer, UINT size) override {
    return target_->GetWindowsDirectoryA(buffer, size);
  }
  UINT GetSystemDirectoryA(char* buffer, UINT size) override {
    return target_->GetSystemDirectoryA(buffer, size);
  }
  UINT GetSystemWow64DirectoryA(char* buffer, UINT size) override {
    return target_->GetSystemWow64DirectoryA(buffer, size);
  }
  BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int folder, BOOL create) override {
    return target_->SHGetSpecialFolderPathA(owner, path, folder, create);
  }
  LONG RegOpenKeyExW(HKEY root, const WCHAR* subKey, DWORD options, DWORD access,
                     HKEY* result) override {
    return target_->RegOpenKeyExW(root, subKey, options, access, result);
  }
  LONG RegQueryValueExW(HKEY key, const WCHAR* name, DWORD* reserved, DWORD* type, BYTE* data,
                        DWORD* size) override {
    return target_->RegQueryValueExW(key, name, reserved, type, data, size);
  }
  LONG RegCloseKey(HKEY key) override { return target_->RegCloseKey(key); }
  HRESULT OleInitialize() override { return target_->OleInitialize(); }
  void OleUninitialize() override { return target_->OleUninitialize(); }
  HWND FindWindowExA(HWND parent, HWND childAfter, const char* className,
                     const char* title) override {
    return target_->FindWindowExA(parent, childAfter, className, title);
  }
  DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) override {
    return target_->GetWindowThreadProcessId(window, processId);
  }
  BOOL IsWindowVisible(HWND window) override { return target_->IsWindowVisible(window); }
  BOOL IsWindow(HWND window) override { return target_->IsWindow(window); }
  HWND GetParent(HWND window) override { return target_->GetParent(window); }
  int GetClassNameA(HWND window, char* name, int maxCount) override {
    return target_->GetClassNameA(window, name, maxCount);
  }
  int GetWindowTextLengthW(HWND window) override { return target_->GetWindowTextLengthW(window); }
  int GetWindowTextW(HWND window, WCHAR* text, int maxCount) override {
    return target_->GetWindowTextW(window, text, maxCount);
  }
  int GetWindowTextA(HWND window, char* text, int maxCount) override {
    return target_->GetWindowTextA(window, text, maxCount);
  }
  int GetWindowTextLengthA(HWND window) override { return target_->GetWindowTextLengthA(window); }
  HWND GetDlgItem(HWND dialog, int id) override { return target_->GetDlgItem(dialog, id); }
  BOOL SetWindowTextA(HWND window, const char* text) override {
    return target_->SetWindowTextA(window, text);
  }
  int MessageBoxTimeoutA(HWND owner, const char* text, const char* caption, UINT style,
                         WORD language, DWORD milliseconds) override {
    return target_->MessageBoxTimeoutA(owner, text, caption, style, language, milliseconds);
  }
  int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) override {
    return target_->MessageBoxA(owner, text, caption, style);
  }
  BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) override {
    return target_->PeekMessageA(msg, window, first, last, remove);
  }
  BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last) override {
    return target_->GetMessageA(msg, window, first, last);
  }
  BOOL TranslateMessage(const MSG* msg) override { return target_->TranslateMessage(msg); }
  LRESULT DispatchMessageA(const MSG* msg) override { return target_->DispatchMessageA(msg); }
  void PostQuitMessage(int exitCode) override { return target_->PostQuitMessage(exitCode); }
  BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return target_->PostMessageA(window, message, wParam, lParam);
  }
  LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return target_->SendMessageA(window, message, wParam, lParam);
  }
  LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return target_->DefWindowProcA(window, message, wParam, lParam);
  }
  WORD RegisterClassExA(const WNDCLASSEXA* windowClass) override {
    return target_->RegisterClassExA(windowClass);
  }
  HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                       int y, int width, int height, HWND parent, HMENU menu) override {
    return target_->CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent,
                                    menu);
  }
  BOOL DestroyWindow(HWND window) override { return target_->DestroyWindow(window); }
  BOOL ShowWindow(HWND window, int command) override {
    return target_->ShowWindow(window, command);
  }
  BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height,
                    UINT flags) override {
    return target_->SetWindowPos(window, insertAfter, x, y, width, height, flags);
  }
  BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) override {
    return target_->MoveWindow(window, x, y, width, height, repaint);
  }
  BOOL GetWindowRect(HWND window, RECT* rect) override {
    return target_->GetWindowRect(window, rect);
  }
  int GetSystemMetrics(int index) override { return target_->GetSystemMetrics(index); }
  DWORD GetSysColor(int index) override { return target_->GetSysColor(index); }
  HGDIOBJ GetStockObject(int object) override { return target_->GetStockObject(object); }
  HDC BeginPaint(HWND window, PAINTSTRUCT* paint) override {
    return target_->BeginPaint(window, paint);
  }
  BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) override {
    return target_->EndPaint(window, paint);
  }
  BOOL GetClientRect(HWND window, RECT* rect) override {
    return target_->GetClientRect(window, rect);
  }
  DWORD SetTextColor(HDC dc, DWORD colour) override { return target_->SetTextColor(dc, colour); }
  DWORD SetBkColor(HDC dc, DWORD colour) override { return target_->SetBkColor(dc, colour); }
  int SetBkMode(HDC dc, int mode) override { return target_->SetBkMode(dc, mode); }
  HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) override {
    return target_->SelectObject(dc, object);
  }
  int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) override {
    return target_->DrawTextA(dc, text, count, rect, format);
  }
  int FillRect(HDC dc, const RECT* rect, HGDIOBJ brush) override {
    return target_->FillRect(dc, rect, brush);
  }
  HGDIOBJ CreateSolidBrush(DWORD colour) override { return target_->CreateSolidBrush(colour); }
  BOOL DeleteObject(HGDIOBJ object) override { return target_->DeleteObject(object); }
  BOOL SetDefaultDllDirectories(DWORD directoryFlags) override {
    return target_->SetDefaultDllDirectories(directoryFlags);
  }
  BOOL IsDialogMessageA(HWND dialog, MSG* msg) override {
    return target_->IsDialogMessageA(dialog, msg);
  }
  HWND SetFocus(HWND window) override { return target_->SetFocus(window); }
  BOOL FlushFileBuffers(HANDLE file) override { return target_->FlushFileBuffers(file); }
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) override {
    return target_->ReadFile(file, buffer, size, read);
  }
  BOOL MoveFileExW(const WCHAR* existing, const WCHAR* target, DWORD flags) override {
    return target_->MoveFileExW(existing, target, flags);
  }

 private:
  Api* target_;
};

}  // namespace win
