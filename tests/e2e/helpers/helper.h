// What the helpers share: their arguments and options, the JSON they print
// and log, and the windows, processes, fonts and pixels they look at.
#pragma once

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
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
                        std::initializer_list<std::wstring_view> flags = {}, size_t* rest = nullptr) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& key = args[i];
    if (key == L"--" && rest) {
      *rest = i;
      return true;
    }
    if (std::ranges::find(flags, key) != flags.end())
      options[key] = L"1";
    else if (options.contains(key) && i + 1 < args.size())
      options[key] = args[++i];
    else
      return false;
  }
  return !rest;
}

// The parts of text between the separators; none of an empty text.
inline std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  for (size_t start = 0, end = 0; !text.empty() && end != std::wstring::npos; start = end + 1) {
    end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
  }
  return parts;
}

// ---------------------------------------------------------------- text, JSON

inline bool WriteAll(HANDLE file, const std::string& data) {
  DWORD written = 0;
  return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
}

// One line on standard output, written whole.
inline void Print(const std::string& line) { WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), line + "\n"); }

inline std::wstring FromUtf8(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                 static_cast<int>(out.size())));
  return out;
}

// A JSON string of the text, in UTF-8.
inline std::string Json(const std::wstring& text) {
  const int size = static_cast<int>(text.size());
  std::string utf8(static_cast<size_t>(size) * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), size * 3, nullptr, nullptr));
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"' || c == '\\') out += '\\';
    if (c >= 0 && c < 0x20) out += std::string("\\u00") + "01"[c >> 4] + "0123456789abcdef"[c & 15];
    else out += c;
  }
  return out + "\"";
}

// A JSON value: wide text becomes a string, a narrow one is JSON already.
struct Value {
  std::string json;
  template <typename T>
    requires std::is_arithmetic_v<T>
  Value(T value) : json(std::is_same_v<T, bool> ? (value ? "true" : "false") : std::to_string(value)) {}
  Value(HWND window) : json(std::to_string(reinterpret_cast<ULONG_PTR>(window))) {}
  Value(const wchar_t* text) : json(Json(text)) {}
  Value(const std::wstring& text) : json(Json(text)) {}
  Value(const char* made) : json(made) {}
  Value(std::string made) : json(std::move(made)) {}
};

struct Field {
  const char* key;
  Value value;
};

// "key":value pairs, comma-separated: the inside of a JSON object.
inline std::string Members(std::initializer_list<Field> fields) {
  std::string out;
  for (const Field& field : fields)
    out += (out.empty() ? "\"" : ",\"") + std::string(field.key) + "\":" + field.value.json;
  return out;
}

inline std::string Object(std::initializer_list<Field> fields) { return "{" + Members(fields) + "}"; }

inline std::string List(const std::vector<Value>& items, const char* separator = ",") {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i].json;
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

inline std::string WindowFields(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t title[1024] = {};
  GetWindowTextW(window, title, 1024);
  return Members({{"hwnd", window}, {"pid", pid}, {"class", ClassName(window)}, {"title", title},
                  {"visible", IsWindowVisible(window) != 0}, {"owner", GetWindow(window, GW_OWNER)}});
}

// ---------------------------------------------------------------- processes, fonts, pixels

inline std::vector<PROCESSENTRY32W> Processes() {
  std::vector<PROCESSENTRY32W> processes;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return processes;
  PROCESSENTRY32W entry{sizeof entry};
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
  LOGFONTW wanted{.lfCharSet = GB2312_CHARSET};
  if (screen) EnumFontFamiliesExW(screen, &wanted, CollectFont, reinterpret_cast<LPARAM>(&fonts), 0);
  ReleaseDC(nullptr, screen);
  return fonts;
}

// A 32-bit DIB of w x h pixels, the top row first.
inline BITMAPINFOHEADER DibHeader(int w, int h) { return {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB}; }

// The pixels paint(dc, screen) draws in a DIB of w x h.
template <typename Paint>
std::vector<DWORD> Pixels(int w, int h, Paint paint) {
  std::vector<DWORD> out(static_cast<size_t>(w) * h);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{DibHeader(w, h)};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    paint(dc, screen);
    GdiFlush();
    CopyMemory(out.data(), bits, out.size() * sizeof(DWORD));
    SelectObject(dc, old);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return out;
}
