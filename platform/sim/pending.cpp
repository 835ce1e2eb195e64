// Operations this machine does not model yet: each fails as Windows would
// with nothing to act on.
#include "platform/sim/machine.h"

namespace sim {

HANDLE Machine::CreateToolhelp32Snapshot(DWORD, DWORD) {
  Fails("CreateToolhelp32Snapshot", win::ERROR_INVALID_PARAMETER);
  return win::INVALID_HANDLE_VALUE;
}
BOOL Machine::Process32First(HANDLE, win::PROCESSENTRY32*) { return win::FALSE; }
BOOL Machine::Process32Next(HANDLE, win::PROCESSENTRY32*) { return win::FALSE; }
HANDLE Machine::OpenProcess(DWORD, BOOL, DWORD) { return 0; }
BOOL Machine::TerminateProcess(HANDLE, UINT) { return win::FALSE; }
BOOL Machine::CreateProcessA(const char*, char*, BOOL, DWORD, const char*,
                             const win::STARTUPINFOA*, win::PROCESS_INFORMATION*) {
  return win::FALSE;
}
DWORD Machine::WaitForInputIdle(HANDLE, DWORD) { return win::WAIT_FAILED; }
DWORD Machine::WaitForSingleObject(HANDLE, DWORD) { return win::WAIT_FAILED; }
win::NTSTATUS Machine::RtlAdjustPrivilege(win::ULONG, BOOL, BOOL, BOOL*) {
  return win::STATUS_PRIVILEGE_NOT_HELD;
}
win::NTSTATUS Machine::NtQueryInformationProcess(HANDLE, win::ULONG, void*, win::ULONG,
                                                 win::ULONG*) {
  return win::STATUS_INVALID_HANDLE;
}
DWORD Machine::QueryDosDeviceW(const WCHAR*, WCHAR*, DWORD) { return 0; }
HANDLE Machine::FindFirstFileA(const char*, win::WIN32_FIND_DATAA*) {
  return win::INVALID_HANDLE_VALUE;
}
BOOL Machine::FindClose(HANDLE) { return win::FALSE; }
BOOL Machine::DeleteFileA(const char*) { return win::FALSE; }
HANDLE Machine::CreateFileA(const char*, DWORD, DWORD, DWORD, DWORD) {
  return win::INVALID_HANDLE_VALUE;
}
BOOL Machine::CopyFileA(const char*, const char*, BOOL) { return win::FALSE; }
BOOL Machine::MoveFileExA(const char*, const char*, DWORD) { return win::FALSE; }
BOOL Machine::CreateDirectoryW(const WCHAR*) { return win::FALSE; }
DWORD Machine::GetFileAttributesW(const WCHAR*) { return win::INVALID_FILE_ATTRIBUTES; }
BOOL Machine::PathIsDirectoryW(const WCHAR*) { return win::FALSE; }
const WCHAR* Machine::PathFindExtensionW(const WCHAR* path) { return path; }
win::SHORT Machine::GetFileTitleW(const WCHAR*, WCHAR*, WORD) { return -1; }
DWORD Machine::GetTempPathA(DWORD, char*) { return 0; }
UINT Machine::GetWindowsDirectoryA(char*, UINT) { return 0; }
UINT Machine::GetSystemDirectoryA(char*, UINT) { return 0; }
UINT Machine::GetSystemWow64DirectoryA(char*, UINT) { return 0; }
BOOL Machine::SHGetSpecialFolderPathA(HWND, char*, int, BOOL) { return win::FALSE; }
win::LONG Machine::RegOpenKeyExW(win::HKEY, const WCHAR*, DWORD, DWORD, win::HKEY*) {
  return win::ERROR_FILE_NOT_FOUND;
}
win::LONG Machine::RegQueryValueExW(win::HKEY, const WCHAR*, DWORD*, DWORD*, win::BYTE*,
                                    DWORD*) {
  return win::ERROR_INVALID_HANDLE;
}
win::LONG Machine::RegCloseKey(win::HKEY) { return win::ERROR_INVALID_HANDLE; }

}  // namespace sim
