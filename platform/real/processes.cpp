// Processes: the snapshot, opening, starting, waiting and ending them, the
// kernel's image names and the drive table. The snapshot's A entries carry
// names in the ANSI code page, so the W walk is converted here; CreateProcessW
// may write into its command line, so it gets a copy of ours; the ntdll calls
// have no import library and are looked up at start.
#include "platform/real/real_backend.h"

#include <tlhelp32.h>

namespace real {

namespace {

constexpr win::NTSTATUS kProcedureNotFound = static_cast<win::NTSTATUS>(0xC000007Au);

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

using WalkFn = ::BOOL(WINAPI*)(::HANDLE, ::PROCESSENTRY32W*);

win::BOOL WalkProcesses(win::HANDLE snapshot, win::PROCESSENTRY32* entry, WalkFn walk) {
  ::PROCESSENTRY32W real{};
  // A size below the seam's record stays too small for Windows as well.
  real.dwSize = entry->dwSize >= sizeof(win::PROCESSENTRY32) ? sizeof(real) : entry->dwSize;
  const ::BOOL ok = walk(To<::HANDLE>(snapshot), &real);
  if (ok) FromEntry(real, entry);
  return ok;
}

}  // namespace

win::HANDLE Backend::CreateToolhelp32Snapshot(win::DWORD flags, win::DWORD processId) {
  return From(::CreateToolhelp32Snapshot(flags, processId));
}

win::BOOL Backend::Process32First(win::HANDLE snapshot, win::PROCESSENTRY32* entry) {
  return WalkProcesses(snapshot, entry, ::Process32FirstW);
}

win::BOOL Backend::Process32Next(win::HANDLE snapshot, win::PROCESSENTRY32* entry) {
  return WalkProcesses(snapshot, entry, ::Process32NextW);
}

win::HANDLE Backend::OpenProcess(win::DWORD access, win::BOOL inherit, win::DWORD processId) {
  return From(::OpenProcess(access, inherit, processId));
}

win::HANDLE Backend::CreateMutexW(win::BOOL initialOwner, const win::WCHAR* name) {
  return From(::CreateMutexW(nullptr, initialOwner, Wide(name)));
}

win::BOOL Backend::GetExitCodeProcess(win::HANDLE process, win::DWORD* exitCode) {
  ::DWORD code = 0;
  const ::BOOL ok = ::GetExitCodeProcess(To<::HANDLE>(process), &code);
  if (ok && exitCode != nullptr) *exitCode = code;
  return ok;
}

win::BOOL Backend::TerminateProcess(win::HANDLE process, win::UINT exitCode) {
  return ::TerminateProcess(To<::HANDLE>(process), exitCode);
}

win::BOOL Backend::CreateProcessA(const char* applicationName, char* commandLine, win::BOOL inheritHandles,
                                win::DWORD creationFlags, const char* currentDirectory,
                                const win::STARTUPINFOA* startup,
                                win::PROCESS_INFORMATION* info) {
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

win::DWORD Backend::WaitForInputIdle(win::HANDLE process, win::DWORD milliseconds) {
  return ::WaitForInputIdle(To<::HANDLE>(process), milliseconds);
}

win::DWORD Backend::WaitForSingleObject(win::HANDLE object, win::DWORD milliseconds) {
  return ::WaitForSingleObject(To<::HANDLE>(object), milliseconds);
}

win::BOOL Backend::GetProcessTimes(win::HANDLE process, win::FILETIME* creation, win::FILETIME* exit,
                                   win::FILETIME* kernel, win::FILETIME* user) {
  ::FILETIME times[4] = {};
  if (!::GetProcessTimes(To<::HANDLE>(process), &times[0], &times[1], &times[2], &times[3])) return FALSE;
  win::FILETIME* out[4] = {creation, exit, kernel, user};
  for (int i = 0; i < 4; ++i)
    if (out[i] != nullptr) *out[i] = {times[i].dwLowDateTime, times[i].dwHighDateTime};
  return TRUE;
}

win::BOOL Backend::OpenProcessToken(win::HANDLE process, win::DWORD access, win::HANDLE* token) {
  ::HANDLE opened = nullptr;
  const ::BOOL ok = ::OpenProcessToken(To<::HANDLE>(process), access, &opened);
  if (ok && token != nullptr) *token = From(opened);
  return ok;
}

win::BOOL Backend::ImpersonateLoggedOnUser(win::HANDLE token) {
  return ::ImpersonateLoggedOnUser(To<::HANDLE>(token));
}

win::BOOL Backend::RevertToSelf() { return ::RevertToSelf(); }

win::BOOL Backend::GetTokenInformation(win::HANDLE token, int infoClass, void* info, win::DWORD length,
                                       win::DWORD* returnLength) {
  ::DWORD needed = 0;
  const ::BOOL ok = ::GetTokenInformation(To<::HANDLE>(token), static_cast<::TOKEN_INFORMATION_CLASS>(infoClass),
                                          info, length, &needed);
  if (returnLength != nullptr) *returnLength = needed;
  return ok;
}

// ntdll.
win::NTSTATUS Backend::RtlGetVersion(win::OSVERSIONINFOW* info) {
  using RtlGetVersionFn = ::LONG(NTAPI*)(::OSVERSIONINFOW*);
  const auto fn = Lookup<RtlGetVersionFn>("ntdll.dll", "RtlGetVersion");
  if (fn == nullptr) return kProcedureNotFound;
  return fn(reinterpret_cast<::OSVERSIONINFOW*>(info));
}

win::NTSTATUS Backend::RtlAdjustPrivilege(win::ULONG privilege, win::BOOL enable, win::BOOL currentThread,
                                        win::BOOL* wasEnabled) {
  if (adjustPrivilege_ == nullptr) return kProcedureNotFound;
  ::BOOLEAN was = FALSE;
  const ::LONG status = adjustPrivilege_(privilege, enable ? TRUE : FALSE,
                                         currentThread ? TRUE : FALSE, &was);
  if (status >= 0 && wasEnabled != nullptr) *wasEnabled = was ? TRUE : FALSE;
  return status;
}

win::NTSTATUS Backend::NtQueryInformationProcess(win::HANDLE process, win::ULONG infoClass, void* buffer,
                                               win::ULONG length, win::ULONG* returnLength) {
  if (queryProcess_ == nullptr) return kProcedureNotFound;
  ::ULONG needed = 0;
  const ::LONG status = queryProcess_(To<::HANDLE>(process), infoClass, buffer, length,
                                      returnLength != nullptr ? &needed : nullptr);
  if (returnLength != nullptr) *returnLength = needed;
  return status;
}

win::DWORD Backend::QueryDosDeviceW(const win::WCHAR* device, win::WCHAR* target,
                                  win::DWORD maxUnits) {
  return ::QueryDosDeviceW(Wide(device), Wide(target), maxUnits);
}

}  // namespace real
