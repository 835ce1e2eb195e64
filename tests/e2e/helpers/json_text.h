// The text the helpers print and log: numbers, booleans, UTF-8 and JSON
// strings, lines, and what every helper says of a window.
#pragma once

#include <windows.h>

#include <string>

inline std::string Number(long long value) {
  char buf[32];
  wsprintfA(buf, "%I64d", value);
  return buf;
}

inline std::string Bool(bool value) { return value ? "true" : "false"; }

// One line on standard output, written whole.
inline void Print(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

inline std::wstring ClassName(HWND window) {
  wchar_t buf[260] = {};
  GetClassNameW(window, buf, 260);
  return buf;
}

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
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      wsprintfA(buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// "hwnd", "pid", "class", "title", "visible" and "owner" of a window, as JSON
// fields.
inline std::string WindowFields(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t title[1024] = {};
  GetWindowTextW(window, title, 1024);
  return "\"hwnd\":" + Number(reinterpret_cast<ULONG_PTR>(window)) + ",\"pid\":" + Number(pid) +
         ",\"class\":" + Json(ClassName(window)) + ",\"title\":" + Json(title) +
         ",\"visible\":" + Bool(IsWindowVisible(window)) +
         ",\"owner\":" + Number(reinterpret_cast<ULONG_PTR>(GetWindow(window, GW_OWNER)));
}
