// Simulated files, folders and well-known folders.
#include <algorithm>
#include <cstring>

#include "platform/sim/code_pages.h"
#include "platform/sim/heap_hook.h"
#include "platform/sim/model.h"

namespace sim {

namespace {

using Node = FileSystem::Node;

constexpr DWORD kErrorNotSameDevice = 17;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidName = 123;
// What an injected file failure reports: a device error, not a lock.
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kMoveFileCopyAllowed = 0x2;
constexpr DWORD kOpenAlways = 4;
constexpr DWORD kTruncateExisting = 5;

// True while another program holds the file: for good, or for the next
// `refusals` attempts to open, delete or rename it (each one counted).
bool Refuses(FileSystem::Node& node) {
  if (node.locked) return true;
  if (node.refusals <= 0) return false;
  --node.refusals;
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool EndsInSeparator(const char* path) {
  std::size_t n = std::strlen(path);
  return n > 0 && IsSeparator(path[n - 1]) && FileSystem::NameStart(path) == n;
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

bool Model::ActsAsAdministrator() {
  if (self.impersonated == 0 || self.impersonated == self.processId) return self.elevated;
  const ProcessTable::Process* process = processes.Find(self.impersonated);
  return process && process->elevated;
}

bool Model::NeedsAdministrator(const Node* node) {
  if (!node || !node->adminOnly || ActsAsAdministrator()) return false;
  SetLastError(win::ERROR_ACCESS_DENIED);
  return true;
}

HANDLE Model::FindFirstFileA(const char* path, win::WIN32_FIND_DATAA* data) {
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
  Copy(data->cFileName, sizeof data->cFileName, node->name.substr(FileSystem::NameStart(node->name)));
  return NewHandle(kFind);
}

BOOL Model::FindClose(HANDLE find) {
  if (!Handle(find, kFind)) {
    SetLastError(win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  handles_.erase(find);
  return win::TRUE;
}

BOOL Model::DeleteFileA(const char* path) {
  if (NoPath(path)) return win::FALSE;
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
  if (NeedsAdministrator(parent) || NeedsAdministrator(node)) return win::FALSE;
  const std::string key = FileSystem::Key(full);
  if (Refuses(*node) || HeldOpen<OpenFile>(handles_, kFile, key)) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  files.Remove(key);
  return win::TRUE;
}

// Any open handle holds its file exclusively, as share mode 0 does; writes
// append at the end of the file.
HANDLE Model::CreateFileA(const char* path, DWORD access, DWORD, DWORD disposition,
                            DWORD attributes) {
  if (NoPath(path)) return win::INVALID_HANDLE_VALUE;
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
  const bool changes = disposition == win::CREATE_ALWAYS || disposition == kTruncateExisting ||
                       (access & win::GENERIC_WRITE) != 0;
  if (!node && disposition != win::OPEN_EXISTING && disposition != kTruncateExisting &&
      NeedsAdministrator(parent))
    return win::INVALID_HANDLE_VALUE;
  if (node && changes && NeedsAdministrator(node)) return win::INVALID_HANDLE_VALUE;
  if (node && (Refuses(*node) || HeldOpen<OpenFile>(handles_, kFile, key))) {
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
    created.adminOnly = parent->adminOnly;
    files.Create(key, created);
  } else {
    error = win::ERROR_ALREADY_EXISTS;  // reported even on success, as Windows does
    if (truncate) files.Truncate(*node);
  }
  SetLastError(error);
  return NewHandle(kFile, reinterpret_cast<std::uintptr_t>(new OpenFile{key, access, 0}));
}

// Folders open only with backup semantics, and are then held: while the
// handle is open the folder is neither removed nor renamed (no delete
// sharing is modelled for any handle). A link is never followed: a node
// marked FILE_ATTRIBUTE_REPARSE_POINT stands for a junction or symbolic
// link, opened as itself with FILE_FLAG_OPEN_REPARSE_POINT and refused
// (as an unreachable target would be) without it. Files go to CreateFileA.
HANDLE Model::CreateFileW(const WCHAR* path, DWORD access, DWORD shareMode, DWORD disposition,
                          DWORD flags) {
  if (NoPath(path)) return win::INVALID_HANDLE_VALUE;
  const std::string narrow = NarrowPath(path);
  const std::string full = AbsolutePath(narrow);
  const Node* node = files.Find(full);
  if (node && (node->attributes & win::FILE_ATTRIBUTE_REPARSE_POINT) &&
      !(flags & win::FILE_FLAG_OPEN_REPARSE_POINT)) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_HANDLE_VALUE;
  }
  if (!node || !node->directory)
    return CreateFileA(narrow.c_str(), access, shareMode, disposition, flags & 0xFFFF);
  if (!(flags & win::FILE_FLAG_BACKUP_SEMANTICS) || disposition != win::OPEN_EXISTING) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::INVALID_HANDLE_VALUE;
  }
  // A right to change the folder is granted only where the rights allow it.
  constexpr DWORD kDelete = 0x00010000, kGenericAll = 0x10000000;
  constexpr DWORD kChanging = win::FILE_ADD_FILE | win::FILE_ADD_SUBDIRECTORY | win::FILE_DELETE_CHILD |
                              win::FILE_WRITE_ATTRIBUTES | win::WRITE_DAC | win::WRITE_OWNER | kDelete |
                              win::GENERIC_WRITE | kGenericAll;
  if ((access & kChanging) && NeedsAdministrator(node)) return win::INVALID_HANDLE_VALUE;
  SetLastError(win::ERROR_SUCCESS);
  return NewHandle(kFile, reinterpret_cast<std::uintptr_t>(new OpenFile{FileSystem::Key(full), access, 0}));
}

BOOL Model::GetFileInformationByHandle(HANDLE file, win::BY_HANDLE_FILE_INFORMATION* info) {
  const OpenFile* open = File(file);
  const Node* node = open ? files.nodes.count(open->key) ? &files.nodes[open->key] : nullptr : nullptr;
  if (!node || !info) {
    SetLastError(node ? win::ERROR_NOACCESS : win::ERROR_INVALID_HANDLE);
    return win::FALSE;
  }
  *info = {};
  info->dwFileAttributes = node->attributes | (node->directory ? win::FILE_ATTRIBUTE_DIRECTORY : 0);
  const auto size = static_cast<unsigned long long>(SizeOf(*node));
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  info->nNumberOfLinks = 1;
  return win::TRUE;
}

// "X:\" alone; the player's own letters are not seen with an
// administrator's rights (another logon session).
UINT Model::GetDriveTypeW(const WCHAR* root) {
  if (!root || root[0] >= 0x80 || root[1] != u':' || root[2] != u'\\' || root[3] != 0)
    return win::DRIVE_NO_ROOT_DIR;
  char letter = static_cast<char>(root[0]);
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (!drives.targets.count(letter) || (self.elevated && drives.playerSessionOnly.count(letter)))
    return win::DRIVE_NO_ROOT_DIR;
  const auto type = drives.types.find(letter);
  return type == drives.types.end() ? win::DRIVE_FIXED : type->second;
}

BOOL Model::CopyFileA(const char* existing, const char* target, BOOL failIfExists) {
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
  if (NeedsAdministrator(old ? old : toParent)) return win::FALSE;
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
  DiskContentsCopy disk;
  Node copy = *source;
  copy.name = to;
  copy.locked = false;
  copy.adminOnly = toParent->adminOnly;
  copy.unflushedFrom = 0;  // a copy is not flushed
  files.Replace(toKey, std::move(copy));
  return win::TRUE;
}

BOOL Model::MoveFileExW(const WCHAR* existing, const WCHAR* target, DWORD flags) {
  DiskContentsCopy disk;
  if (!existing || !target) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  return MoveEntry(NarrowPath(existing), NarrowPath(target), flags);
}

// A move within a drive is a rename; with MOVEFILE_WRITE_THROUGH it is
// committed, with every change before it, when the call returns.
BOOL Model::MoveEntry(const std::string& existing, const std::string& target, DWORD flags) {
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
  // A folder open itself without delete sharing refuses as a file does; one
  // with something open below it, as access denied.
  if (Refuses(*source) || HeldOpen<OpenFile>(handles_, kFile, fromKey)) {
    SetLastError(win::ERROR_SHARING_VIOLATION);
    return win::FALSE;
  }
  if (folder && HeldOpen<OpenFile>(handles_, kFile, fromKey, true)) {
    SetLastError(win::ERROR_ACCESS_DENIED);
    return win::FALSE;
  }
  const Node* toParent = files.Find(FileSystem::Parent(to));
  if (!toParent || !toParent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  if (NeedsAdministrator(fromParent) || NeedsAdministrator(source) ||
      NeedsAdministrator(toParent) || NeedsAdministrator(files.Find(to)))
    return win::FALSE;
  const bool writeThrough = (flags & win::MOVEFILE_WRITE_THROUGH) != 0;
  if (toKey == fromKey) {  // a new spelling of the same name
    files.Rename(fromKey, from, toKey, to, writeThrough);
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
    // Renaming over a file held open elsewhere is refused as access denied.
    if (Refuses(*old) || HeldOpen<OpenFile>(handles_, kFile, toKey)) {
      SetLastError(win::ERROR_ACCESS_DENIED);
      return win::FALSE;
    }
  }
  files.Rename(fromKey, from, toKey, to, writeThrough);
  return win::TRUE;
}

BOOL Model::FlushFileBuffers(HANDLE file) {
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
  files.Flush(*node);
  return win::TRUE;
}

BOOL Model::ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  if (read) *read = 0;
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

BOOL Model::CreateDirectoryW(const WCHAR* path) {
  if (NoPath(path)) return win::FALSE;
  std::string full = AbsolutePath(NarrowPath(path));
  if (files.Find(full)) {
    SetLastError(win::ERROR_ALREADY_EXISTS);
    return win::FALSE;
  }
  const Node* parent = files.Find(FileSystem::Parent(full));
  if (!parent || !parent->directory) {
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return win::FALSE;
  }
  if (NeedsAdministrator(parent)) return win::FALSE;
  while (full.size() > 3 && IsSeparator(full.back())) full.pop_back();
  Node node;
  node.adminOnly = parent->adminOnly;
  node.name = full;
  node.directory = true;
  node.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
  files.Create(FileSystem::Key(full), node);
  return win::TRUE;
}

BOOL Model::PathIsDirectoryW(const WCHAR* path) {
  if (!path || !*path) return win::FALSE;
  const Node* node = files.Find(AbsolutePath(NarrowPath(path)));
  return node && node->directory ? static_cast<BOOL>(win::FILE_ATTRIBUTE_DIRECTORY) : win::FALSE;
}

// ---------------------------------------------------------------- folders

DWORD Model::GetTempPathA(DWORD size, char* buffer) {
  return FolderInto(folders.temp, buffer, size);
}

UINT Model::GetWindowsDirectoryA(char* buffer, UINT size) {
  return FolderInto(folders.windows, buffer, size);
}

UINT Model::GetSystemDirectoryA(char* buffer, UINT size) {
  return FolderInto(folders.system, buffer, size);
}

// `path` has room for 260 bytes, as the platform requires.
BOOL Model::SHGetSpecialFolderPathA(HWND, char* path, int folder, BOOL create) {
  const auto it = folders.special.find(folder);
  if (!path || it == folders.special.end() || it->second.empty()) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  if (create) files.AddDirectory(it->second);
  Copy(path, 260, it->second);
  return win::TRUE;
}

}  // namespace sim
