// Simulated registry, file attributes and the shell's name helpers.
#include "platform/sim/machine.h"

namespace sim {

DWORD Machine::GetFileAttributesW(const WCHAR*) { return win::INVALID_FILE_ATTRIBUTES; }
const WCHAR* Machine::PathFindExtensionW(const WCHAR* path) { return path; }
win::SHORT Machine::GetFileTitleW(const WCHAR*, WCHAR*, WORD) { return -1; }
UINT Machine::GetSystemWow64DirectoryA(char*, UINT) { return 0; }
win::LONG Machine::RegOpenKeyExW(win::HKEY, const WCHAR*, DWORD, DWORD, win::HKEY*) {
  return win::ERROR_FILE_NOT_FOUND;
}
win::LONG Machine::RegQueryValueExW(win::HKEY, const WCHAR*, DWORD*, DWORD*, win::BYTE*,
                                    DWORD*) {
  return win::ERROR_INVALID_HANDLE;
}
win::LONG Machine::RegCloseKey(win::HKEY) { return win::ERROR_INVALID_HANDLE; }

}  // namespace sim
