// Simulated processes, the kernel's image names and the drive table.
#include "platform/sim/machine.h"

namespace sim {

HANDLE Machine::CreateToolhelp32Snapshot(DWORD, DWORD) {
  Fails("CreateToolhelp32Snapshot", win::ERROR_INVALID_PARAMETER);
  return win::INVALID_HANDLE_VALUE;
}
BOOL Machine::Process32First(HANDLE, win::PROCESSENTRY32*) { return win::FALSE; }
BOOL Machine::Process32Next(HANDLE, win::PROCESSENTRY32*) { return win::FALSE; }
HANDLE Machine::OpenProcess(DWORD, BOOL, DWORD) { return 0; }
win::NTSTATUS Machine::RtlAdjustPrivilege(win::ULONG, BOOL, BOOL, BOOL*) {
  return win::STATUS_PRIVILEGE_NOT_HELD;
}
win::NTSTATUS Machine::NtQueryInformationProcess(HANDLE, win::ULONG, void*, win::ULONG,
                                                 win::ULONG*) {
  return win::STATUS_INVALID_HANDLE;
}
DWORD Machine::QueryDosDeviceW(const WCHAR*, WCHAR*, DWORD) { return 0; }

}  // namespace sim
