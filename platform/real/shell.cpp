// The registry, file attributes and the shell's name helpers. 64-bit
// Windows sign-extends the predefined 32-bit keys, so they are widened here;
// GetSystemWow64DirectoryW is missing on 32-bit systems and looked up.
#include "platform/real/real_backend.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlwapi.h>

namespace real {

namespace {

// The predefined keys are 32-bit values that 64-bit Windows sign-extends.
::HKEY ToKey(win::HKEY key) {
  if ((key & ~std::uintptr_t{0xFF}) == 0x80000000u) {
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(key));
    return To<::HKEY>(static_cast<std::uintptr_t>(static_cast<std::intptr_t>(low)));
  }
  return To<::HKEY>(key);
}

using GetSystemWow64DirectoryFn = ::UINT(WINAPI*)(LPWSTR, ::UINT);

}  // namespace

// advapi32.
win::LONG Backend::RegOpenKeyExW(win::HKEY root, const win::WCHAR* subKey, win::DWORD options,
                               win::DWORD access, win::HKEY* result) {
  ::HKEY opened = nullptr;
  const ::LONG status = ::RegOpenKeyExW(ToKey(root), Wide(subKey), options, access, &opened);
  if (result != nullptr) *result = From(opened);
  return status;
}

win::LONG Backend::RegQueryValueExW(win::HKEY key, const win::WCHAR* name, win::DWORD* reserved,
                                  win::DWORD* type, win::BYTE* data, win::DWORD* size) {
  ::DWORD realReserved = reserved != nullptr ? *reserved : 0;
  ::DWORD realType = 0;
  ::DWORD realSize = size != nullptr ? *size : 0;
  const ::LONG status =
      ::RegQueryValueExW(ToKey(key), Wide(name), reserved != nullptr ? &realReserved : nullptr,
                         type != nullptr ? &realType : nullptr, data,
                         size != nullptr ? &realSize : nullptr);
  if (type != nullptr) *type = realType;
  if (size != nullptr) *size = realSize;
  return status;
}

win::LONG Backend::RegCloseKey(win::HKEY key) { return ::RegCloseKey(ToKey(key)); }

win::DWORD Backend::GetFileAttributesW(const win::WCHAR* path) {
  return ::GetFileAttributesW(Wide(path));
}

const win::WCHAR* Backend::PathFindExtensionW(const win::WCHAR* path) {
  return reinterpret_cast<const win::WCHAR*>(::PathFindExtensionW(Wide(path)));
}

win::SHORT Backend::GetFileTitleW(const win::WCHAR* path, win::WCHAR* title, win::WORD size) {
  return ::GetFileTitleW(Wide(path), Wide(title), size);
}

win::UINT Backend::GetSystemWow64DirectoryA(char* buffer, win::UINT size) {
  const auto fn = Lookup<GetSystemWow64DirectoryFn>("kernel32.dll", "GetSystemWow64DirectoryW");
  if (fn == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return PathInto(buffer, size, [fn](wchar_t* out, ::DWORD room) -> ::DWORD { return fn(out, room); });
}

// shell32: the program's own arguments, and starting a program by a verb.
win::WCHAR** Backend::CommandLineToArgvW(const win::WCHAR* commandLine, int* count) {
  return reinterpret_cast<win::WCHAR**>(::CommandLineToArgvW(Wide(commandLine), count));
}

win::BOOL Backend::ShellExecuteExW(win::SHELLEXECUTEINFOW* info) {
  if (info == nullptr || info->cbSize != sizeof(*info)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ::SHELLEXECUTEINFOW real{};
  real.cbSize = sizeof(real);
  real.fMask = info->fMask;
  real.hwnd = To<::HWND>(info->hwnd);
  real.lpVerb = Wide(info->lpVerb);
  real.lpFile = Wide(info->lpFile);
  real.lpParameters = Wide(info->lpParameters);
  real.lpDirectory = Wide(info->lpDirectory);
  real.nShow = info->nShow;
  const ::BOOL ok = ::ShellExecuteExW(&real);
  info->hProcess = ok ? From(real.hProcess) : 0;
  return ok;
}

}  // namespace real
