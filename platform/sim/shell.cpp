// Simulated registry, file attributes and the shell's name helpers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/sim/code_pages.h"
#include "platform/sim/model.h"

namespace sim {

namespace {

constexpr DWORD kErrorCallNotImplemented = 120;
constexpr DWORD kErrorInvalidName = 123;
constexpr char kAdvancedKey[] = "software\\microsoft\\windows\\currentversion\\explorer\\advanced";

std::size_t UnitCount(const WCHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Registry names are held as UTF-8.
std::string Utf8(const WCHAR* text) {
  std::string out;
  if (!text) return out;
  for (std::size_t i = 0; text[i] != 0; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/' || c == u':'; }

// The shell's rule: the last dot with neither a backslash nor a blank after it.
const WCHAR* ExtensionOf(const WCHAR* path) {
  const WCHAR* dot = nullptr;
  const WCHAR* p = path;
  for (; *p != 0; ++p) {
    if (*p == u'\\' || *p == u' ')
      dot = nullptr;
    else if (*p == u'.')
      dot = p;
  }
  return dot ? dot : p;
}

bool IsFolder(Model& machine, const WCHAR* path) {
  const FileSystem::Node* node = machine.files.Find(machine.AbsolutePath(NarrowPath(path)));
  return node && node->directory;
}

using View = std::map<std::string, std::map<std::string, Registry::Value>>;

bool KeyExists(const View& view, const std::string& path) {
  if (path.empty()) return true;
  auto it = view.lower_bound(path);
  return it != view.end() && (it->first == path || it->first.compare(0, path.size() + 1, path + "\\") == 0);
}

}  // namespace

// ---------------------------------------------------------------- registry state

std::string Registry::Fold(const std::string& text) {
  std::string folded = text;
  for (auto& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

void Registry::SetInView(bool in64, const std::string& key, const std::string& name, Value value) {
  (in64 ? view64 : view32)[Fold(key)][Fold(name)] = std::move(value);
}

void Registry::Set(const std::string& key, const std::string& name, Value value, bool both) {
  if (both) SetInView(false, key, name, value);
  SetInView(true, key, name, std::move(value));
}

void Registry::SetDword(const std::string& key, const std::string& name, DWORD value, bool both) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>(value >> (8 * i) & 0xFF);
  Set(key, name, {win::REG_DWORD, data}, both);
}

void Registry::Delete(const std::string& key, const std::string& name) {
  for (View* view : {&view64, &view32}) {
    auto it = view->find(Fold(key));
    if (it == view->end()) continue;
    it->second.erase(Fold(name));
    if (it->second.empty()) view->erase(it);
  }
}

const Registry::Value* Registry::Find(bool in64, const std::string& key,
                                      const std::string& name) const {
  const View& view = in64 ? view64 : view32;
  auto it = view.find(Fold(key));
  if (it == view.end()) return nullptr;
  auto value = it->second.find(Fold(name));
  return value == it->second.end() ? nullptr : &value->second;
}

// ---------------------------------------------------------------- advapi32

win::LONG Model::RegOpenKeyExW(win::HKEY root, const WCHAR* subKey, DWORD, DWORD access,
                                 win::HKEY* result) {
  if (!result) return win::ERROR_INVALID_PARAMETER;
  *result = 0;
  constexpr DWORD kViews = win::KEY_WOW64_64KEY | win::KEY_WOW64_32KEY;
  if ((access & kViews) == kViews) return win::ERROR_INVALID_PARAMETER;

  Registry::OpenKey key;
  if (root == win::HKEY_CURRENT_USER) {
    // Without a view flag this 32-bit program sees the 32-bit view; 32-bit
    // Windows has that view alone.
    key.in64 = (access & win::KEY_WOW64_64KEY) != 0 && !folders.wow64.empty();
  } else if (Handle(root, kKey) && registry.openKeys.count(root)) {
    key = registry.openKeys[root];
  } else {
    return win::ERROR_INVALID_HANDLE;
  }
  std::string sub = Registry::Fold(Utf8(subKey));
  if (!sub.empty() && sub.front() == '\\') return 161;  // ERROR_BAD_PATHNAME
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  if (!sub.empty()) key.path = key.path.empty() ? sub : key.path + "\\" + sub;
  if (!KeyExists(key.in64 ? registry.view64 : registry.view32, key.path))
    return win::ERROR_FILE_NOT_FOUND;

  // Forget keys whose handles were closed some other way.
  for (auto it = registry.openKeys.begin(); it != registry.openKeys.end();)
    it = Handle(it->first, kKey) ? std::next(it) : registry.openKeys.erase(it);
  *result = NewHandle(kKey);
  registry.openKeys[*result] = key;
  return win::ERROR_SUCCESS;
}

win::LONG Model::RegQueryValueExW(win::HKEY key, const WCHAR* name, DWORD* reserved,
                                    DWORD* type, win::BYTE* data, DWORD* size) {
  auto open = registry.openKeys.find(key);
  if (!Handle(key, kKey) || open == registry.openKeys.end()) return win::ERROR_INVALID_HANDLE;
  if (reserved || (data && !size)) return win::ERROR_INVALID_PARAMETER;
  const Registry::Value* value = registry.Find(open->second.in64, open->second.path, Utf8(name));
  if (!value) return win::ERROR_FILE_NOT_FOUND;

  if (type) *type = value->type;
  const auto needed = static_cast<DWORD>(value->data.size());
  if (!data) {
    if (size) *size = needed;
    return win::ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return win::ERROR_MORE_DATA;
  }
  std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return win::ERROR_SUCCESS;
}

win::LONG Model::RegCloseKey(win::HKEY key) {
  if (key == win::HKEY_CURRENT_USER) return win::ERROR_SUCCESS;
  if (!Handle(key, kKey)) return win::ERROR_INVALID_HANDLE;
  handles_.erase(key);
  registry.openKeys.erase(key);
  return win::ERROR_SUCCESS;
}

// ---------------------------------------------------------------- files and names

DWORD Model::GetFileAttributesW(const WCHAR* path) {
  if (NoPath(path)) return win::INVALID_FILE_ATTRIBUTES;
  const std::string text = NarrowPath(path);
  if (text.find_first_of("*?") != std::string::npos) {
    SetLastError(kErrorInvalidName);
    return win::INVALID_FILE_ATTRIBUTES;
  }
  const std::string full = AbsolutePath(text);
  const FileSystem::Node* node = files.Find(full);
  // A file named with a trailing separator is not found.
  const WCHAR last = path[UnitCount(path) - 1];
  if (node && !node->directory && (last == u'\\' || last == u'/')) node = nullptr;
  if (!node) {
    const FileSystem::Node* parent = files.Find(FileSystem::Parent(full));
    SetLastError(parent && parent->directory ? win::ERROR_FILE_NOT_FOUND
                                             : win::ERROR_PATH_NOT_FOUND);
    return win::INVALID_FILE_ATTRIBUTES;
  }
  return node->directory ? win::FILE_ATTRIBUTE_DIRECTORY : node->attributes;
}

const WCHAR* Model::PathFindExtensionW(const WCHAR* path) {
  return path ? ExtensionOf(path) : nullptr;
}

win::SHORT Model::GetFileTitleW(const WCHAR* path, WCHAR* title, WORD size) {
  if (!path || !*path) return -1;
  const std::size_t length = UnitCount(path);
  // The characters Wine's GetFileTitleW refuses; it takes '?'.
  for (std::size_t i = 0; i < length; ++i)
    if (path[i] == u'*' || path[i] == u'[' || path[i] == u']') return -1;
  if (IsSeparator(path[length - 1])) return -1;

  std::size_t start = length;
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  std::u16string name(path + start, path + length);

  // Hide the extension as the file manager shows the name: never for a
  // folder or a name that is all extension, always for never-shown types,
  // otherwise when "HideFileExt" holds a non-zero number and the type is not
  // always shown.
  const std::size_t dot = static_cast<std::size_t>(ExtensionOf(name.c_str()) - name.c_str());
  if (dot > 0 && dot < name.size() && !IsFolder(*this, path)) {
    std::string extension;
    for (std::size_t i = dot; i < name.size(); ++i)
      extension += name[i] < 0x80 ? static_cast<char>(name[i]) : '\x7F';
    extension = Registry::Fold(extension);
    bool hide = registry.neverShowExtensions.count(extension) > 0;
    if (!hide && !registry.alwaysShowExtensions.count(extension)) {
      const Registry::Value* setting =
          registry.Find(!folders.wow64.empty(), kAdvancedKey, "HideFileExt");
      hide = setting && setting->type == win::REG_DWORD && setting->data.size() == 4 &&
             setting->data != std::string(4, '\0');
    }
    if (hide) name.resize(dot);
  }

  const std::size_t needed = name.size() + 1;
  if (!title || size < needed) return static_cast<win::SHORT>(needed);
  std::copy(name.begin(), name.end(), title);
  title[name.size()] = 0;
  return 0;
}

UINT Model::GetSystemWow64DirectoryA(char* buffer, UINT size) {
  if (folders.wow64.empty()) {
    SetLastError(kErrorCallNotImplemented);
    return 0;
  }
  const auto n = static_cast<UINT>(folders.wow64.size());
  if (!buffer || size < n + 1) return n + 1;
  std::memcpy(buffer, folders.wow64.c_str(), n + 1);
  return n;
}

// ---------------------------------------------------------------- the shell

namespace {

bool IsBlank(WCHAR unit) { return unit == u' ' || unit == u'\t'; }

// The arguments of a command line as the C runtime reads them: the program
// name up to a blank (or between quotes, taken as it is), then arguments
// split at blanks outside quotes, 2n backslashes before a quote giving n and
// the quote, 2n + 1 giving n and a quote of the text.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> arguments;
  std::size_t i = 0;
  std::u16string name;
  if (i < line.size() && line[i] == u'"') {
    for (++i; i < line.size() && line[i] != u'"'; ++i) name += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && !IsBlank(line[i]); ++i) name += line[i];
  }
  arguments.push_back(name);
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::u16string argument;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      std::size_t slashes = 0;
      while (i < line.size() && line[i] == u'\\') ++slashes, ++i;
      if (i < line.size() && line[i] == u'"') {
        argument.append(slashes / 2, u'\\');
        if (slashes % 2) {
          argument += u'"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          argument += u'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(slashes, u'\\');
        if (i < line.size() && (quoted || !IsBlank(line[i]))) argument += line[i++];
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace

// One block, as Windows gives it: the pointers, then the texts.
WCHAR** Model::CommandLineToArgvW(const WCHAR* commandLine, int* count) {
  if (!count) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::u16string> arguments;
  if (!commandLine || !*commandLine)
    arguments.push_back(WidenPath(self.modulePath));
  else
    arguments = SplitCommandLine(commandLine);
  std::size_t units = 0;
  for (const auto& argument : arguments) units += argument.size() + 1;
  const std::size_t table = (arguments.size() + 1) * sizeof(WCHAR*);
  auto* block = static_cast<char*>(LocalAlloc(win::LPTR, table + units * sizeof(WCHAR)));
  if (!block) {
    SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto** pointers = reinterpret_cast<WCHAR**>(block);
  auto* text = reinterpret_cast<WCHAR*>(block + table);
  for (std::size_t n = 0; n < arguments.size(); ++n) {
    pointers[n] = text;
    text = std::copy(arguments[n].begin(), arguments[n].end(), text);
    *text++ = 0;
  }
  *count = static_cast<int>(arguments.size());
  return pointers;
}

// The copy runs as the program again, in a console of its own, with the
// asking run in the process table as its running parent; what it changes on
// the machine stays.
UINT Model::RunElevatedCopy(DWORD processId, const std::u16string& parameters) {
  if (!elevation.program) return 0xC0000135u;
  const ProcessTable::Process copy = *processes.Find(processId);
  const SelfProcess parent = self;
  const std::string parentTemp = folders.temp;
  ConsoleState parentConsole = std::move(console);
  const std::size_t boxes = dialogs.shown.size();
  ProcessTable::Process asking;
  asking.processId = parent.processId;
  asking.exeName = copy.exeName;
  asking.imagePath = processes.selfImagePath;
  asking.parentId = parent.parentId;
  asking.startTime = parent.startTime;
  asking.elevated = parent.elevated;
  asking.account = parent.account;
  processes.list.push_back(asking);
  console = ConsoleState{};
  self.processId = processId;
  self.threadId = processId + 1;
  self.parentId = parent.processId;
  self.startTime = copy.startTime;
  self.arguments = parameters;
  self.elevated = copy.elevated;
  self.account = copy.account;
  if (copy.account != parent.account) folders.temp = elevation.accountTemp;
  self.oleInitialized = 0;
  self.dllDirectories = 0;
  const UINT exitCode = elevation.program();
  elevation.copyConsole += console.Text();
  elevation.copyBoxes += dialogs.shown.size() - boxes;
  console = std::move(parentConsole);
  self = parent;
  folders.temp = parentTemp;
  std::erase_if(processes.list, [&](const auto& p) { return p.processId == parent.processId; });
  return exitCode;
}

BOOL Model::ShellExecuteExW(win::SHELLEXECUTEINFOW* info) {
  if (!info || info->cbSize != sizeof(*info) || !info->lpFile) {
    SetLastError(win::ERROR_INVALID_PARAMETER);
    return win::FALSE;
  }
  info->hProcess = 0;
  Elevation::Request request;
  request.verb = info->lpVerb ? info->lpVerb : u"";
  request.file = info->lpFile;
  request.parameters = info->lpParameters ? info->lpParameters : u"";
  request.show = info->nShow;
  elevation.requests.push_back(request);
  const std::string file = AbsolutePath(NarrowPath(info->lpFile));
  if (request.verb != u"runas" || FileSystem::Key(file) != FileSystem::Key(self.modulePath)) {
    SetLastError(win::ERROR_FILE_NOT_FOUND);
    return win::FALSE;
  }
  if (elevation.consent != Elevation::Consent::kGranted) {
    SetLastError(elevation.consent == Elevation::Consent::kDeclined ? win::ERROR_CANCELLED
                                                                    : elevation.failure);
    return win::FALSE;
  }
  const DWORD processId = processes.Add(self.modulePath.substr(FileSystem::NameStart(self.modulePath)),
                                        processes.selfImagePath);
  ProcessTable::Process* started = processes.Find(processId);
  started->startedByProgram = true;
  started->elevated = self.elevated || !elevation.sameRights;
  started->parentId = self.processId;
  started->account = elevation.account;
  started->commandLine = NarrowPath((u"\"" + request.file + u"\" " + request.parameters).c_str());
  started->showWindow = static_cast<DWORD>(request.show);
  const UINT exitCode = RunElevatedCopy(processId, request.parameters);
  if (elevation.afterCopy) elevation.afterCopy();
  ProcessTable::Process* ended = processes.Find(processId);
  ended->exitCode = exitCode;
  ended->running = elevation.copyTakes > 0;
  ended->ending = elevation.copyTakes > 0;
  ended->goesAt = clock.tick + elevation.copyTakes;
  if (info->fMask & win::SEE_MASK_NOCLOSEPROCESS) info->hProcess = NewHandle(kProcess, processId);
  return win::TRUE;
}

}  // namespace sim
