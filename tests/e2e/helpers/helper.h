// What the helpers share: their arguments and options, the text they print
// and log (numbers, booleans, UTF-8 and JSON), and the windows, processes
// and fonts they list.
#pragma once

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---------------------------------------------------------------- arguments

// The arguments of a command line, as Windows splits it.
inline std::vector<std::wstring> Arguments(const wchar_t* line = GetCommandLineW()) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(line, &count);
  std::vector<std::wstring> args(argv, argv + (argv ? count : 0));
  LocalFree(argv);
  return args;
}

// Options by key ("--log"), holding their defaults until read.
using Options = std::map<std::wstring, std::wstring>;

// Reads "--key value" options, for the keys `options` holds, and `flags`
// (given alone, the value "1") from args[1] on, up to a "--" whose index goes
// to *rest. False on another key, a missing value, or no "--" when asked for.
inline bool ReadOptions(const std::vector<std::wstring>& args, Options& options,
                        std::initializer_list<std::wstring_view> flags = {},
                        size_t* rest = nullptr) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& key = args[i];
    if (key == L"--" && rest) {
      *rest = i;
      return true;
    }
    if (std::find(flags.begin(), flags.end(), key) != flags.end())
      options[key] = L"1";
    else if (options.contains(key) && i + 1 < args.size())
      options[key] = args[++i];
    else
      return false;
  }
  return !rest;
}

// The parts of text between the separators.
template <typename String>
std::vector<String> Split(const String& text, typename String::value_type separator) {
  std::vector<String> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == String::npos) return parts;
    start = end + 1;
  }
}

// ---------------------------------------------------------------- text

inline std::string Number(long long value) {
  char buf[32];
  wsprintfA(buf, "%I64d", value);
  return buf;
}

inline std::string Bool(bool value) { return value ? "true" : "false"; }

// Writes all of data; false when it could not.
inline bool WriteAll(HANDLE file, const std::string& data) {
  DWORD written = 0;
  return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

// One line on standard output, written whole.
inline void Print(const std::string& line) { WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), line + "\n"); }

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

// A JSON string literal of the text, quotes included.
inline std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c < 0x20) {
      char buf[8];
      wsprintfA(buf, "\\u%04x", c);
      out += buf;
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += static_cast<char>(c);
  }
  return out + "\"";
}

// A JSON array of items that are JSON already.
inline std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

// ---------------------------------------------------------------- windows

inline BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

inline std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// The child windows of `window`, theirs included.
inline std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectWindow, reinterpret_cast<LPARAM>(&children));
  return children;
}

inline std::wstring ClassName(HWND window) {
  wchar_t buf[260] = {};
  GetClassNameW(window, buf, 260);
  return buf;
}

inline bool IsClass(HWND window, const wchar_t* name) {
  return lstrcmpiW(ClassName(window).c_str(), name) == 0;
}

// "hwnd", "pid", "class", "title", "visible" and "owner" of a window, as JSON
// fields.
inline std::string WindowFields(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t title[1024] = {};
  GetWindowTextW(window, title, 1024);
  return "\"hwnd\":" + Number(reinterpret_cast<ULONG_PTR>(window)) +
         ",\"pid\":" + Number(pid) + ",\"class\":" + Json(ClassName(window)) +
         ",\"title\":" + Json(title) + ",\"visible\":" + Bool(IsWindowVisible(window)) +
         ",\"owner\":" + Number(reinterpret_cast<ULONG_PTR>(GetWindow(window, GW_OWNER)));
}

// ---------------------------------------------------------------- processes, fonts

inline std::vector<PROCESSENTRY32W> Processes() {
  std::vector<PROCESSENTRY32W> processes;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    processes.push_back(entry);
  CloseHandle(snapshot);
  return processes;
}

using FontFamily = std::pair<LOGFONTW, DWORD>;  // the font and its type

inline int CALLBACK CollectFont(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM list) {
  reinterpret_cast<std::vector<FontFamily>*>(list)->emplace_back(*font, type);
  return 1;
}

// The font families the desktop has for Simplified Chinese text.
inline std::vector<FontFamily> ChineseFonts() {
  std::vector<FontFamily> fonts;
  HDC screen = GetDC(nullptr);
  if (!screen) return fonts;
  LOGFONTW wanted{};
  wanted.lfCharSet = GB2312_CHARSET;
  EnumFontFamiliesExW(screen, &wanted, CollectFont, reinterpret_cast<LPARAM>(&fonts), 0);
  ReleaseDC(nullptr, screen);
  return fonts;
}
