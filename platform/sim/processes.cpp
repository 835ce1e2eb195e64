// Simulated processes, the kernel's image names and the drive table.
#include <algorithm>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim {

namespace {

constexpr HANDLE kCurrentProcess = ~HANDLE{0};
constexpr DWORD kErrorNoMoreFiles = 18;
constexpr DWORD kErrorBadLength = 24;
constexpr win::NTSTATUS kStatusInvalidInfoClass = static_cast<win::NTSTATUS>(0xC0000003u);
constexpr win::NTSTATUS kStatusAccessViolation = static_cast<win::NTSTATUS>(0xC0000005u);
constexpr win::NTSTATUS kStatusNoToken = static_cast<win::NTSTATUS>(0xC000007Cu);
// Rights that allow reading the image name.
constexpr DWORD kQueryRights = win::PROCESS_QUERY_INFORMATION | 0x1000;

win::PROCESSENTRY32 Entry(DWORD processId, DWORD parentId, const std::string& exeName) {
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  entry.th32ProcessID = processId;
  entry.cntThreads = 1;
  entry.th32ParentProcessID = parentId;
  entry.pcPriClassBase = 8;
  std::memcpy(entry.szExeFile, exeName.data(),
              std::min(exeName.size(), sizeof(entry.szExeFile) - 1));
  return entry;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies the snapshot's next entry; the error code, 0 on success.
DWORD NextEntry(ProcessTable::Snapshot& snapshot, win::PROCESSENTRY32* entry) {
  if (!entry || entry->dwSize < sizeof(win::PROCESSENTRY32)) return kErrorBadLength;
  if (snapshot.next >= snapshot.entries.size()) return kErrorNoMoreFiles;
  const DWORD size = entry->dwSize;
  *entry = snapshot.entries[snapshot.next++];
  entry->dwSize = size;
  return 0;
}

}  // namespace

ProcessTable::Process* ProcessTable::Find(DWORD processId) {
  for (auto& process : list)
    if (process.processId == processId) return &process;
  return nullptr;
}

DWORD ProcessTable::Add(const std::string& exeName, const std::u16string& imagePath) {
  Process process;
  process.processId = nextProcessId;
  nextProcessId += 4;
  process.exeName = exeName;
  process.imagePath = imagePath;
  list.push_back(process);
  return process.processId;
}

HANDLE Machine::CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if (Fails("CreateToolhelp32Snapshot", win::ERROR_NOT_ENOUGH_MEMORY))
    return win::INVALID_HANDLE_VALUE;
  for (auto it = processes.snapshots.begin(); it != processes.snapshots.end();)
    it = Handle(it->first, kSnapshot) ? std::next(it) : processes.snapshots.erase(it);

  ProcessTable::Snapshot snapshot;
  if (flags & win::TH32CS_SNAPPROCESS) {
    snapshot.entries.push_back(Entry(self.processId, 0, FileName(self.modulePath)));
    for (const auto& process : processes.list)
      if (process.running)
        snapshot.entries.push_back(Entry(process.processId, process.parentId, process.exeName));
  }
  const HANDLE handle = NewHandle(kSnapshot);
  processes.snapshots[handle] = std::move(snapshot);
  return handle;
}

BOOL Machine::Process32First(HANDLE snapshot, win::PROCESSENTRY32* entry) {
  if (Fails("Process32First", win::ERROR_INVALID_HANDLE)) return win::FALSE;
  if (!Handle(snapshot, kSnapshot)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  auto& taken = processes.snapshots[snapshot];
  taken.next = 0;
  const DWORD error = NextEntry(taken, entry);
  if (error) SetLastError(error);
  return error ? win::FALSE : win::TRUE;
}

BOOL Machine::Process32Next(HANDLE snapshot, win::PROCESSENTRY32* entry) {
  if (Fails("Process32Next", win::ERROR_INVALID_HANDLE)) return win::FALSE;
  if (!Handle(snapshot, kSnapshot)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  const DWORD error = NextEntry(processes.snapshots[snapshot], entry);
  if (error) SetLastError(error);
  return error ? win::FALSE : win::TRUE;
}

HANDLE Machine::OpenProcess(DWORD access, BOOL, DWORD processId) {
  if (Fails("OpenProcess", win::ERROR_ACCESS_DENIED)) return 0;
  for (auto it = processes.grantedRights.begin(); it != processes.grantedRights.end();)
    it = Handle(it->first, kProcess) ? std::next(it) : processes.grantedRights.erase(it);

  if (processId != self.processId) {
    const auto* process = processes.Find(processId);
    if (!process || !process->running) {
      SetLastError(win::ERROR_INVALID_PARAMETER);
      return 0;
    }
    if ((access & ~process->openableRights) != 0 ||
        (process->needsDebugPrivilege && !processes.debugPrivilegeEnabled)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  const HANDLE handle = NewHandle(kProcess, processId);
  processes.grantedRights[handle] = access;
  return handle;
}

win::NTSTATUS Machine::RtlAdjustPrivilege(win::ULONG privilege, BOOL enable, BOOL currentThread,
                                          BOOL* wasEnabled) {
  if (Fails("RtlAdjustPrivilege", win::ERROR_ACCESS_DENIED)) return win::STATUS_ACCESS_DENIED;
  // The thread has no token of its own; the process token holds no other privilege.
  if (currentThread) return kStatusNoToken;
  if (privilege != win::SE_DEBUG_PRIVILEGE || !processes.debugPrivilegeHeld)
    return win::STATUS_PRIVILEGE_NOT_HELD;
  if (wasEnabled) *wasEnabled = processes.debugPrivilegeEnabled ? win::TRUE : win::FALSE;
  processes.debugPrivilegeEnabled = enable != win::FALSE;
  processes.privilegeLog.emplace_back(processes.debugPrivilegeEnabled,
                                      static_cast<DWORD>(faults.failableCalls));
  return win::STATUS_SUCCESS;
}

win::NTSTATUS Machine::NtQueryInformationProcess(HANDLE process, win::ULONG infoClass,
                                                 void* buffer, win::ULONG length,
                                                 win::ULONG* returnLength) {
  if (Fails("NtQueryInformationProcess", win::ERROR_ACCESS_DENIED))
    return win::STATUS_ACCESS_DENIED;
  if (infoClass != win::ProcessImageFileName) return kStatusInvalidInfoClass;

  const std::u16string* name = nullptr;
  if (process == kCurrentProcess) {
    name = &processes.selfImagePath;
  } else {
    const auto* entry = Handle(process, kProcess);
    if (!entry) return win::STATUS_INVALID_HANDLE;
    const auto rights = processes.grantedRights.find(process);
    if (rights != processes.grantedRights.end() && (rights->second & kQueryRights) == 0)
      return win::STATUS_ACCESS_DENIED;
    const auto processId = static_cast<DWORD>(entry->object);
    if (processId == self.processId) {
      name = &processes.selfImagePath;
    } else {
      const auto* found = processes.Find(processId);
      if (!found) return win::STATUS_INVALID_HANDLE;
      name = &found->imagePath;
    }
  }

  const std::size_t chars = name->size() * sizeof(WCHAR);
  const std::size_t needed = sizeof(win::UNICODE_STRING) + chars + sizeof(WCHAR);
  if (returnLength) *returnLength = static_cast<win::ULONG>(needed);
  if (length < needed) return win::STATUS_INFO_LENGTH_MISMATCH;
  if (!buffer) return kStatusAccessViolation;

  auto* bytes = static_cast<unsigned char*>(buffer);
  win::UNICODE_STRING record{};
  record.Length = static_cast<WORD>(chars);
  record.MaximumLength = static_cast<WORD>(chars + sizeof(WCHAR));
  record.Buffer = reinterpret_cast<WCHAR*>(bytes + sizeof(record));
  std::memcpy(bytes, &record, sizeof(record));
  std::memcpy(bytes + sizeof(record), name->c_str(), chars + sizeof(WCHAR));
  return win::STATUS_SUCCESS;
}

DWORD Machine::QueryDosDeviceW(const WCHAR* device, WCHAR* target, DWORD maxUnits) {
  if (Fails("QueryDosDeviceW", win::ERROR_FILE_NOT_FOUND)) return 0;
  if (!device || !target) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return 0;
  }
  char letter = 0;
  if (device[0] < 0x80 && device[1] == u':' && device[2] == 0) {
    letter = static_cast<char>(device[0]);
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  }
  const auto it = drives.targets.find(letter);
  if (letter == 0 || it == drives.targets.end()) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return 0;
  }
  // One target without zero units gets its own zero and the list's; a list
  // that has zero units is written as it stands.
  std::u16string list = it->second;
  if (list.find(u'\0') == std::u16string::npos) list.append(2, u'\0');
  if (list.size() > maxUnits) {
    SetLastError(win::ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, list.data(), list.size() * sizeof(WCHAR));
  return static_cast<DWORD>(list.size());
}

}  // namespace sim
