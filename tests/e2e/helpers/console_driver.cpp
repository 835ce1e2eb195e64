// Runs a program in a console of its own and reads that console as the
// player sees it: the characters and colours of its screen buffer.
//
//   console_driver --out DIR [--cols N] [--rows N] [--timeout-ms N] [--shot] -- PROGRAM [ARGS...]
//
// PROGRAM starts with CREATE_NEW_CONSOLE (a buffer of N x N, default 250 x
// 300); the driver attaches to that console, gives it a font that shows
// Chinese text where this Windows has one, and reads it through CONOUT$
// with ReadConsoleOutputW every 50 ms, one line a call. Files in DIR (UTF-8
// JSON):
//   started.json  {"pid": the program's process ID, "host": "windows" or
//                 "wine", "chinese_fonts": [the font faces for Simplified
//                 Chinese]}, once it started
//   screen.json   the latest read, replaced whenever the screen changed
//   result.json   once the program ended or was ended: exit code, why it
//                 ended, the time from its start, the font chosen, the last
//                 screen read while it ran and one read after
//   screen.bmp    the desktop when the program ended (--shot)
// A file DIR/stop, made by whoever runs the driver, ends the program.
// A screen is {"cols", "rows": buffer rows, "title", "host", "codepage",
// "font": {"face", "truetype", "size", "shows_chinese"} or null, "lines":
// [{"text", "attrs", "padding"}]}: a line holds every cell as read, its
// whole attribute word included (a double-width character's halves are
// marked COMMON_LVB_LEADING_BYTE and _TRAILING_BYTE), without the blank
// cells at its end; "padding" counts the empty cells (character and
// attribute 0) among those, which a raster font's read leaves at the end of
// a line for each double-width character it gave once. Empty lines at the
// end are dropped. tests/e2e/console_driver.py reads the forms.
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
  SHORT cols = 250;
  SHORT rows = 300;
  DWORD timeoutMs = 0;
  bool shot = false;
  std::vector<std::wstring> command;
};

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

bool OnWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The console font calls, looked up: not every Windows (or Wine) has them.
using FontCall = BOOL(WINAPI*)(HANDLE, BOOL, PCONSOLE_FONT_INFOEX);

FontCall ConsoleFontCall(const char* name) {
  return reinterpret_cast<FontCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

struct Face {
  std::wstring name;
  bool fixed;
  bool truetype;
};

int CALLBACK AddFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM param) {
  auto* faces = reinterpret_cast<std::vector<Face>*>(param);
  const std::wstring name = font->lfFaceName;
  if (name.empty() || name[0] == L'@') return 1;   // the vertical forms
  for (const Face& face : *faces)
    if (face.name == name) return 1;
  faces->push_back({name, (font->lfPitchAndFamily & 3) == FIXED_PITCH,
                    (type & TRUETYPE_FONTTYPE) != 0});
  return 1;
}

// The font faces this Windows has for Simplified Chinese text.
std::vector<Face> ChineseFaces() {
  std::vector<Face> faces;
  HDC screen = GetDC(nullptr);
  if (!screen) return faces;
  LOGFONTW wanted{};
  wanted.lfCharSet = GB2312_CHARSET;
  EnumFontFamiliesExW(screen, &wanted, AddFace, reinterpret_cast<LPARAM>(&faces), 0);
  ReleaseDC(nullptr, screen);
  return faces;
}

// The face a Chinese console shows, else another fixed-pitch TrueType one
// for Chinese; empty when there is none.
std::wstring ConsoleFace(const std::vector<Face>& faces) {
  for (const wchar_t* wanted : {L"\u65B0\u5B8B\u4F53", L"NSimSun", L"\u5B8B\u4F53", L"SimSun"})
    for (const Face& face : faces)
      if (face.name == wanted && face.truetype) return face.name;
  for (const Face& face : faces)
    if (face.fixed && face.truetype) return face.name;
  return {};
}

bool SetFace(HANDLE out, const std::wstring& face) {
  FontCall set = ConsoleFontCall("SetCurrentConsoleFontEx");
  if (!set || face.empty()) return false;
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof font;
  font.dwFontSize.Y = 16;
  font.FontFamily = FF_DONTCARE;
  font.FontWeight = FW_NORMAL;
  lstrcpynW(font.FaceName, face.c_str(), LF_FACESIZE);
  return set(out, FALSE, &font) != 0;
}

// The console's font; known false when it cannot be read.
struct Font {
  bool known = false;
  std::wstring face;
  bool truetype = false;
  COORD size{};
};

Font CurrentFont(HANDLE out) {
  Font font;
  FontCall get = ConsoleFontCall("GetCurrentConsoleFontEx");
  CONSOLE_FONT_INFOEX info{};
  info.cbSize = sizeof info;
  if (!get || !get(out, FALSE, &info)) return font;
  font.known = true;
  font.face = info.FaceName;
  font.truetype = (info.FontFamily & TMPF_TRUETYPE) != 0;
  font.size = info.dwFontSize;
  return font;
}

bool ShowsChinese(const Font& font, const std::vector<Face>& faces) {
  for (const Face& face : faces)
    if (face.name == font.face) return true;
  return false;
}

// {"face", "truetype", "size", "shows_chinese"} of the console's font, or null.
std::string FontJson(const Font& font, const std::vector<Face>& faces) {
  if (!font.known) return "null";
  return "{\"face\":" + Json(font.face) + ",\"truetype\":" + Bool(font.truetype) +
         ",\"size\":[" + Number(font.size.X) + "," + Number(font.size.Y) +
         "],\"shows_chinese\":" + Bool(ShowsChinese(font, faces)) + "}";
}

// One line of cells as JSON: every cell up to the last that is neither
// blank nor empty, and how many empty ones were among those after it.
std::string LineJson(const CHAR_INFO* cells, SHORT cols) {
  size_t end = static_cast<size_t>(cols);
  int padding = 0;
  for (; end > 0; --end) {
    const CHAR_INFO& cell = cells[end - 1];
    if (cell.Char.UnicodeChar == 0 && cell.Attributes == 0) ++padding;
    else if (!(cell.Char.UnicodeChar == L' ' && cell.Attributes == 0x07)) break;
  }
  std::wstring text;
  std::string attrs;
  for (size_t x = 0; x < end; ++x) {
    text += cells[x].Char.UnicodeChar;
    attrs += (x ? "," : "") + Number(cells[x].Attributes);
  }
  std::string line = "{\"text\":" + Json(text) + ",\"attrs\":[" + attrs + "]";
  if (padding) line += ",\"padding\":" + Number(padding);
  return line + "}";
}

// The screen buffer, one line a call: a raster font's read moves the rest
// of the region left past each double-width character it gives once, so a
// region of several lines would shift every line after the first.
std::string ReadScreen(HANDLE out, const std::vector<Face>& faces, SHORT& lastUsed) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return {};
  const SHORT cols = info.dwSize.X, rows = info.dwSize.Y;
  // Lines below the cursor, the window and any line written before are blank.
  SHORT last = info.dwCursorPosition.Y;
  if (info.srWindow.Bottom > last) last = info.srWindow.Bottom;
  if (lastUsed > last) last = lastUsed;
  if (last >= rows) last = static_cast<SHORT>(rows - 1);
  std::vector<std::string> lines;
  std::vector<CHAR_INFO> cells(static_cast<size_t>(cols));
  const std::string empty = "{\"text\":\"\",\"attrs\":[]}";
  for (SHORT y = 0; y <= last; ++y) {
    cells.assign(static_cast<size_t>(cols), CHAR_INFO{});
    SMALL_RECT region{0, y, static_cast<SHORT>(cols - 1), y};
    if (!ReadConsoleOutputW(out, cells.data(), COORD{cols, 1}, COORD{0, 0}, &region)) return {};
    lines.push_back(LineJson(cells.data(), cols));
    if (lines.back() != empty && y > lastUsed) lastUsed = y;
  }
  while (!lines.empty() && lines.back() == empty) lines.pop_back();
  wchar_t title[1024] = {};
  GetConsoleTitleW(title, 1024);
  std::string json = "{\"cols\":" + Number(cols) + ",\"rows\":" + Number(rows) +
                     ",\"title\":" + Json(title) + ",\"host\":" +
                     (OnWine() ? "\"wine\"" : "\"windows\"") +
                     ",\"codepage\":" + Number(GetConsoleOutputCP()) +
                     ",\"font\":" + FontJson(CurrentFont(out), faces) + ",\"lines\":[";
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
                         " [--shot] -- PROGRAM [ARGS...]\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof usage - 1, &written, nullptr);
    return 2;
  }
  const std::wstring dir = options.out + L"\\";
  std::wstring line;
  for (const std::wstring& arg : options.command)
    line += (line.empty() ? L"" : L" ") + JoinArgument(arg);

  const std::vector<Face> faces = ChineseFaces();
  const std::wstring face = ConsoleFace(faces);
  std::string names;
  for (const Face& f : faces) names += (names.empty() ? "" : ",") + Json(f.name);

  // The driver's own console (if any) is let go: it reads the program's only.
  FreeConsole();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USECOUNTCHARS;
  startup.dwXCountChars = static_cast<DWORD>(options.cols);
  startup.dwYCountChars = static_cast<DWORD>(options.rows);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &process)) {
    WriteSurely(dir + L"result.json", "{\"error\":\"CreateProcessW failed\",\"code\":" +
                                          Number(GetLastError()) + "}\n");
    return 3;
  }
  CloseHandle(process.hThread);
  WriteSurely(dir + L"started.json", "{\"pid\":" + Number(process.dwProcessId) + ",\"host\":" +
                                         (OnWine() ? "\"wine\"" : "\"windows\"") +
                                         ",\"chinese_fonts\":[" + names + "]}\n");

  // The program's console exists once its start-up made it.
  const ULONGLONG start = GetTickCount64();
  bool attached = false;
  while (!(attached = AttachConsole(process.dwProcessId)) && GetTickCount64() - start < 20000 &&
         WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
  }
  HANDLE out = INVALID_HANDLE_VALUE;
  bool fontSet = false, fontSetAgain = false;
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
    // A font that shows the program's Chinese text, and two cells marked
    // leading and trailing for each double-width character read.
    if (out != INVALID_HANDLE_VALUE) fontSet = SetFace(out, face);
  }

  std::string running, shown;
  bool stopped = false, timedOut = false;
  SHORT lastUsed = 0;
  for (;;) {
    const bool ended = WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0;
    if (ended) break;
    if (out != INVALID_HANDLE_VALUE) {
      std::string screen = ReadScreen(out, faces, lastUsed);
      if (!screen.empty()) running = screen;
      if (!screen.empty() && screen != shown && WriteAtomically(dir + L"screen.json", screen + "\n"))
        shown = screen;
    }
    const bool stop = GetFileAttributesW((dir + L"stop").c_str()) != INVALID_FILE_ATTRIBUTES;
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
  // A program that changed the console's code page and back may leave it
  // with the code page's own font: a raster one, or one without Chinese.
  if (out != INVALID_HANDLE_VALUE && !face.empty()) {
    const Font font = CurrentFont(out);
    if (!font.truetype || !ShowsChinese(font, faces)) fontSetAgain = SetFace(out, face);
  }
  std::string after =
      out != INVALID_HANDLE_VALUE ? ReadScreen(out, faces, lastUsed) : std::string();
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (options.shot) Screenshot(dir + L"screen.bmp");
  if (!after.empty()) WriteSurely(dir + L"screen.json", after + "\n");
  std::string result = "{\"pid\":" + Number(process.dwProcessId) + ",\"exit_code\":" +
                       Number(code) + ",\"elapsed_ms\":" + Number(static_cast<long long>(elapsed)) +
                       ",\"stopped\":" + Bool(stopped) + ",\"timed_out\":" + Bool(timedOut) +
                       ",\"attached\":" + Bool(attached) + ",\"font_chosen\":" +
                       (face.empty() ? "null" : Json(face)) + ",\"font_set\":" + Bool(fontSet) +
                       ",\"font_set_again\":" + Bool(fontSetAgain) +
                       ",\"running\":" + (running.empty() ? "null" : running) +
                       ",\"after\":" + (after.empty() ? "null" : after) + "}\n";
  WriteSurely(dir + L"result.json", result);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  FreeConsole();
  return attached && out != INVALID_HANDLE_VALUE ? 0 : 4;
}
