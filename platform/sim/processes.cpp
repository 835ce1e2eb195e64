// Simulated processes: the snapshot, opening, starting, waiting for and
// ending them, the kernel's image names and the drive table.
#include <algorithm>
#include <cstring>

#include "platform/sim/code_pages.h"
#include "platform/sim/model.h"

namespace sim {

namespace {

constexpr HANDLE kCurrentProcess = ~HANDLE{0};
constexpr DWORD kErrorNoMoreFiles = 18;
constexpr DWORD kErrorBadLength = 24;
constexpr DWORD kErrorDirectory = 267;
constexpr WORD kShowDefault = 10;
constexpr win::NTSTATUS kStatusInvalidInfoClass = static_cast<win::NTSTATUS>(0xC0000003u);
constexpr win::NTSTATUS kStatusInvalidParameter = static_cast<win::NTSTATUS>(0xC000000Du);
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
  return path.substr(FileSystem::NameStart(path));
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

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

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
  process.startTime = nextStartTime;
  nextStartTime += 10000000;
  list.push_back(process);
  return process.processId;
}

HANDLE Model::CreateToolhelp32Snapshot(DWORD flags, DWORD) {
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

BOOL Model::Process32First(HANDLE snapshot, win::PROCESSENTRY32* entry) {
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

BOOL Model::Process32Next(HANDLE snapshot, win::PROCESSENTRY32* entry) {
  if (!Handle(snapshot, kSnapshot)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  const DWORD error = NextEntry(processes.snapshots[snapshot], entry);
  if (error) SetLastError(error);
  return error ? win::FALSE : win::TRUE;
}

HANDLE Model::OpenProcess(DWORD access, BOOL, DWORD processId) {
  for (auto it = processes.grantedRights.begin(); it != processes.grantedRights.end();)
    it = Handle(it->first, kProcess) ? std::next(it) : processes.grantedRights.erase(it);

  if (processId != self.processId) {
    const auto* process = processes.Find(processId);
    // An ended process stays, and keeps its ID, while a handle to it is open.
    const bool held = std::any_of(handles_.begin(), handles_.end(), [&](const auto& open) {
      return open.second.kind == kProcess && open.second.object == processId;
    });
    if (!process || (!process->running && !held)) {
      SetLastError(win::ERROR_INVALID_PARAMETER);
      return 0;
    }
    const bool needsDebug = process->needsDebugPrivilege || process->account != self.account;
    if ((access & ~process->openableRights) != 0 || (needsDebug && !processes.debugPrivilegeEnabled)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  const HANDLE handle = NewHandle(kProcess, processId);
  processes.grantedRights[handle] = access;
  return handle;
}

// ---------------------------------------------------------------- starting, waiting, ending

// Without an application name the program is the command line's first token:
// a quoted one as it stands; an unquoted one is tried at every blank, so
// "C:\Program Files\x.exe" first tries "C:\Program.exe". A name without
// extension gets ".exe"; a name without folder is looked for in the
// program's folder, the current folder, the system and the Windows folder.
BOOL Model::CreateProcessA(const char* applicationName, char* commandLine, BOOL, DWORD,
                             const char* currentDirectory, const win::STARTUPINFOA* startup,
                             win::PROCESS_INFORMATION* info) {
  if ((!applicationName && !commandLine) || !info) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  if (currentDirectory) {
    const FileSystem::Node* folder = files.Find(AbsolutePath(currentDirectory));
    if (!folder || !folder->directory) {
      SetLastError(kErrorDirectory);
      return win::FALSE;
    }
  }

  auto isFile = [&](const std::string& path) {
    const FileSystem::Node* node = files.Find(path);
    return node && !node->directory ? node : nullptr;
  };
  auto locate = [&](std::string name) -> const FileSystem::Node* {
    if (name.empty()) return nullptr;
    const std::size_t start = FileSystem::NameStart(name);
    if (name.find('.', start) == std::string::npos) name += ".exe";
    if (start > 0) return isFile(AbsolutePath(name));
    const std::string own = self.modulePath.substr(0, FileSystem::NameStart(self.modulePath));
    for (const std::string& folder :
         {own, self.currentDirectory, folders.system, folders.windows}) {
      if (folder.empty()) continue;
      const bool joined = IsSeparator(folder.back());
      if (const FileSystem::Node* node = isFile(folder + (joined ? "" : "\\") + name)) return node;
    }
    return nullptr;
  };

  const FileSystem::Node* program = nullptr;
  if (applicationName) {
    program = isFile(AbsolutePath(applicationName));
  } else {
    std::string line = commandLine;
    std::size_t at = line.find_first_not_of(" \t");
    line = at == std::string::npos ? std::string() : line.substr(at);
    if (!line.empty() && line[0] == '"') {
      const std::size_t close = line.find('"', 1);
      program = locate(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else {
      for (std::size_t i = 0; i <= line.size() && !program; ++i)
        if (i == line.size() || line[i] == ' ' || line[i] == '\t') program = locate(line.substr(0, i));
    }
  }
  if (!program) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }

  const std::string path = AbsolutePath(program->name);
  std::u16string image;
  const auto drive = path.size() >= 2 && path[1] == ':'
                         ? drives.targets.find(static_cast<char>(path[0] & ~0x20))
                         : drives.targets.end();
  if (drive != drives.targets.end())
    image = drive->second.substr(0, drive->second.find(u'\0')) + WidenPath(path.substr(2));
  else
    image = u"\\??\\" + WidenPath(path);
  const DWORD processId = processes.Add(path.substr(FileSystem::NameStart(path)), image);
  ProcessTable::Process* process = processes.Find(processId);
  process->parentId = self.processId;
  process->commandLine = commandLine ? commandLine : applicationName;
  process->currentDirectory = currentDirectory ? AbsolutePath(currentDirectory) : self.currentDirectory;
  process->startedByProgram = true;
  process->elevated = self.elevated;
  process->showWindow = startup && (startup->dwFlags & win::STARTF_USESHOWWINDOW)
                            ? startup->wShowWindow
                            : kShowDefault;

  info->hProcess = NewHandle(kProcess, processId);
  info->hThread = NewHandle(kThread, processId);
  info->dwProcessId = processId;
  info->dwThreadId = processId + 2;
  return win::TRUE;
}

DWORD Model::WaitForInputIdle(HANDLE process, DWORD) {
  if (!Handle(process, kProcess)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::WAIT_FAILED;
  }
  return 0;
}

bool Model::LacksRight(HANDLE handle, DWORD right) {
  const auto rights = processes.grantedRights.find(handle);
  if (rights == processes.grantedRights.end() || (rights->second & right)) return false;
  SetLastError(win::ERROR_ACCESS_DENIED);
  return true;
}

void Model::SettleEndingProcesses() {
  for (auto& process : processes.list)
    if (process.ending && process.running && clock.tick - process.goesAt <= 0x7FFFFFFFu) {
      process.running = false;
      process.ending = false;
    }
}

// A process waited for without limit ends then; one slow to close goes at its
// time when the wait reaches it; a limited wait on one still running lets the
// time pass and times out.
BOOL Model::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  const HandleEntry* entry = Handle(process, kProcess);
  if (!entry || !exitCode) {
    SetLastError(entry ? win::ERROR_INVALID_PARAMETER : win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  SettleEndingProcesses();
  const auto processId = static_cast<DWORD>(entry->object);
  const ProcessTable::Process* found = processes.Find(processId);
  if (processId == self.processId || !found)
    *exitCode = processId == self.processId && self.exited ? self.exitCode : win::STILL_ACTIVE;
  else
    *exitCode = found->running ? win::STILL_ACTIVE : found->exitCode;
  return win::TRUE;
}

DWORD Model::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  const HandleEntry* entry = Handle(object, kProcess);
  if (!entry) entry = Handle(object, kThread);
  if (!entry) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::WAIT_FAILED;
  }
  // A process opened without the right to wait on it cannot be waited for.
  if (LacksRight(object, win::SYNCHRONIZE)) return win::WAIT_FAILED;
  const auto processId = static_cast<DWORD>(entry->object);
  ProcessTable::Process* process = processes.Find(processId);
  SettleEndingProcesses();
  const bool running = processId == self.processId ? !self.exited : process && process->running;
  if (!running) return win::WAIT_OBJECT_0;
  if (process && processId != self.processId && process->ending &&
      (milliseconds == win::INFINITE || process->goesAt - clock.tick <= milliseconds)) {
    clock.tick = process->goesAt;
    SettleEndingProcesses();
    return win::WAIT_OBJECT_0;
  }
  if (milliseconds != win::INFINITE || processId == self.processId) {
    if (milliseconds == win::INFINITE) {  // waiting for itself never ends
      SetLastError(win::ERROR_INVALID_PARAMETER);
      return win::WAIT_FAILED;
    }
    clock.tick += milliseconds;
    return win::WAIT_TIMEOUT;
  }
  process->running = false;
  return win::WAIT_OBJECT_0;
}

HANDLE Model::CreateMutexW(BOOL, const WCHAR* name) {
  if (!name || !*name) {  // an unnamed mutex is the program's own
    SetLastError(win::ERROR_SUCCESS);
    return NewHandle(kMutex, reinterpret_cast<std::uintptr_t>(new std::u16string()));
  }
  const std::u16string key(reinterpret_cast<const char16_t*>(name));
  const bool existed = processes.mutexes.count(key) > 0;
  if (existed && ((processes.elevatedMutexes.count(key) && !self.elevated) ||
                  processes.mutexAccounts[key] != self.account)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return 0;
  }
  if (!existed && self.elevated) processes.elevatedMutexes.insert(key);
  if (!existed) processes.mutexAccounts[key] = self.account;
  ++processes.mutexes[key];
  const HANDLE handle = NewHandle(kMutex, reinterpret_cast<std::uintptr_t>(new std::u16string(key)));
  SetLastError(existed ? win::ERROR_ALREADY_EXISTS : win::ERROR_SUCCESS);
  return handle;
}

BOOL Model::TerminateProcess(HANDLE handle, UINT exitCode) {
  DWORD processId = self.processId;
  if (handle != kCurrentProcess) {
    const HandleEntry* entry = Handle(handle, kProcess);
    if (!entry) {
      SetLastError(win::ERROR_INVALID_HANDLE);
      return win::FALSE;
    }
    if (LacksRight(handle, win::PROCESS_TERMINATE)) return win::FALSE;
    processId = static_cast<DWORD>(entry->object);
  }
  if (processId == self.processId) {
    self.exited = true;
    self.exitCode = exitCode;
    return win::TRUE;
  }
  ProcessTable::Process* process = processes.Find(processId);
  if (!process || !process->running) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  if (process->hangsOnEnd) return win::TRUE;
  if (process->endTakes > 0) {
    process->ending = true;
    process->goesAt = clock.tick + process->endTakes;
    return win::TRUE;
  }
  process->running = false;
  process->exitCode = exitCode;
  return win::TRUE;
}

win::NTSTATUS Model::RtlGetVersion(win::OSVERSIONINFOW* info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(*info)) return kStatusInvalidParameter;
  info->dwMajorVersion = self.version[0];
  info->dwMinorVersion = self.version[1];
  info->dwBuildNumber = self.version[2];
  info->dwPlatformId = 2;
  info->szCSDVersion[0] = 0;
  return win::STATUS_SUCCESS;
}

win::NTSTATUS Model::RtlAdjustPrivilege(win::ULONG privilege, BOOL enable, BOOL currentThread,
                                          BOOL* wasEnabled) {
  // The thread has no token of its own; the process token holds no other privilege.
  if (currentThread) return kStatusNoToken;
  if (privilege != win::SE_DEBUG_PRIVILEGE || !processes.debugPrivilegeHeld)
    return win::STATUS_PRIVILEGE_NOT_HELD;
  if (wasEnabled) *wasEnabled = processes.debugPrivilegeEnabled ? win::TRUE : win::FALSE;
  processes.debugPrivilegeEnabled = enable != win::FALSE;
  processes.privilegeLog.push_back(processes.debugPrivilegeEnabled);
  return win::STATUS_SUCCESS;
}

bool Model::ProcessOf(HANDLE handle, DWORD right, DWORD* processId) {
  if (handle == kCurrentProcess) {
    *processId = self.processId;
    return true;
  }
  const HandleEntry* entry = Handle(handle, kProcess);
  if (!entry) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return false;
  }
  if (right && LacksRight(handle, right)) return false;
  *processId = static_cast<DWORD>(entry->object);
  return true;
}

BOOL Model::GetProcessTimes(HANDLE process, win::FILETIME* creation, win::FILETIME* exit,
                            win::FILETIME* kernel, win::FILETIME* userTime) {
  DWORD processId = 0;
  if (!ProcessOf(process, 0, &processId)) return win::FALSE;
  const auto rights = processes.grantedRights.find(process);
  if (rights != processes.grantedRights.end() && (rights->second & kQueryRights) == 0) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  const auto* found = processes.Find(processId);
  const unsigned long long start = processId == self.processId ? self.startTime
                                   : found                     ? found->startTime
                                                               : 0;
  if (!creation || !exit || !kernel || !userTime) {
    SetLastError(win::ERROR_NOACCESS);
    return win::FALSE;
  }
  *creation = {static_cast<DWORD>(start & 0xFFFFFFFFu), static_cast<DWORD>(start >> 32)};
  *exit = *kernel = *userTime = {0, 0};
  return win::TRUE;
}

// Tokens carry whether the process has an administrator's rights in force.
// Another account's token opens only with the debug privilege on.
BOOL Model::OpenProcessToken(HANDLE process, DWORD, HANDLE* token) {
  DWORD processId = 0;
  if (!token || !ProcessOf(process, 0, &processId)) {
    if (!token) SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  const ProcessTable::Process* found = processes.Find(processId);
  if (found && processId != self.processId && found->account != self.account &&
      !processes.debugPrivilegeEnabled) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  *token = NewHandle(kToken, processId);
  return win::TRUE;
}

// The program's one thread takes the rights of the token's process (an
// administrator's or not); the token's own access is not checked.
BOOL Model::ImpersonateLoggedOnUser(HANDLE token) {
  const HandleEntry* entry = Handle(token, kToken);
  if (!entry) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  self.impersonated = static_cast<DWORD>(entry->object);
  return win::TRUE;
}

BOOL Model::RevertToSelf() {
  self.impersonated = 0;
  return win::TRUE;
}

BOOL Model::GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD length,
                                DWORD* returnLength) {
  const HandleEntry* entry = Handle(token, kToken);
  if (!entry) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  if (infoClass != win::TokenElevation) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  if (returnLength) *returnLength = sizeof(win::TOKEN_ELEVATION);
  if (!info || length < sizeof(win::TOKEN_ELEVATION)) {
    SetLastError(win::ERROR_INSUFFICIENT_BUFFER);
    return win::FALSE;
  }
  const auto processId = static_cast<DWORD>(entry->object);
  const auto* found = processes.Find(processId);
  const bool elevated = processId == self.processId ? self.elevated : found && found->elevated;
  static_cast<win::TOKEN_ELEVATION*>(info)->TokenIsElevated = elevated ? 1 : 0;
  return win::TRUE;
}

win::NTSTATUS Model::NtQueryInformationProcess(HANDLE process, win::ULONG infoClass,
                                                 void* buffer, win::ULONG length,
                                                 win::ULONG* returnLength) {
  if (infoClass == win::ProcessBasicInformation) {
    DWORD processId = 0;
    if (!ProcessOf(process, 0, &processId)) return win::STATUS_INVALID_HANDLE;
    if (returnLength) *returnLength = sizeof(win::PROCESS_BASIC_INFORMATION);
    if (length != sizeof(win::PROCESS_BASIC_INFORMATION)) return win::STATUS_INFO_LENGTH_MISMATCH;
    if (!buffer) return kStatusAccessViolation;
    const auto* found = processes.Find(processId);
    win::PROCESS_BASIC_INFORMATION info{};
    info.UniqueProcessId = processId;
    info.InheritedFromUniqueProcessId = processId == self.processId ? self.parentId
                                        : found                     ? found->parentId
                                                                    : 0;
    std::memcpy(buffer, &info, sizeof(info));
    return win::STATUS_SUCCESS;
  }
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

DWORD Model::QueryDosDeviceW(const WCHAR* device, WCHAR* target, DWORD maxUnits) {
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
  if (letter == 0 || it == drives.targets.end() ||
      (self.elevated && drives.playerSessionOnly.count(letter))) {
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
