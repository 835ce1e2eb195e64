// Reads a program's version information the way Explorer does
// (GetFileVersionInfoW, VerQueryValueW) and prints it as one UTF-8 JSON line:
//
//   version_info PATH
//   {"file":"1.0.0.0","product":"1.0.0.0","translations":["080404b0"],
//    "strings":{"CompanyName":"...",...}}      (strings of the first translation)
//
// Exit code 0, or 1 with {"error":N} when the file has no version information.
#include "helper.h"

namespace {

std::string FourParts(DWORD high, DWORD low) {
  return Number(HIWORD(high)) + "." + Number(LOWORD(high)) + "." + Number(HIWORD(low)) + "." +
         Number(LOWORD(low));
}

constexpr const wchar_t* kNames[] = {L"CompanyName",     L"FileDescription",  L"FileVersion",
                                     L"InternalName",    L"LegalCopyright",   L"OriginalFilename",
                                     L"ProductName",     L"ProductVersion"};

}  // namespace

int main() {
  const std::vector<std::wstring> args = Arguments();
  if (args.size() != 2) {
    Print("{\"error\":\"usage: version_info PATH\"}");
    return 2;
  }
  const wchar_t* path = args[1].c_str();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  std::vector<unsigned char> block(size ? size : 1);
  if (size == 0 || !GetFileVersionInfoW(path, 0, size, block.data())) {
    Print("{\"error\":" + Number(GetLastError()) + "}");
    return 1;
  }

  std::string line = "{";
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    line += "\"file\":\"" + FourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS) +
            "\",\"product\":\"" + FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS) +
            "\",";
  }

  std::vector<std::string> translations;
  std::wstring table;  // the first translation's
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length)) {
    const auto* pairs = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      wchar_t name[16];
      wsprintfW(name, L"%04x%04x", pairs[i], pairs[i + 1]);
      if (table.empty()) table = name;
      translations.push_back(Json(name));
    }
  }
  std::string strings;
  for (const wchar_t* name : kNames) {
    const std::wstring query = L"\\StringFileInfo\\" + table + L"\\" + name;
    if (table.empty() || !VerQueryValueW(block.data(), query.c_str(), &value, &length) || !length)
      continue;
    strings += (strings.empty() ? "" : ",") + Json(name) + ":" + Json(static_cast<const wchar_t*>(value));
  }
  Print(line + "\"translations\":" + JsonList(translations) + ",\"strings\":{" + strings + "}}");
  return 0;
}
