#include "discovery/displayed_name.h"

#include <string>

#include "runtime/handles.h"
#include "runtime/text_encoding.h"

namespace {

constexpr std::size_t kTitleUnits = 0x8000;  // 65,536 bytes
constexpr win::WORD kTitleSizeGiven = 0x7FFF;

bool EndsWithIgnoringAsciiCase(std::u16string_view text, std::u16string_view end) {
  if (end.size() > text.size()) return false;
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  for (std::size_t i = 0; i < end.size(); ++i)
    if (fold(text[text.size() - end.size() + i]) != fold(end[i])) return false;
  return true;
}

}  // namespace

Text GetDisplayedProgramName(win::Api& api, std::string_view path, std::int32_t codePage) {
  return WideToText(api, DisplayedFileTitle(api, TextToWide(api, path, codePage), codePage),
                    codePage);
}

WideText DisplayedFileTitle(win::Api& api, const WideText& path, std::int32_t codePage) {
  std::u16string title(kTitleUnits, u'\0');
  const WideArg pathArg(path);
  if (api.GetFileTitleW(pathArg.get(), title.data(), kTitleSizeGiven) != 0) return WideText();

  if ((api.GetFileAttributesW(pathArg.get()) & win::FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const bool is64 = IsSystem64Bit(api);
    const std::uint32_t hideExtensions =
        ReadRegistryDword(api, win::HKEY_CURRENT_USER,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced",
                          "HideFileExt", is64, codePage);
    if (hideExtensions == 1) {
      const std::u16string extension =
          WideToUnits(WideFromAddress(api.PathFindExtensionW(pathArg.get())));
      if (!extension.empty()) {
        // Appended only when it fits with its zero unit, and only when the
        // title does not show it already (a type whose extension is always
        // shown, or a platform that never hides it): the game is started
        // again by this name.
        const std::size_t end = title.find(u'\0');
        if (end != std::u16string::npos && end + extension.size() <= title.size() &&
            !EndsWithIgnoringAsciiCase(std::u16string_view(title.data(), end),
                                       std::u16string_view(extension.c_str())))
          title.replace(end, extension.size(), extension);
      }
    }
  }
  return TrimWideAtNul(UnitsToWide(title), true);
}

bool IsSystem64Bit(win::Api& api) {
  const win::HMODULE kernel = api.GetModuleHandleA("kernel32.dll");
  if (kernel == 0 || api.GetProcAddress(kernel, "GetSystemWow64DirectoryA") == 0) return false;
  Text probe(255, ' ');
  return api.GetSystemWow64DirectoryA(probe.data(), 255) > 0;
}

std::uint32_t ReadRegistryDword(win::Api& api, win::HKEY root, std::string_view subKey,
                                std::string_view valueName, bool use64BitView,
                                std::int32_t codePage) {
  const win::DWORD access =
      win::KEY_QUERY_VALUE | (use64BitView ? win::KEY_WOW64_64KEY : win::KEY_WOW64_32KEY);
  const WideArg keyArg(TextToWide(api, subKey, codePage));
  const WideArg nameArg(TextToWide(api, valueName, codePage));
  win::HKEY opened = 0;
  if (api.RegOpenKeyExW(root, keyArg.get(), 0, access, &opened) != win::ERROR_SUCCESS) return 0;
  const UniqueKey key(api, opened);

  win::DWORD type = 0;
  win::DWORD size = 0;
  if (api.RegQueryValueExW(key.get(), nameArg.get(), nullptr, &type, nullptr, &size) !=
      win::ERROR_SUCCESS)
    return 0;
  // Longer data is not a 32-bit number: it reads as 0 and is never fetched.
  win::BYTE data[4] = {0, 0, 0, 0};
  if (size > sizeof data) return 0;
  if (api.RegQueryValueExW(key.get(), nameArg.get(), nullptr, &type, data, &size) !=
      win::ERROR_SUCCESS)
    return 0;
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}
