#include "fsproc/file_ops.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/handles.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

constexpr win::BOOL kIsDirectory = 16;
constexpr win::DWORD kFolderRoom = 260;
constexpr win::DWORD kReadChunk = 1u << 20;

// Writes each non-empty array whole; false at the first failed or short write.
bool WriteArrays(win::Api& api, win::HANDLE file, std::initializer_list<std::string_view> arrays) {
  for (std::string_view bytes : arrays) {
    if (bytes.empty()) continue;
    if (bytes.size() > 0xFFFFFFFFu) return false;
    const auto size = static_cast<win::DWORD>(bytes.size());
    win::DWORD done = 0;
    if (!api.WriteFile(file, bytes.data(), size, &done) || done != size) return false;
  }
  return true;
}

// Reads `file` to its end, handing each piece to `take`; false when a read
// fails or `take` refuses a piece.
template <typename Take>
bool ReadToEnd(win::Api& api, win::HANDLE file, Take take) {
  Bytes buffer(kReadChunk, '\0');
  for (;;) {
    win::DWORD got = 0;
    if (!api.ReadFile(file, buffer.data(), kReadChunk, &got)) return false;
    if (got == 0) return true;
    if (got > kReadChunk || !take(std::string_view(buffer.data(), got))) return false;
  }
}

// True when nothing of that name exists (its folder does).
bool Absent(win::Api& api, const Text& path, std::int32_t codePage) {
  const WideText wide = TextToWide(api, path, codePage);
  if (wide.empty()) return false;
  return api.GetFileAttributesW(WideArg(wide).get()) == win::INVALID_FILE_ATTRIBUTES &&
         api.GetLastError() == win::ERROR_FILE_NOT_FOUND;
}

// Creates or truncates `path` for writing, waiting out a lock. Access denied
// to a file that does not exist yet is the folder's refusal, told to `wait`
// at once; to one that does, once the wait is over.
win::HANDLE CreateForWriting(win::Api& api, const Text& path, std::int32_t codePage,
                             LockWait* wait) {
  for (;;) {
    const win::HANDLE file = api.CreateFileA(path.c_str(), win::GENERIC_WRITE, 0,
                                             win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL);
    if (file != win::INVALID_HANDLE_VALUE || !wait) return file;
    const win::DWORD error = api.GetLastError();
    if (error == win::ERROR_ACCESS_DENIED && Absent(api, path, codePage)) {
      wait->Note(error);
      wait->Refuse();
      return file;
    }
    api.SetLastError(error);
    if (!wait->Again()) {
      // Still refused when the wait is over: a file of ours left there that
      // the folder keeps from this program (as one an elevated run left).
      if (error == win::ERROR_ACCESS_DENIED) wait->Refuse();
      return file;
    }
  }
}

// Opens `path` for reading, tried again while `wait` allows.
UniqueFileHandle OpenForReading(win::Api& api, const Text& path, LockWait* wait) {
  for (;;) {
    const win::HANDLE file = api.CreateFileA(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ,
                                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
    if (file != win::INVALID_HANDLE_VALUE || !wait || !wait->Again())
      return UniqueFileHandle(api, file);
  }
}

}  // namespace

bool LockWait::Again() {
  const win::DWORD error = api_.GetLastError();
  error_ = error;
  if ((error != win::ERROR_SHARING_VIOLATION && error != win::ERROR_ACCESS_DENIED) ||
      waited_ >= limit_)
    return false;
  const win::DWORD pause = next_ < limit_ - waited_ ? next_ : limit_ - waited_;
  api_.Sleep(pause);
  waited_ += pause;
  if (next_ < 1600) next_ *= 2;
  return true;
}

FileLookup LookUpFile(win::Api& api, const Text& path) {
  win::WIN32_FIND_DATAA entry{};
  UniqueFind find(api, api.FindFirstFileA(path.c_str(), &entry));
  if (!find) {
    const win::DWORD error = api.GetLastError();
    if (error == win::ERROR_FILE_NOT_FOUND || error == win::ERROR_PATH_NOT_FOUND)
      return {FileLookup::kMissing, -1};
    return {FileLookup::kFailed, -1};
  }
  const std::uint64_t size = (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return {FileLookup::kFailed, -1};
  return {FileLookup::kFound, static_cast<std::int64_t>(size)};
}

bool RemoveFile(win::Api& api, const Text& path) {
  return api.DeleteFileA(path.c_str()) != win::FALSE;
}

bool WriteBytesToFile(win::Api& api, const Text& path,
                      std::initializer_list<std::string_view> arrays) {
  if (path.empty() || path[0] == '\0') return false;
  UniqueFileHandle file(api, api.CreateFileA(path.c_str(), win::GENERIC_WRITE, 0,
                                             win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL));
  if (!file) return false;
  const bool written = WriteArrays(api, file.get(), arrays);
  const bool closed = file.close();
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

bool WriteBesideAndSwap(win::Api& api, std::int32_t codePage, const Text& newPath,
                        const Text& path, std::initializer_list<std::string_view> arrays,
                        bool replace, LockWait* wait) {
  if (path.empty() || path[0] == '\0' || newPath.empty() || newPath[0] == '\0') return false;
  UniqueFileHandle file(api, CreateForWriting(api, newPath, codePage, wait));
  if (!file) return false;
  const bool written = WriteArrays(api, file.get(), arrays) && api.FlushFileBuffers(file.get());
  if (!written && wait) wait->Note(api.GetLastError());
  const bool closed = file.close();
  if (written && !closed && wait) wait->Note(api.GetLastError());
  if (written && closed) {
    const WideText from = TextToWide(api, newPath.c_str(), codePage);
    const WideText to = TextToWide(api, path.c_str(), codePage);
    const win::DWORD flags =
        win::MOVEFILE_WRITE_THROUGH | (replace ? win::MOVEFILE_REPLACE_EXISTING : 0);
    if (!from.empty() && !to.empty()) {
      const WideArg fromArg(from), toArg(to);
      for (;;) {
        if (api.MoveFileExW(fromArg.get(), toArg.get(), flags)) return true;
        if (!wait || !wait->Again()) break;
      }
    }
  }
  // A new file that cannot be removed is left for the next run to remove.
  RemoveFile(api, newPath);
  return false;
}

bool ReadWholeFile(win::Api& api, const Text& path, Bytes* bytes, std::size_t limit,
                   LockWait* wait, std::size_t expected) {
  bytes->clear();
  UniqueFileHandle file = OpenForReading(api, path, wait);
  if (!file) return false;
  // One block for the whole file, not one copy at each doubling.
  bytes->reserve(expected < limit ? expected : limit);
  const bool read = ReadToEnd(api, file.get(), [&](std::string_view piece) {
    if (piece.size() > limit - bytes->size()) return false;
    bytes->append(piece);
    return true;
  });
  if (!read) bytes->clear();
  return read;
}

bool FileHolds(win::Api& api, const Text& path, std::string_view bytes, LockWait* wait) {
  UniqueFileHandle file = OpenForReading(api, path, wait);
  if (!file) return false;
  std::size_t at = 0;
  const bool read = ReadToEnd(api, file.get(), [&](std::string_view piece) {
    if (piece.size() > bytes.size() - at || piece != bytes.substr(at, piece.size())) return false;
    at += piece.size();
    return true;
  });
  return read && at == bytes.size();
}
