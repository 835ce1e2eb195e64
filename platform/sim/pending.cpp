// Operations this machine does not model yet: each fails as Windows would
// with nothing to act on.
#include "platform/sim/machine.h"

namespace sim {

BOOL Machine::TerminateProcess(HANDLE, UINT) { return win::FALSE; }
BOOL Machine::CreateProcessA(const char*, char*, BOOL, DWORD, const char*,
                             const win::STARTUPINFOA*, win::PROCESS_INFORMATION*) {
  return win::FALSE;
}
DWORD Machine::WaitForInputIdle(HANDLE, DWORD) { return win::WAIT_FAILED; }
DWORD Machine::WaitForSingleObject(HANDLE, DWORD) { return win::WAIT_FAILED; }
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
BOOL Machine::PathIsDirectoryW(const WCHAR*) { return win::FALSE; }
DWORD Machine::GetTempPathA(DWORD, char*) { return 0; }
UINT Machine::GetWindowsDirectoryA(char*, UINT) { return 0; }
UINT Machine::GetSystemDirectoryA(char*, UINT) { return 0; }
BOOL Machine::SHGetSpecialFolderPathA(HWND, char*, int, BOOL) { return win::FALSE; }

}  // namespace sim
