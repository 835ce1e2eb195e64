// Runs a program in a console of its own and reads that console as the
// player sees it: the characters and colours of its screen buffer.
//
//   console_driver --out DIR [--cols N] [--rows N] [--timeout-ms N] [--cwd DIR]
//                  [--shot] -- PROGRAM [ARGS...]
//
// PROGRAM starts with CREATE_NEW_CONSOLE (a buffer of N x N, default 250 x
// 300); the driver attaches to that console and reads it through CONOUT$
// with ReadConsoleOutputW every 50 ms. Files in DIR (UTF-8 JSON):
//   started.json  {"pid": the program's process ID}, once it started
//   screen.json   the latest read, replaced whenever the screen changed
//   result.json   once the program ended or was ended: exit code, why it
//                 ended, the time from its start, the last screen read while
//                 it ran and one read after
//   screen.bmp    the desktop when the program ended (--shot)
// A file DIR/stop, made by whoever runs the driver, ends the program.
// A screen is {"cols", "rows": buffer rows, "title", "lines": [{"text",
// "attrs": [one per character]}]}: a double-width character's trailing
// cell is left out, trailing grey blanks and empty lines are dropped.
// Exit code: 0 once result.json is written, 2 usage, 3 the program did not
// start, 4 its console could not be read.
#include <windows.h>

#include "command_line.h"
#include "json_text.h"

#include <string>
#include <vector>

namespace {

struct Options {
  std::wstring out;
  std::wstring cwd;
  SHORT cols = 250;
  SHORT rows = 300;
  DWORD timeoutMs = 0;
  bool shot = false;
  std::vector<std::wstring> command;
};

std::string Number(long long value) {
  char buf[32];
  wsprintfA(buf, "%I64d", value);
  return buf;
}

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  return L"\"" + arg + L"\"";
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes a file whole under its name: a reader sees the old or the new one.
bool WriteAtomically(const std::wstring& path, const std::string& data) {
  const std::wstring temp = path + L".tmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written,
                            nullptr) && written == data.size();
  CloseHandle(file);
  return ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The file is written however long a reader holds the old one open.
void WriteSurely(const std::wstring& path, const std::string& data) {
  for (int attempt = 0; attempt < 200 && !WriteAtomically(path, data); ++attempt) Sleep(25);
}

std::string ReadScreen(HANDLE out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return {};
  const SHORT cols = info.dwSize.X, rows = info.dwSize.Y;
  std::vector<std::string> lines;
  const SHORT chunk = static_cast<SHORT>(cols > 0 ? (16000 / cols > 0 ? 16000 / cols : 1) : 1);
  std::vector<CHAR_INFO> cells;
  for (SHORT top = 0; top < rows; top = static_cast<SHORT>(top + chunk)) {
    const SHORT height = static_cast<SHORT>(rows - top < chunk ? rows - top : chunk);
    cells.assign(static_cast<size_t>(cols) * height, CHAR_INFO{});
    SMALL_RECT region{0, top, static_cast<SHORT>(cols - 1), static_cast<SHORT>(top + height - 1)};
    if (!ReadConsoleOutputW(out, cells.data(), COORD{cols, height}, COORD{0, 0}, &region))
      return {};
    for (SHORT y = 0; y < height; ++y) {
      std::wstring text;
      std::vector<int> attrs;
      for (SHORT x = 0; x < cols; ++x) {
        const CHAR_INFO& cell = cells[static_cast<size_t>(y) * cols + x];
        if (cell.Attributes & COMMON_LVB_TRAILING_BYTE) continue;
        text += cell.Char.UnicodeChar ? cell.Char.UnicodeChar : L' ';
        attrs.push_back(cell.Attributes & 0xFF);
      }
      while (!text.empty() && text.back() == L' ' && attrs.back() == 0x07) {
        text.pop_back();
        attrs.pop_back();
      }
      std::string line = "{\"text\":" + Json(text) + ",\"attrs\":[";
      for (size_t i = 0; i < attrs.size(); ++i) line += (i ? "," : "") + Number(attrs[i]);
      lines.push_back(line + "]}");
    }
  }
  while (!lines.empty() && lines.back() == "{\"text\":\"\",\"attrs\":[]}") lines.pop_back();
  wchar_t title[1024] = {};
  GetConsoleTitleW(title, 1024);
  std::string json = "{\"cols\":" + Number(cols) + ",\"rows\":" + Number(rows) +
                     ",\"title\":" + Json(title) + ",\"lines\":[";
  for (size_t i = 0; i < lines.size(); ++i) json += (i ? ",\n" : "\n") + lines[i];
  return json + "]}";
}

// The whole desktop as a 24-bit BMP.
bool Screenshot(const std::wstring& path) {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
  SelectObject(dc, old);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = w;
  header.biHeight = h;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
  std::string pixels(static_cast<size_t>(stride) * h, '\0');
  const int got = GetDIBits(dc, bitmap, 0, h, pixels.data(),
                            reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  if (got != h) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::string data(reinterpret_cast<const char*>(&file), sizeof file);
  data.append(reinterpret_cast<const char*>(&header), sizeof header);
  data += pixels;
  return WriteAtomically(path, data);
}

bool ParseOptions(Options& options) {
  std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
  size_t i = 1;
  for (; i < args.size(); ++i) {
    const std::wstring& key = args[i];
    if (key == L"--") {
      ++i;
      break;
    }
    if (key == L"--shot") {
      options.shot = true;
      continue;
    }
    if (i + 1 >= args.size()) return false;
    const std::wstring& value = args[++i];
    if (key == L"--out") options.out = value;
    else if (key == L"--cwd") options.cwd = value;
    else if (key == L"--cols") options.cols = static_cast<SHORT>(_wtoi(value.c_str()));
    else if (key == L"--rows") options.rows = static_cast<SHORT>(_wtoi(value.c_str()));
    else if (key == L"--timeout-ms") options.timeoutMs = static_cast<DWORD>(_wtoi(value.c_str()));
    else return false;
  }
  options.command.assign(args.begin() + static_cast<long>(i < args.size() ? i : args.size()),
                         args.end());
  return !options.out.empty() && !options.command.empty() && options.cols > 0 && options.rows > 0;
}

}  // namespace

int main() {
  Options options;
  if (!ParseOptions(options)) {
    const char usage[] = "usage: console_driver --out DIR [--cols N] [--rows N] [--timeout-ms N]"
                         " [--cwd DIR] [--shot] -- PROGRAM [ARGS...]\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof usage - 1, &written, nullptr);
    return 2;
  }
  const std::wstring dir = options.out + L"\\";
  std::wstring line;
  for (const std::wstring& arg : options.command) line += (line.empty() ? L"" : L" ") + Quote(arg);

  // The driver's own console (if any) is let go: it reads the program's only.
  FreeConsole();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USECOUNTCHARS;
  startup.dwXCountChars = static_cast<DWORD>(options.cols);
  startup.dwYCountChars = static_cast<DWORD>(options.rows);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &process)) {
    WriteSurely(dir + L"result.json", "{\"error\":\"CreateProcessW failed\",\"code\":" +
                                          Number(GetLastError()) + "}\n");
    return 3;
  }
  CloseHandle(process.hThread);
  WriteSurely(dir + L"started.json", "{\"pid\":" + Number(process.dwProcessId) + "}\n");

  // The program's console exists once its start-up made it.
  const ULONGLONG start = GetTickCount64();
  bool attached = false;
  while (!(attached = AttachConsole(process.dwProcessId)) && GetTickCount64() - start < 20000 &&
         WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
  }
  HANDLE out = INVALID_HANDLE_VALUE;
  if (attached) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (out != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(out, &info) &&
        (info.dwSize.X < options.cols || info.dwSize.Y < options.rows)) {
      SetConsoleScreenBufferSize(out, COORD{info.dwSize.X < options.cols ? options.cols : info.dwSize.X,
                                            info.dwSize.Y < options.rows ? options.rows : info.dwSize.Y});
    }
  }

  std::string running, shown;
  bool stopped = false, timedOut = false;
  for (;;) {
    const bool ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    if (ended) break;
    if (out != INVALID_HANDLE_VALUE) {
      std::string screen = ReadScreen(out);
      if (!screen.empty()) running = screen;
      if (!screen.empty() && screen != shown && WriteAtomically(dir + L"screen.json", screen + "\n"))
        shown = screen;
    }
    const bool stop = Exists(dir + L"stop");
    const bool late = options.timeoutMs && GetTickCount64() - start > options.timeoutMs;
    if (stop || late) {
      stopped = stop;
      timedOut = !stop;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }
  const ULONGLONG elapsed = GetTickCount64() - start;
  std::string after = out != INVALID_HANDLE_VALUE ? ReadScreen(out) : std::string();
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (options.shot) Screenshot(dir + L"screen.bmp");
  if (!after.empty()) WriteSurely(dir + L"screen.json", after + "\n");
  std::string result = "{\"pid\":" + Number(process.dwProcessId) + ",\"exit_code\":" +
                       Number(code) + ",\"elapsed_ms\":" + Number(static_cast<long long>(elapsed)) +
                       ",\"stopped\":" + (stopped ? "true" : "false") +
                       ",\"timed_out\":" + (timedOut ? "true" : "false") +
                       ",\"attached\":" + (attached ? "true" : "false") +
                       ",\"running\":" + (running.empty() ? "null" : running) +
                       ",\"after\":" + (after.empty() ? "null" : after) + "}\n";
  WriteSurely(dir + L"result.json", result);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  FreeConsole();
  return attached && out != INVALID_HANDLE_VALUE ? 0 : 4;
}
