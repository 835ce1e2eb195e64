// The simulated machine's core: clock, handles, console, the program
// itself and memory.
#include "platform/sim/model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/sim/code_pages.h"

namespace sim {

namespace {

constexpr HANDLE kStdInput = 0x10;
constexpr HANDLE kStdOutput = 0x14;
constexpr HANDLE kStdError = 0x18;
constexpr HANDLE kCurrentProcess = ~HANDLE{0};  // the pseudo handle, as on Windows
constexpr HANDLE kProcessHeap = 0x7000;

}  // namespace

// ---------------------------------------------------------------- handles

HANDLE Model::NewHandle(int kind, std::uintptr_t object) {
  HANDLE h = nextHandle_;
  nextHandle_ += 4;
  handles_[h] = {kind, object};
  return h;
}

int Model::HandleKind(HANDLE handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? 0 : it->second.kind;
}

Model::HandleEntry* Model::Handle(HANDLE handle, int kind) {
  auto it = handles_.find(handle);
  return it == handles_.end() || it->second.kind != kind ? nullptr : &it->second;
}

std::size_t Model::OpenHandleCount() const { return handles_.size(); }

Model::OpenFile* Model::File(HANDLE handle) {
  HandleEntry* entry = Handle(handle, kFile);
  return entry ? reinterpret_cast<OpenFile*>(entry->object) : nullptr;
}

Model::Model() {
  files.AddDirectory("C:\\Windows\\System32");
  files.AddDirectory("C:\\Windows\\SysWOW64");
  files.AddDirectory("C:\\Users\\Player\\AppData\\Local\\Temp");
  files.AddDirectory(self.currentDirectory);
  files.AddFile(self.modulePath, std::string(4096, 'M'));
  files.AddFile("C:\\Windows\\explorer.exe", std::string(4096, 'E'));
  files.AddFile("C:\\Windows\\System32\\cmd.exe", std::string(4096, 'C'));
}

// What a test left open (a close or free made to fail) is released here.
Model::~Model() {
  for (auto& [handle, entry] : handles_) {
    if (entry.kind == kFile) delete reinterpret_cast<OpenFile*>(entry.object);
    if (entry.kind == kMemory) std::free(reinterpret_cast<void*>(handle));
    if (entry.kind == kMutex) delete reinterpret_cast<const std::u16string*>(entry.object);
  }
}

BOOL Model::CloseHandle(HANDLE handle) {
  if (handle == kCurrentProcess) return win::TRUE;
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.kind == kFind) {
    lastError_ = win::ERROR_INVALID_HANDLE;
    return win::FALSE;
  }
  if (it->second.kind == kFile) delete reinterpret_cast<OpenFile*>(it->second.object);
  if (it->second.kind == kMutex) {
    const auto* name = reinterpret_cast<const std::u16string*>(it->second.object);
    if (--processes.mutexes[*name] <= 0) {
      processes.mutexes.erase(*name);
      processes.elevatedMutexes.erase(*name);
      processes.mutexAccounts.erase(*name);
    }
    delete name;
  }
  handles_.erase(it);
  return win::TRUE;
}

// ---------------------------------------------------------------- time

DWORD Model::GetLastError() {
  return lastError_;
}

void Model::SetLastError(DWORD error) { lastError_ = error; }

void Model::Sleep(DWORD milliseconds) {
  clock.tick += milliseconds;
  clock.slept += milliseconds;
  SettleEndingProcesses();
}

DWORD Model::GetTickCount() {
  return clock.tick;
}

// ---------------------------------------------------------------- console

std::string ConsoleState::Text() const {
  std::string text;
  for (const auto& cell : written) text += cell.byte;
  return text;
}

std::string ConsoleState::Row(int row, int count, std::vector<WORD>* cellAttributes) const {
  std::string text;
  for (int x = 0; x < count; ++x) {
    auto it = screen.find({row, x});
    Cell cell = it == screen.end() ? Cell{' ', 0x07} : it->second;
    text += cell.byte;
    if (cellAttributes) cellAttributes->push_back(cell.attributes);
  }
  return text;
}

HANDLE Model::GetStdHandle(DWORD nStdHandle) {
  switch (nStdHandle) {
    case win::STD_INPUT_HANDLE: return kStdInput;
    case win::STD_OUTPUT_HANDLE: return kStdOutput;
    case win::STD_ERROR_HANDLE: return kStdError;
  }
  lastError_ = win::ERROR_INVALID_HANDLE;
  return win::INVALID_HANDLE_VALUE;
}

BOOL Model::GetConsoleScreenBufferInfo(HANDLE handle, win::CONSOLE_SCREEN_BUFFER_INFO* info) {
  if (console.redirected || (handle != kStdOutput && handle != kStdError) || !info) {
    lastError_ = win::ERROR_INVALID_HANDLE;
    return win::FALSE;
  }
  info->dwSize = console.size;
  info->dwCursorPosition = console.cursor;
  info->wAttributes = console.attributes;
  info->srWindow = {0, 0, static_cast<win::SHORT>(console.size.X - 1), 49};
  info->dwMaximumWindowSize = {console.size.X, 50};
  return win::TRUE;
}

BOOL Model::SetConsoleTextAttribute(HANDLE handle, WORD attributes) {
  if (console.redirected || (handle != kStdOutput && handle != kStdError)) {
    lastError_ = win::ERROR_INVALID_HANDLE;
    return win::FALSE;
  }
  console.attributes = attributes;
  return win::TRUE;
}

BOOL Model::SetConsoleCursorPosition(HANDLE handle, win::COORD position) {
  if (console.redirected || (handle != kStdOutput && handle != kStdError) || position.X < 0 ||
      position.Y < 0 || position.X >= console.size.X || position.Y >= console.size.Y) {
    lastError_ = console.redirected ? win::ERROR_INVALID_HANDLE : win::ERROR_INVALID_PARAMETER;
    return win::FALSE;
  }
  console.cursor = position;
  return win::TRUE;
}

UINT Model::GetConsoleOutputCP() {
  return console.outputCodePage;
}

BOOL Model::SetConsoleOutputCP(UINT codePage) {
  if (codePage != 936 && codePage != 437 && codePage != 1252 && codePage != 65001) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return win::FALSE;
  }
  console.outputCodePage = codePage;
  return win::TRUE;
}

BOOL Model::WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) {
  if (written) *written = 0;
  const char* bytes = static_cast<const char*>(buffer);
  if (file == kStdOutput || file == kStdError) {
    for (DWORD i = 0; i < size; ++i) {
      if (console.redirected) {
        console.redirectedBytes += bytes[i];
        continue;
      }
      console.written.push_back({bytes[i], console.attributes});
      if (bytes[i] != '\r' && bytes[i] != '\n')
        console.screen[{console.cursor.Y, console.cursor.X}] = {bytes[i], console.attributes};
      if (bytes[i] == '\r') {
        console.cursor.X = 0;
      } else if (bytes[i] == '\n') {
        ++console.cursor.Y;
      } else if (++console.cursor.X >= console.size.X) {
        console.cursor.X = 0;
        ++console.cursor.Y;
      }
    }
    if (written) *written = size;
    return win::TRUE;
  }
  OpenFile* open = File(file);
  auto* node = open ? files.Find(open->key) : nullptr;
  if (!node) {
    lastError_ = win::ERROR_INVALID_HANDLE;
    return win::FALSE;
  }
  if (!(open->access & win::GENERIC_WRITE)) {
    lastError_ = win::ERROR_ACCESS_DENIED;
    return win::FALSE;
  }
  const DWORD room = files.Append(*node, bytes, size);
  if (written) *written = room;
  if (room < size) {
    lastError_ = win::ERROR_DISK_FULL;
    return win::FALSE;
  }
  return win::TRUE;
}

// ---------------------------------------------------------------- the program

DWORD Model::GetModuleFileNameA(win::HMODULE module, char* buffer, DWORD size) {
  if (module != 0 || size == 0) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return 0;
  }
  // Like Windows: a name that does not fit is cut to size - 1 bytes and
  // terminated, and the answer is size with ERROR_INSUFFICIENT_BUFFER.
  DWORD n = static_cast<DWORD>(self.modulePath.size());
  if (n >= size) {
    std::memcpy(buffer, self.modulePath.data(), size - 1);
    buffer[size - 1] = '\0';
    lastError_ = win::ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::memcpy(buffer, self.modulePath.data(), n);
  buffer[n] = '\0';
  return n;
}

void Model::GetLocalTime(win::SYSTEMTIME* time) {
  if (time) *time = clock.localTime;
}

// The texts of a few errors, as a Chinese Windows words them; others have none here.
DWORD Model::FormatMessageW(DWORD flags, DWORD messageId, WCHAR* buffer, DWORD size) {
  static const std::map<DWORD, std::u16string> kTexts = {
      {2, u"系统找不到指定的文件。"},
      {5, u"拒绝访问。"},
      {32, u"另一个程序正在使用此文件，进程无法访问。"},
      {112, u"磁盘空间不足。"},
      {1223, u"操作已被用户取消。"}};
  const auto it = kTexts.find(messageId);
  if (!(flags & win::FORMAT_MESSAGE_FROM_SYSTEM) || it == kTexts.end()) {
    lastError_ = win::ERROR_MR_MID_NOT_FOUND;
    return 0;
  }
  const std::u16string text = it->second + u"\r\n";
  if (!buffer || size <= text.size()) {
    lastError_ = win::ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

DWORD Model::GetModuleFileNameW(win::HMODULE module, WCHAR* buffer, DWORD size) {
  if (module != 0 || size == 0 || !buffer) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return 0;
  }
  const std::u16string path = WidenPath(self.modulePath);
  const auto n = static_cast<DWORD>(path.size());
  if (n >= size) {
    std::copy_n(path.data(), size - 1, buffer);
    buffer[size - 1] = 0;
    lastError_ = win::ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::copy_n(path.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

// The program's quoted path, then its arguments.
const WCHAR* Model::GetCommandLineW() {
  commandLine_ = u"\"" + WidenPath(self.modulePath) + u"\"";
  if (!self.arguments.empty()) commandLine_ += u" " + self.arguments;
  return commandLine_.c_str();
}

std::string Model::AbsolutePath(const std::string& path) const {
  if (path.size() >= 2 && path[1] == ':') return path;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return path;
  std::string base = self.currentDirectory;
  if (!path.empty() && path[0] == '\\') return base.substr(0, 2) + path;
  // A last byte 0x5C may be the second of a two-byte character.
  if (base.empty() || base.back() != '\\' || FileSystem::NameStart(base) != base.size())
    base += '\\';
  return base + path;
}

BOOL Model::SetCurrentDirectoryA(const char* path) {
  if (!path || !*path) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return win::FALSE;
  }
  std::string full = AbsolutePath(path);
  const auto* node = files.Find(full);
  if (!node || !node->directory) {
    lastError_ = node ? win::ERROR_INVALID_PARAMETER : win::ERROR_FILE_NOT_FOUND;
    return win::FALSE;
  }
  // A trailing backslash goes, but not the second byte of a two-byte character.
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < full.size(); ++i) {
    if (full[i] == '\\') last = i;
    if (FileSystem::IsLeadByte(full[i])) ++i;
  }
  if (full.size() > 3 && last == full.size() - 1) full.pop_back();
  self.currentDirectory = full;
  return win::TRUE;
}

HANDLE Model::GetCurrentProcess() {
  return kCurrentProcess;
}

DWORD Model::GetCurrentProcessId() {
  return self.processId;
}

DWORD Model::GetCurrentThreadId() {
  return self.threadId;
}

namespace {
std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}
}  // namespace

win::HMODULE Model::GetModuleHandleA(const char* name) {
  if (!name) return 0x400000;
  std::string lower = Lower(name);
  if (lower.find('.') == std::string::npos) lower += ".dll";
  if (!self.modules.count(lower)) {
    lastError_ = win::ERROR_FILE_NOT_FOUND;
    return 0;
  }
  return 0x70000000 + (std::hash<std::string>{}(lower) & 0xFFF0000);
}

win::FARPROC Model::GetProcAddress(win::HMODULE module, const char* name) {
  if (!module || !name || self.missingExports.count(name)) {
    lastError_ = 127;  // ERROR_PROC_NOT_FOUND
    return 0;
  }
  return module + 0x1000 + (std::hash<std::string>{}(name) & 0xFFFF);
}

BOOL Model::SetDefaultDllDirectories(DWORD directoryFlags) {
  if (self.missingExports.count("SetDefaultDllDirectories")) {
    lastError_ = 127;  // ERROR_PROC_NOT_FOUND
    return win::FALSE;
  }
  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR, _USER_DIRS, _SYSTEM32, _DEFAULT_DIRS.
  constexpr DWORD kSearchFlags = 0x200 | 0x400 | 0x800 | 0x1000;
  if (directoryFlags == 0 || (directoryFlags & ~kSearchFlags) != 0) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return win::FALSE;
  }
  self.dllDirectories = directoryFlags;
  return win::TRUE;
}

// ---------------------------------------------------------------- memory

HANDLE Model::GetProcessHeap() {
  return kProcessHeap;
}

void* Model::HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  if (heap != kProcessHeap) return nullptr;
  void* p = (flags & win::HEAP_ZERO_MEMORY) ? std::calloc(bytes ? bytes : 1, 1)
                                             : std::malloc(bytes ? bytes : 1);
  if (p) handles_[reinterpret_cast<HANDLE>(p)] = {kMemory, 0};
  return p;
}

BOOL Model::HeapFree(HANDLE heap, DWORD, void* memory) {
  if (heap != kProcessHeap || !handles_.erase(reinterpret_cast<HANDLE>(memory))) return win::FALSE;
  std::free(memory);
  return win::TRUE;
}

void* Model::LocalAlloc(UINT flags, std::size_t bytes) {
  void* p = (flags & win::LPTR) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (p) handles_[reinterpret_cast<HANDLE>(p)] = {kMemory, 0};
  return p;
}

void* Model::LocalFree(void* memory) {
  if (memory && !handles_.erase(reinterpret_cast<HANDLE>(memory))) return memory;
  std::free(memory);
  return nullptr;
}

// ---------------------------------------------------------------- OLE

win::HRESULT Model::OleInitialize() {
  return self.oleInitialized++ ? 1 /* S_FALSE */ : 0;
}

void Model::OleUninitialize() {
  if (self.oleInitialized > 0) --self.oleInitialized;
}

}  // namespace sim
