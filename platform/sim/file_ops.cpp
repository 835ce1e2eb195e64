// Simulated files, folders, well-known folders, and starting, waiting for and
// ending processes.
#include <iconv.h>

#include <algorithm>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim {

namespace {

using Node = FileSystem::Node;

constexpr HANDLE kCurrentProcess = ~HANDLE{0};
constexpr DWORD kErrorNotSameDevice = 17;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorDirectory = 267;
constexpr DWORD kMoveFileCopyAllowed = 0x2;
constexpr DWORD kOpenAlways = 4;
constexpr DWORD kTruncateExisting = 5;
constexpr WORD kShowDefault = 10;

bool IsLead(char c) { return static_cast<unsigned char>(c) >= 0x81; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Offset just past the last separator, stepping over two-byte characters.
std::size_t NameStart(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsLead(path[i])) {
      ++i;
    } else if (IsSeparator(path[i]) || path[i] == ':') {
      start = i + 1;
    }
  }
  return start;
}

bool EndsInSeparator(const char* path) {
  std::size_t n = std::strlen(path);
  return n > 0 && IsSeparator(path[n - 1]) && NameStart(path) == n;
}

std::string Convert(const char* to, const char* from, const char* in, std::size_t size) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::string buffer(size * 4 + 8, '\0');
  char* src = const_cast<char*>(in);
  char* dst = buffer.data();
  std::size_t inLeft = size;
  std::size_t outLeft = buffer.size();
  if (iconv(cd, &src, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1))
    out.assign(buffer.data(), buffer.size() - outLeft);
  iconv_close(cd);
  return out;
}

// A path from a "W" call, in the code page the tree's keys use (936); a
// character the code page lacks becomes "?".
std::string Narrow(const WCHAR* wide) {
  std::string out;
  for (; *wide; ++wide) {
    const char unit[2] = {static_cast<char>(*wide & 0xFF), static_cast<char>(*wide >> 8)};
    std::string one = Convert("CP936", "UTF-16LE", unit, 2);
    out += one.empty() ? std::string("?") : one;
  }
  return out;
}

std::u16string Widen(const std::string& text) {
  std::string bytes = Convert("UTF-16LE", "CP936", text.data(), text.size());
  std::u16string wide;
  if (bytes.empty() && !text.empty()) {
    for (char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    return wide;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  return wide;
}

long long SizeOf(const FileSystem::Node& node) {
  return node.sizeOverride >= 0 ? node.sizeOverride : static_cast<long long>(node.data.size());
}

// True when an open file handle refers to `key`, or to something below it
// when `below` is set.
template <typename OpenFile, typename Handles>
bool HeldOpen(const Handles& handles, int fileKind, const std::string& key, bool below = false) {
  for (const auto& [handle, entry] : handles) {
    if (entry.kind != fileKind) continue;
    const std::string& open = reinterpret_cast<const OpenFile*>(entry.object)->key;
    if (open == key || (below && open.size() > key.size() && open.compare(0, key.size(), key) == 0 &&
                        open[key.size()] == '\\'))
      return true;
  }
  return false;
}

void Copy(char* buffer, std::size_t room, const std::string& text) {
  std::size_t n = std::min(text.size(), room - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// A folder path into a caller's buffer: its length, or the size needed with
// the terminator when the buffer is too small; 0 when there is none.
DWORD FolderInto(const std::string& folder, char* buffer, DWORD size) {
  if (folder.empty()) return 0;
  const auto n = static_cast<DWORD>(folder.size());
  if (!buffer || size < n + 1) return n + 1;
  std::memcpy(buffer, folder.c_str(), n + 1);
  return n;
}

}  // namespace

// ---------------------------------------------------------------- files

HANDLE Machine::FindFirstFileA(const char* path, win::WIN32_FIND_DATAA* data) {
  if (Fails("FindFirstFileA", win::ERROR_FILE_NOT_FOUND)) return win::INVALID_HANDLE_VALUE;
  if (!path || !*path || !data) {
    SetLastError(!data ? win::ERROR_INVALID_PARAMETER : win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  const std::string full = AbsolutePath(path);
  const Node* parent = files.Find(FileSystem::Parent(full));
  if (!parent || !parent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  // A name ending in a separator names no entry (the root included).
  const Node* node = EndsInSeparator(path) ? nullptr : files.Find(full);
  if (!node) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  *data = {};
  data->dwFileAttributes = node->attributes;
  const auto size = static_cast<unsigned long long>(SizeOf(*node));
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  Copy(data->cFileName, sizeof data->cFileName, node->name.substr(NameStart(node->name)));
  return NewHandle(kFind);
}

BOOL Machine::FindClose(HANDLE find) {
  if (Fails("FindClose", win::ERROR_INVALID_HANDLE)) return win::FALSE;
  if (!Handle(find, kFind)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  handles_.erase(find);
  return win::TRUE;
}

BOOL Machine::DeleteFileA(const char* path) {
  if (Fails("DeleteFileA", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  if (!path || !*path) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  const std::string full = AbsolutePath(path);
  const Node* parent = files.Find(FileSystem::Parent(full));
  Node* node = files.Find(full);
  if (!parent || !parent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  if (!node) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  if (node->directory || (node->attributes & win::FILE_ATTRIBUTE_READONLY)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  const std::string key = FileSystem::Key(full);
  if (node->locked || HeldOpen<OpenFile>(handles_, kFile, key)) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  files.freeBytes += static_cast<long long>(node->data.size());
  files.uncommitted.push_back({FileSystem::Undo::kRemoved, key, "", "", files.TakeOut(key)});
  ++files.changes;
  return win::TRUE;
}

// Any open handle holds its file exclusively, as share mode 0 does; writes
// append at the end of the file.
HANDLE Machine::CreateFileA(const char* path, DWORD access, DWORD, DWORD disposition,
                            DWORD attributes) {
  if (Fails("CreateFileA", win::ERROR_ACCESS_DENIED)) return win::INVALID_HANDLE_VALUE;
  if (!path || !*path) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  if (disposition < win::CREATE_NEW || disposition > kTruncateExisting) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::INVALID_HANDLE_VALUE;
  }
  const std::string full = AbsolutePath(path);
  const std::string key = FileSystem::Key(full);
  const Node* parent = files.Find(FileSystem::Parent(full));
  Node* node = files.Find(full);
  if (!parent || !parent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  if (node && node->directory) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::INVALID_HANDLE_VALUE;
  }
  if (EndsInSeparator(path)) {
    SetLastError(kErrorInvalidName);
    return win::INVALID_HANDLE_VALUE;
  }
  if (node && (node->locked || HeldOpen<OpenFile>(handles_, kFile, key))) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::INVALID_HANDLE_VALUE;
  }
  const bool readOnly = node && (node->attributes & win::FILE_ATTRIBUTE_READONLY);
  const bool truncate = disposition == win::CREATE_ALWAYS || disposition == kTruncateExisting;
  if (!node && (disposition == win::OPEN_EXISTING || disposition == kTruncateExisting)) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  if (node && disposition == win::CREATE_NEW) {
    SetLastError(kErrorFileExists);
    return win::INVALID_HANDLE_VALUE;
  }
  if (readOnly && (truncate || (access & win::GENERIC_WRITE))) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::INVALID_HANDLE_VALUE;
  }

  DWORD error = win::ERROR_SUCCESS;
  if (!node) {
    Node created;
    created.name = full;
    created.attributes = (attributes & ~win::FILE_ATTRIBUTE_DIRECTORY) ? attributes
                                                                      : win::FILE_ATTRIBUTE_NORMAL;
    created.unflushedFrom = 0;
    files.nodes[key] = created;
    files.uncommitted.push_back({FileSystem::Undo::kCreated, key, "", "", nullptr});
  } else {
    error = win::ERROR_ALREADY_EXISTS;  // reported even on success, as Windows does
    if (truncate) {
      files.freeBytes += static_cast<long long>(node->data.size());
      node->data.clear();
      node->sizeOverride = -1;
      node->unflushedFrom = 0;
    }
  }
  SetLastError(error);
  ++files.changes;
  return NewHandle(kFile, reinterpret_cast<std::uintptr_t>(new OpenFile{key, access, 0}));
}

BOOL Machine::CopyFileA(const char* existing, const char* target, BOOL failIfExists) {
  if (Fails("CopyFileA", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  if (!existing || !target) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  const std::string from = AbsolutePath(existing);
  const std::string to = AbsolutePath(target);
  const std::string fromKey = FileSystem::Key(from);
  const std::string toKey = FileSystem::Key(to);
  const Node* fromParent = files.Find(FileSystem::Parent(from));
  const Node* source = *existing ? files.Find(from) : nullptr;
  if (!*existing || !fromParent || !fromParent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  if (!source || EndsInSeparator(existing)) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  if (source->directory) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  if (source->locked || HeldOpen<OpenFile>(handles_, kFile, fromKey)) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  const Node* toParent = files.Find(FileSystem::Parent(to));
  if (!*target || !toParent || !toParent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  Node* old = files.Find(to);
  if (toKey == fromKey) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  if (old) {
    if (failIfExists) {
      SetLastError(kErrorFileExists);
      return win::FALSE;
    }
    if (old->directory || (old->attributes & win::FILE_ATTRIBUTE_READONLY)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return win::FALSE;
    }
    if (old->locked || HeldOpen<OpenFile>(handles_, kFile, toKey)) {
      SetLastError(win::ERROR_SHARING_VIOLATION);
      return win::FALSE;
    }
  }
  // A copy that does not fit leaves the target as it was.
  const long long freed = old ? static_cast<long long>(old->data.size()) : 0;
  if (SizeOf(*source) > files.freeBytes + freed) {
    SetLastError(win::ERROR_DISK_FULL);
    return win::FALSE;
  }
  DiskAllocation disk;
  Node copy = *source;
  copy.name = to;
  copy.locked = false;
  copy.unflushedFrom = 0;  // a copy is not flushed
  files.freeBytes += freed - SizeOf(*source);
  files.uncommitted.push_back({FileSystem::Undo::kRemoved, toKey, "", "", files.TakeOut(toKey)});
  files.nodes[toKey] = copy;
  ++files.changes;
  return win::TRUE;
}

BOOL Machine::MoveFileExA(const char* existing, const char* target, DWORD flags) {
  DiskAllocation disk;
  if (Fails("MoveFileExA", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  if (!existing || !target) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  return MoveEntry(existing, target, flags);
}

BOOL Machine::MoveFileExW(const WCHAR* existing, const WCHAR* target, DWORD flags) {
  DiskAllocation disk;
  if (Fails("MoveFileExW", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  if (!existing || !target) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  return MoveEntry(Narrow(existing), Narrow(target), flags);
}

// A move within a drive is a rename; with MOVEFILE_WRITE_THROUGH it is
// committed, with every change before it, when the call returns.
BOOL Machine::MoveEntry(const std::string& existing, const std::string& target, DWORD flags) {
  if (existing.empty() || target.empty()) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  const std::string from = AbsolutePath(existing);
  const std::string to = AbsolutePath(target);
  const std::string fromKey = FileSystem::Key(from);
  const std::string toKey = FileSystem::Key(to);
  const Node* fromParent = files.Find(FileSystem::Parent(from));
  if (!fromParent || !fromParent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  Node* source = files.Find(from);
  if (!source || fromKey == FileSystem::Parent(from)) {
    SetLastError(source ? win::ERROR_ACCESS_DENIED : win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  const bool folder = source->directory;
  if (source->locked || HeldOpen<OpenFile>(handles_, kFile, fromKey, folder)) {
    SetLastError(folder ? win::ERROR_ACCESS_DENIED : win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  const Node* toParent = files.Find(FileSystem::Parent(to));
  if (!toParent || !toParent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  if (toKey == fromKey) {  // a new spelling of the same name
    source->name = to;
    if (flags & win::MOVEFILE_WRITE_THROUGH) files.Commit();
    ++files.changes;
    return win::TRUE;
  }
  if (folder && toKey.compare(0, fromKey.size() + 1, fromKey + "\\") == 0) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  if (fromKey.compare(0, 2, toKey, 0, 2) != 0 && (folder || !(flags & kMoveFileCopyAllowed))) {
    SetLastError(kErrorNotSameDevice);
    return win::FALSE;
  }
  if (Node* old = files.Find(to)) {
    if (!(flags & win::MOVEFILE_REPLACE_EXISTING)) {
      SetLastError(win::ERROR_ALREADY_EXISTS);
      return win::FALSE;
    }
    if (folder || old->directory || (old->attributes & win::FILE_ATTRIBUTE_READONLY)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return win::FALSE;
    }
    if (old->locked || HeldOpen<OpenFile>(handles_, kFile, toKey)) {
      SetLastError(win::ERROR_SHARING_VIOLATION);
      return win::FALSE;
    }
    files.freeBytes += static_cast<long long>(old->data.size());
  }
  // A folder's move is not logged: it is taken as committed.
  std::unique_ptr<Node> replaced = files.TakeOut(toKey);
  if (!folder) files.uncommitted.push_back({FileSystem::Undo::kRenamed, toKey, fromKey, source->name,
                                            std::move(replaced)});
  // The entry and, for a folder, everything below it take the new name.
  std::map<std::string, Node> moved;
  for (auto it = files.nodes.begin(); it != files.nodes.end();) {
    const std::string& key = it->first;
    const bool inside = key.size() > fromKey.size() && key.compare(0, fromKey.size(), fromKey) == 0 &&
                        key[fromKey.size()] == '\\';
    if (key != fromKey && !(folder && inside)) {
      ++it;
      continue;
    }
    Node node = std::move(it->second);
    const std::string rest = key.substr(fromKey.size());
    node.name = to + (node.name.size() >= from.size() ? node.name.substr(from.size()) : rest);
    moved[toKey + rest] = std::move(node);
    it = files.nodes.erase(it);
  }
  for (auto& [key, node] : moved) files.nodes.insert_or_assign(key, std::move(node));
  if (folder || (flags & win::MOVEFILE_WRITE_THROUGH)) files.Commit();
  if (!folder && files.onRenamed) files.onRenamed(files.nodes[toKey]);
  ++files.changes;
  return win::TRUE;
}

BOOL Machine::FlushFileBuffers(HANDLE file) {
  if (Fails("FlushFileBuffers", win::ERROR_INVALID_HANDLE)) return win::FALSE;
  OpenFile* open = File(file);
  Node* node = open ? files.Find(open->key) : nullptr;
  if (!node) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  if (!(open->access & win::GENERIC_WRITE)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  node->unflushedFrom = -1;
  files.Commit();
  ++files.changes;
  return win::TRUE;
}

BOOL Machine::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  if (read) *read = 0;
  if (Fails("ReadFile", win::ERROR_INVALID_HANDLE)) return win::FALSE;
  OpenFile* open = File(file);
  const Node* node = open ? files.Find(open->key) : nullptr;
  if (!node || (size > 0 && !buffer)) {
    SetLastError(!node ? win::ERROR_INVALID_HANDLE : win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  if (!(open->access & win::GENERIC_READ)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  const std::size_t at = std::min(open->position, node->data.size());
  const std::size_t n = std::min<std::size_t>(size, node->data.size() - at);
  if (n > 0) std::memcpy(buffer, node->data.data() + at, n);
  open->position = at + n;
  if (read) *read = static_cast<DWORD>(n);
  return win::TRUE;
}

BOOL Machine::CreateDirectoryW(const WCHAR* path) {
  if (Fails("CreateDirectoryW", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  if (!path || !*path) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  std::string full = AbsolutePath(Narrow(path));
  if (files.Find(full)) {
    SetLastError(win::ERROR_ALREADY_EXISTS);
    return win::FALSE;
  }
  const Node* parent = files.Find(FileSystem::Parent(full));
  if (!parent || !parent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  while (full.size() > 3 && IsSeparator(full.back())) full.pop_back();
  Node node;
  node.name = full;
  node.directory = true;
  node.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
  files.nodes[FileSystem::Key(full)] = node;
  files.uncommitted.push_back({FileSystem::Undo::kCreated, FileSystem::Key(full), "", "", nullptr});
  ++files.changes;
  return win::TRUE;
}

BOOL Machine::PathIsDirectoryW(const WCHAR* path) {
  if (Fails("PathIsDirectoryW", win::ERROR_FILE_NOT_FOUND)) return win::FALSE;
  if (!path || !*path) return win::FALSE;
  const Node* node = files.Find(AbsolutePath(Narrow(path)));
  return node && node->directory ? static_cast<BOOL>(win::FILE_ATTRIBUTE_DIRECTORY) : win::FALSE;
}

// ---------------------------------------------------------------- folders

DWORD Machine::GetTempPathA(DWORD size, char* buffer) {
  if (Fails("GetTempPathA", win::ERROR_PATH_NOT_FOUND)) return 0;
  return FolderInto(folders.temp, buffer, size);
}

UINT Machine::GetWindowsDirectoryA(char* buffer, UINT size) {
  if (Fails("GetWindowsDirectoryA", win::ERROR_PATH_NOT_FOUND)) return 0;
  return FolderInto(folders.windows, buffer, size);
}

UINT Machine::GetSystemDirectoryA(char* buffer, UINT size) {
  if (Fails("GetSystemDirectoryA", win::ERROR_PATH_NOT_FOUND)) return 0;
  return FolderInto(folders.system, buffer, size);
}

// `path` has room for 260 bytes, as the platform requires.
BOOL Machine::SHGetSpecialFolderPathA(HWND, char* path, int folder, BOOL create) {
  if (Fails("SHGetSpecialFolderPathA", win::ERROR_FILE_NOT_FOUND)) return win::FALSE;
  const auto it = folders.special.find(folder);
  if (!path || it == folders.special.end() || it->second.empty()) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  if (create) files.AddDirectory(it->second);
  Copy(path, 260, it->second);
  return win::TRUE;
}

// ---------------------------------------------------------------- processes

// Without an application name the program is the command line's first token:
// a quoted one as it stands; an unquoted one is tried at every blank, so
// "C:\Program Files\x.exe" first tries "C:\Program.exe". A name without
// extension gets ".exe"; a name without folder is looked for in the
// program's folder, the current folder, the system and the Windows folder.
BOOL Machine::CreateProcessA(const char* applicationName, char* commandLine, BOOL, DWORD,
                             const char* currentDirectory, const win::STARTUPINFOA* startup,
                             win::PROCESS_INFORMATION* info) {
  if (Fails("CreateProcessA", win::ERROR_FILE_NOT_FOUND)) return win::FALSE;
  if ((!applicationName && !commandLine) || !info) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  if (currentDirectory) {
    const Node* folder = files.Find(AbsolutePath(currentDirectory));
    if (!folder || !folder->directory) {
      SetLastError(kErrorDirectory);
      return win::FALSE;
    }
  }

  auto isFile = [&](const std::string& path) {
    const Node* node = files.Find(path);
    return node && !node->directory ? node : nullptr;
  };
  auto locate = [&](std::string name) -> const Node* {
    if (name.empty()) return nullptr;
    const std::size_t start = NameStart(name);
    if (name.find('.', start) == std::string::npos) name += ".exe";
    if (start > 0) return isFile(AbsolutePath(name));
    const std::string own = self.modulePath.substr(0, NameStart(self.modulePath));
    for (const std::string& folder :
         {own, self.currentDirectory, folders.system, folders.windows}) {
      if (folder.empty()) continue;
      const bool joined = IsSeparator(folder.back());
      if (const Node* node = isFile(folder + (joined ? "" : "\\") + name)) return node;
    }
    return nullptr;
  };

  const Node* program = nullptr;
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
    image = drive->second.substr(0, drive->second.find(u'\0')) + Widen(path.substr(2));
  else
    image = u"\\??\\" + Widen(path);
  const DWORD processId = processes.Add(path.substr(NameStart(path)), image);
  ProcessTable::Process* process = processes.Find(processId);
  process->parentId = self.processId;
  process->commandLine = commandLine ? commandLine : applicationName;
  process->currentDirectory = currentDirectory ? AbsolutePath(currentDirectory) : self.currentDirectory;
  process->startedByProgram = true;
  process->showWindow = startup && (startup->dwFlags & win::STARTF_USESHOWWINDOW)
                            ? startup->wShowWindow
                            : kShowDefault;

  info->hProcess = NewHandle(kProcess, processId);
  info->hThread = NewHandle(kThread, processId);
  info->dwProcessId = processId;
  info->dwThreadId = processId + 2;
  return win::TRUE;
}

DWORD Machine::WaitForInputIdle(HANDLE process, DWORD) {
  if (Fails("WaitForInputIdle", win::ERROR_INVALID_HANDLE)) return win::WAIT_FAILED;
  if (!Handle(process, kProcess)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::WAIT_FAILED;
  }
  return 0;
}

// A process waited for without limit ends then; a limited wait on one still
// running lets the time pass and times out.
DWORD Machine::WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  if (Fails("WaitForSingleObject", win::ERROR_INVALID_HANDLE)) return win::WAIT_FAILED;
  const HandleEntry* entry = Handle(object, kProcess);
  if (!entry) entry = Handle(object, kThread);
  if (!entry) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::WAIT_FAILED;
  }
  // A process opened without the right to wait on it cannot be waited for.
  const auto rights = processes.grantedRights.find(object);
  if (rights != processes.grantedRights.end() && !(rights->second & win::SYNCHRONIZE)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::WAIT_FAILED;
  }
  const auto processId = static_cast<DWORD>(entry->object);
  ProcessTable::Process* process = processes.Find(processId);
  const bool running = processId == self.processId ? !self.exited : process && process->running;
  if (!running) return win::WAIT_OBJECT_0;
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

BOOL Machine::TerminateProcess(HANDLE handle, UINT exitCode) {
  if (Fails("TerminateProcess", win::ERROR_ACCESS_DENIED)) return win::FALSE;
  DWORD processId = self.processId;
  if (handle != kCurrentProcess) {
    const HandleEntry* entry = Handle(handle, kProcess);
    if (!entry) {
      SetLastError(win::ERROR_INVALID_HANDLE);
      return win::FALSE;
    }
    const auto rights = processes.grantedRights.find(handle);
    if (rights != processes.grantedRights.end() && !(rights->second & win::PROCESS_TERMINATE)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return win::FALSE;
    }
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
  process->running = false;
  process->exitCode = exitCode;
  return win::TRUE;
}

}  // namespace sim
