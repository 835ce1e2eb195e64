#include "fsproc/file_ops.h"

#include <cstring>
#include <string>

#include "discovery/text_encoding.h"
#include "runtime/handles.h"
#include "runtime/values.h"

namespace {

constexpr win::DWORD kErrorFileExists = 80;
constexpr win::BOOL kIsDirectory = 16;
constexpr win::DWORD kFolderRoom = 260;

}  // namespace

std::int32_t QueryFileSize(win::Api& api, const Text& path) {
  win::WIN32_FIND_DATAA entry{};
  UniqueFind find(api, api.FindFirstFileA(path.c_str(), &entry));
  if (!find) return -1;
  return static_cast<std::int32_t>(entry.nFileSizeLow);
}

bool RemoveFile(win::Api& api, const Text& path) {
  return api.DeleteFileA(path.c_str()) != win::FALSE;
}

bool WriteBytesToFile(win::Api& api, const Text& path,
                      std::initializer_list<std::string_view> arrays) {
  if (path.empty() || path[0] == '\0') return false;
  const win::HANDLE file = api.CreateFileA(path.c_str(), win::GENERIC_WRITE, 0,
                                           win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL);
  if (file == win::INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (std::string_view bytes : arrays) {
    if (bytes.empty()) continue;
    if (bytes.size() > 0xFFFFFFFFu) {
      written = false;
      break;
    }
    const auto size = static_cast<win::DWORD>(bytes.size());
    win::DWORD done = 0;
    if (!api.WriteFile(file, bytes.data(), size, &done) || done != size) {
      written = false;
      break;
    }
  }
  const bool closed = api.CloseHandle(file) != win::FALSE;
  return written && closed;
}

bool CopyFileTo(win::Api& api, const Text& existing, const Text& target, bool failIfExists) {
  return api.CopyFileA(existing.c_str(), target.c_str(), failIfExists ? win::TRUE : win::FALSE) !=
         win::FALSE;
}

bool MakeDirectoryTree(win::Api& api, const Text& path, std::int32_t codePage) {
  const WideText wide = TextToWide(api, path, codePage);
  const std::size_t n = wide.size();
  if (n >= 8) {
    // Without the working buffer nothing is created; the answer is still
    // whether the path is a folder.
    UniqueLocal memory(api, api.LocalAlloc(win::LPTR, n + 2));
    if (memory) {
      auto* buffer = static_cast<win::WCHAR*>(memory.get());
      const std::u16string units = WideToUnits(wide);
      int separators = 0;
      for (std::size_t i = 0; i < units.size(); ++i) {
        const win::WCHAR unit = units[i] == u'/' ? u'\\' : units[i];
        if (unit == 0) {
          api.CreateDirectoryW(buffer);
          break;
        }
        if (unit == u'\\') {
          if (separators > 0) api.CreateDirectoryW(buffer);  // everything before it
          ++separators;
        }
        buffer[i] = unit;
      }
    }
  }
  const WideArg whole(wide);
  return api.PathIsDirectoryW(whole.get()) == kIsDirectory;
}

Text SpecialFolderPath(win::Api& api, std::int32_t kind) {
  static constexpr int kShellFolders[] = {5, 6, 16, 20, 11, 2, 7, 26};
  char buffer[kFolderRoom + 1] = {};
  bool found = false;
  if (kind >= 1 && kind <= 8) {
    found = api.SHGetSpecialFolderPathA(0, buffer, kShellFolders[kind - 1], win::FALSE) !=
            win::FALSE;
  } else if (kind >= 9 && kind <= 11) {
    // A length of the room or more is the size a larger buffer would need:
    // nothing was written.
    const win::DWORD length = kind == 9    ? api.GetWindowsDirectoryA(buffer, kFolderRoom)
                              : kind == 10 ? api.GetSystemDirectoryA(buffer, kFolderRoom)
                                           : api.GetTempPathA(kFolderRoom, buffer);
    found = length != 0 && length < kFolderRoom;
  }
  if (!found) return Text();
  Text folder(buffer, std::strlen(buffer));  // the last byte stays 0
  if (!folder.empty() && FindTextBackward(folder, "\\") != TextLength(folder)) folder += '\\';
  return folder;
}

Text SetAsideFile(win::Api& api, const Text& path) {
  if (path.empty() || path[0] == '\0') return Text();
  // A read-only file stays protected: renaming would let it be replaced, and
  // its set-aside copy could not be deleted afterwards.
  win::WIN32_FIND_DATAA entry{};
  if (!UniqueFind(api, api.FindFirstFileA(path.c_str(), &entry))) return Text();
  if (entry.dwFileAttributes & (win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_DIRECTORY))
    return Text();
  for (std::int32_t n = 1; n <= 99; ++n) {
    Text aside = path.c_str() + Text(".aside") + ValueToText(n);
    if (api.MoveFileExA(path.c_str(), aside.c_str(), 0)) return aside;
    const win::DWORD error = api.GetLastError();
    if (error != win::ERROR_ALREADY_EXISTS && error != kErrorFileExists) break;
  }
  return Text();
}

bool RestoreAsideFile(win::Api& api, const Text& aside, const Text& path) {
  if (aside.empty() || path.empty()) return false;
  return api.MoveFileExA(aside.c_str(), path.c_str(), win::MOVEFILE_REPLACE_EXISTING) !=
         win::FALSE;
}

bool DiscardAsideFile(win::Api& api, const Text& aside) {
  if (aside.empty()) return false;
  return api.DeleteFileA(aside.c_str()) != win::FALSE;
}
