// Files and folders. Every A path is converted from code page 936 and
// handed to the W call, which also lifts MAX_PATH from the folder queries:
// they are asked again with the room they report, and answer an A caller as
// the A call would (the bytes, or the room needed with the terminator).
#include "platform/real/real_backend.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace real {

win::HANDLE Backend::FindFirstFileA(const char* path, win::WIN32_FIND_DATAA* data) {
  WideText16 wide(path);
  if (!wide.ok()) return From(INVALID_HANDLE_VALUE);
  ::WIN32_FIND_DATAW found{};
  const ::HANDLE find = ::FindFirstFileW(wide.get(), &found);
  if (find != INVALID_HANDLE_VALUE && data != nullptr) {
    data->dwFileAttributes = found.dwFileAttributes;
    data->nFileSizeHigh = found.nFileSizeHigh;
    data->nFileSizeLow = found.nFileSizeLow;
    PutText(found.cFileName, ::lstrlenW(found.cFileName), data->cFileName,
            sizeof(data->cFileName));
  }
  return From(find);
}

win::BOOL Backend::FindClose(win::HANDLE find) { return ::FindClose(To<::HANDLE>(find)); }

win::BOOL Backend::DeleteFileA(const char* path) {
  WideText16 wide(path);
  return wide.ok() && ::DeleteFileW(wide.get());
}

win::HANDLE Backend::CreateFileA(const char* path, win::DWORD access, win::DWORD shareMode,
                               win::DWORD disposition, win::DWORD attributes) {
  WideText16 wide(path);
  if (!wide.ok()) return From(INVALID_HANDLE_VALUE);
  return From(
      ::CreateFileW(wide.get(), access, shareMode, nullptr, disposition, attributes, nullptr));
}

win::BOOL Backend::CopyFileA(const char* existing, const char* target, win::BOOL failIfExists) {
  WideText16 from(existing), to(target);
  return from.ok() && to.ok() && ::CopyFileW(from.get(), to.get(), failIfExists);
}

win::BOOL Backend::MoveFileExW(const win::WCHAR* existing, const win::WCHAR* target,
                             win::DWORD flags) {
  return ::MoveFileExW(Wide(existing), Wide(target), flags);
}

win::BOOL Backend::CreateDirectoryW(const win::WCHAR* path) {
  return ::CreateDirectoryW(Wide(path), nullptr);
}

win::BOOL Backend::PathIsDirectoryW(const win::WCHAR* path) { return ::PathIsDirectoryW(Wide(path)); }

win::BOOL Backend::FlushFileBuffers(win::HANDLE file) {
  return ::FlushFileBuffers(To<::HANDLE>(file));
}

win::BOOL Backend::ReadFile(win::HANDLE file, void* buffer, win::DWORD size, win::DWORD* read) {
  ::DWORD done = 0;
  const ::BOOL ok = ::ReadFile(To<::HANDLE>(file), buffer, size, &done, nullptr);
  if (read != nullptr) *read = done;
  return ok;
}

win::DWORD Backend::GetTempPathA(win::DWORD size, char* buffer) {
  return PathInto(buffer, size, [](wchar_t* out, ::DWORD room) { return ::GetTempPathW(room, out); });
}

win::UINT Backend::GetWindowsDirectoryA(char* buffer, win::UINT size) {
  return PathInto(buffer, size,
                  [](wchar_t* out, ::DWORD room) { return ::GetWindowsDirectoryW(out, room); });
}

win::UINT Backend::GetSystemDirectoryA(char* buffer, win::UINT size) {
  return PathInto(buffer, size,
                  [](wchar_t* out, ::DWORD room) { return ::GetSystemDirectoryW(out, room); });
}

// `path` has room for MAX_PATH bytes.
win::BOOL Backend::SHGetSpecialFolderPathA(win::HWND owner, char* path, int folder, win::BOOL create) {
  WideText16 wide;
  if (path == nullptr || !::SHGetSpecialFolderPathW(To<::HWND>(owner), wide.data(), folder, create))
    return FALSE;
  const int length = ::lstrlenW(wide.data());
  if (TextBytes(wide.data(), length) >= MAX_PATH) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  PutText(wide.data(), length, path, MAX_PATH);
  return TRUE;
}

win::HANDLE Backend::CreateFileW(const win::WCHAR* path, win::DWORD access, win::DWORD shareMode,
                                 win::DWORD disposition, win::DWORD flags) {
  return From(::CreateFileW(Wide(path), access, shareMode, nullptr, disposition, flags, nullptr));
}

win::BOOL Backend::GetFileInformationByHandle(win::HANDLE file, win::BY_HANDLE_FILE_INFORMATION* info) {
  ::BY_HANDLE_FILE_INFORMATION real{};
  if (!::GetFileInformationByHandle(To<::HANDLE>(file), &real)) return FALSE;
  if (info != nullptr) {
    info->dwFileAttributes = real.dwFileAttributes;
    info->dwVolumeSerialNumber = real.dwVolumeSerialNumber;
    info->nFileSizeHigh = real.nFileSizeHigh;
    info->nFileSizeLow = real.nFileSizeLow;
    info->nNumberOfLinks = real.nNumberOfLinks;
    info->nFileIndexHigh = real.nFileIndexHigh;
    info->nFileIndexLow = real.nFileIndexLow;
  }
  return TRUE;
}

win::UINT Backend::GetDriveTypeW(const win::WCHAR* root) { return ::GetDriveTypeW(Wide(root)); }

}  // namespace real
