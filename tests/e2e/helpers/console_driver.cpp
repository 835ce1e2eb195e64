// Runs a program in a console of its own and reads that console as the
// player sees it: the characters and colours of its screen buffer.
//
//   console_driver --out DIR [--cols N] [--rows N] [--timeout-ms N] [--shot] -- PROGRAM [ARGS...]
//
// PROGRAM starts with CREATE_NEW_CONSOLE (a buffer of N x N, default 250 x
// 300); the driver attaches to that console, gives it a font that shows
// Chinese text where this Windows has one, and reads it every 50 ms. Files
// in DIR, UTF-8 JSON:
//   started.json  {"pid", "host": "windows" or "wine", "chinese_fonts"}, once it started
//   screen.json   the latest read, replaced whenever the screen changed
//   result.json   once the program ended or was ended: exit code, why it
//                 ended, the time from its start, the font chosen, the last
//                 screen read while it ran and one read after
//   screen.bmp    the desktop when the program ended (--shot)
// A file DIR/stop ends the program. A screen is {"cols", "rows", "title",
// "host", "codepage", "font": {"face", "truetype", "size", "shows_chinese"}
// or null, "lines": [{"text", "attrs", "padding"}]}: a line holds every cell
// as read with its whole attribute word (a double-width character's halves
// marked COMMON_LVB_LEADING_BYTE and _TRAILING_BYTE), without the blank
// cells at its end; "padding" counts the empty cells (character and
// attribute 0) among those, which a raster font's read leaves for each
// double-width character it gave once. Empty lines at the end are dropped.
// Exit code: 0 once result.json is written, 2 usage, 3 the program did not
// start, 4 its console could not be read.
#include "helper.h"

namespace {

// Writes a file whole under its name (a reader sees the old or the new
// one), trying `attempts` times while a reader holds the old one open.
bool WriteAtomically(const std::wstring& path, const std::string& data, int attempts = 1) {
  const std::wstring temp = path + L".tmp";
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt) Sleep(25);
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    const bool written = WriteAll(file, data);
    CloseHandle(file);
    if (written && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  }
  return false;
}

const wchar_t* Host() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") ? L"wine" : L"windows";
}

using Faces = std::vector<std::wstring>;

bool Listed(const Faces& faces, const std::wstring& name) {
  return std::ranges::find(faces, name) != faces.end();
}

// The font faces this Windows has for Simplified Chinese text, once each, and
// in `chosen` the TrueType face a Chinese console shows, else another
// fixed-pitch TrueType one for Chinese; empty when there is none.
Faces ChineseFaces(std::wstring& chosen) {
  Faces faces, truetype, fixed;
  for (const auto& [font, type] : ChineseFonts()) {
    const std::wstring name = font.lfFaceName;
    if (name.empty() || name[0] == L'@' || Listed(faces, name)) continue;  // '@': the vertical forms
    faces.push_back(name);
    if (type & TRUETYPE_FONTTYPE) truetype.push_back(name);
    if ((type & TRUETYPE_FONTTYPE) && (font.lfPitchAndFamily & 3) == FIXED_PITCH) fixed.push_back(name);
  }
  const std::wstring wanted[] = {L"\u65B0\u5B8B\u4F53", L"NSimSun", L"\u5B8B\u4F53", L"SimSun"};
  const auto found = std::ranges::find_first_of(wanted, truetype);
  chosen = found != std::end(wanted) ? *found : fixed.empty() ? L"" : fixed[0];
  return faces;
}

bool SetFace(HANDLE out, const std::wstring& face) {
  CONSOLE_FONT_INFOEX font{
      .cbSize = sizeof font, .dwFontSize = {0, 16}, .FontFamily = FF_DONTCARE, .FontWeight = FW_NORMAL};
  lstrcpynW(font.FaceName, face.c_str(), LF_FACESIZE);
  return !face.empty() && SetCurrentConsoleFontEx(out, FALSE, &font);
}

std::string FontJson(HANDLE out, const Faces& faces) {
  CONSOLE_FONT_INFOEX font{sizeof font};
  if (!GetCurrentConsoleFontEx(out, FALSE, &font)) return "null";
  return Object({{"face", font.FaceName},
                 {"truetype", (font.FontFamily & TMPF_TRUETYPE) != 0},
                 {"size", List({font.dwFontSize.X, font.dwFontSize.Y})},
                 {"shows_chinese", Listed(faces, font.FaceName)}});
}

// One line of cells: every cell up to the last that is neither blank nor
// empty, and how many empty ones were among those after it.
std::string LineJson(const CHAR_INFO* cells, SHORT cols) {
  size_t end = static_cast<size_t>(cols);
  int padding = 0;
  for (; end > 0; --end) {
    const CHAR_INFO& cell = cells[end - 1];
    if (cell.Char.UnicodeChar == 0 && cell.Attributes == 0) ++padding;
    else if (!(cell.Char.UnicodeChar == L' ' && cell.Attributes == 0x07)) break;
  }
  std::wstring text;
  std::vector<Value> attrs;
  for (size_t x = 0; x < end; ++x) {
    text += cells[x].Char.UnicodeChar;
    attrs.push_back(cells[x].Attributes);
  }
  const std::string line = Members({{"text", text}, {"attrs", List(attrs)}});
  return "{" + line + (padding ? "," + Members({{"padding", padding}}) : "") + "}";
}

// The screen buffer, one line a call: a raster font's read moves the rest
// of the region left past each double-width character it gives once, so a
// region of several lines would shift every line after the first.
std::string ReadScreen(HANDLE out, const Faces& faces, SHORT& lastUsed) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return {};
  const SHORT cols = info.dwSize.X, rows = info.dwSize.Y;
  // Lines below the cursor, the window and any line written before are blank.
  const SHORT last = std::min<SHORT>(
      std::max({info.dwCursorPosition.Y, info.srWindow.Bottom, lastUsed}), static_cast<SHORT>(rows - 1));
  std::vector<Value> lines;
  std::vector<CHAR_INFO> cells(static_cast<size_t>(cols));
  const std::string empty = LineJson(cells.data(), 0);
  for (SHORT y = 0; y <= last; ++y) {
    cells.assign(static_cast<size_t>(cols), CHAR_INFO{});
    SMALL_RECT region{0, y, static_cast<SHORT>(cols - 1), y};
    if (!ReadConsoleOutputW(out, cells.data(), COORD{cols, 1}, COORD{0, 0}, &region)) return {};
    lines.push_back(LineJson(cells.data(), cols));
    if (lines.back().json != empty && y > lastUsed) lastUsed = y;
  }
  while (!lines.empty() && lines.back().json == empty) lines.pop_back();
  wchar_t title[1024] = {};
  GetConsoleTitleW(title, 1024);
  return Object({{"cols", cols}, {"rows", rows}, {"title", title}, {"host", Host()},
                 {"codepage", GetConsoleOutputCP()}, {"font", FontJson(out, faces)},
                 {"lines", List(lines, ",\n")}});
}

// The whole desktop as a BMP.
void Screenshot(const std::wstring& path) {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  if (w <= 0 || h <= 0) return;
  const std::vector<DWORD> pixels = Pixels(w, h, [&](HDC dc, HDC screen) {
    BitBlt(dc, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
  });
  const BITMAPINFOHEADER header = DibHeader(w, h);
  BITMAPFILEHEADER file{0x4D42};
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * sizeof(DWORD));
  std::string data(reinterpret_cast<const char*>(&file), sizeof file);
  data.append(reinterpret_cast<const char*>(&header), sizeof header);
  data.append(reinterpret_cast<const char*>(pixels.data()), pixels.size() * sizeof(DWORD));
  WriteAtomically(path, data);
}

// The options, and the program's command line as given after the "--";
// false when they are not usable.
bool ParseOptions(Options& options, std::wstring& command) {
  const std::vector<std::wstring> args = Arguments();
  size_t rest = 0;
  if (!ReadOptions(args, options, {L"--shot"}, &rest)) return false;
  // The first " -- " that has the arguments before the "--" before it.
  const std::wstring line = GetCommandLineW();
  size_t at = line.find(L" -- ");
  while (at != std::wstring::npos &&
         Arguments(line.substr(0, at).c_str()) != std::vector(args.begin(), args.begin() + rest))
    at = line.find(L" -- ", at + 1);
  const size_t from = at == std::wstring::npos ? at : line.find_first_not_of(L" \t", at + 4);
  if (from != std::wstring::npos) command = line.substr(from);
  return !options[L"--out"].empty() && !command.empty();
}

// A run of the program and what the driver saw of it.
struct Run {
  SHORT cols = 0, rows = 0;
  std::wstring face;  // the font chosen, or none
  Faces faces;
  PROCESS_INFORMATION process{};
  HANDLE out = INVALID_HANDLE_VALUE;
  bool attached = false, fontSet = false, fontSetAgain = false, stopped = false, timedOut = false;
  ULONGLONG start = 0, elapsed = 0;
  std::string running, after;
  SHORT lastUsed = 0;
};

// Attaches to the program's console once its start-up made it, makes its
// buffer at least cols x rows and sets the chosen font; reads the console
// until the program ends, or ends it on DIR/stop or after timeoutMs (0:
// never); then reads it once more.
void Watch(Run& run, const std::wstring& dir, DWORD timeoutMs) {
  run.start = GetTickCount64();
  while (!(run.attached = AttachConsole(run.process.dwProcessId)) &&
         GetTickCount64() - run.start < 20000 &&
         WaitForSingleObject(run.process.hProcess, 5) == WAIT_TIMEOUT) {
  }
  if (run.attached) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    run.out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
  }
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (run.out != INVALID_HANDLE_VALUE) {
    if (GetConsoleScreenBufferInfo(run.out, &info) && (info.dwSize.X < run.cols || info.dwSize.Y < run.rows))
      SetConsoleScreenBufferSize(run.out,
                                 COORD{std::max(info.dwSize.X, run.cols), std::max(info.dwSize.Y, run.rows)});
    // A font that shows the program's Chinese text, and two cells marked
    // leading and trailing for each double-width character read.
    run.fontSet = SetFace(run.out, run.face);
  }
  std::string shown;
  while (WaitForSingleObject(run.process.hProcess, 50) != WAIT_OBJECT_0) {
    if (run.out != INVALID_HANDLE_VALUE) {
      std::string screen = ReadScreen(run.out, run.faces, run.lastUsed);
      if (!screen.empty()) run.running = screen;
      if (!screen.empty() && screen != shown && WriteAtomically(dir + L"screen.json", screen + "\n"))
        shown = screen;
    }
    run.stopped = GetFileAttributesW((dir + L"stop").c_str()) != INVALID_FILE_ATTRIBUTES;
    run.timedOut = !run.stopped && timeoutMs && GetTickCount64() - run.start > timeoutMs;
    if (run.stopped || run.timedOut) {
      TerminateProcess(run.process.hProcess, 1);
      WaitForSingleObject(run.process.hProcess, 5000);
      break;
    }
  }
  run.elapsed = GetTickCount64() - run.start;
  if (run.out == INVALID_HANDLE_VALUE) return;
  // A program that changed the console's code page and back may leave it
  // with the code page's own font: a raster one, or one without Chinese.
  CONSOLE_FONT_INFOEX font{sizeof font};
  if (!GetCurrentConsoleFontEx(run.out, FALSE, &font) || !(font.FontFamily & TMPF_TRUETYPE) ||
      !Listed(run.faces, font.FaceName))
    run.fontSetAgain = SetFace(run.out, run.face);
  run.after = ReadScreen(run.out, run.faces, run.lastUsed);
}

std::string OrNull(const std::string& json) { return json.empty() ? "null" : json; }

}  // namespace

int main() {
  Options options{{L"--out", L""}, {L"--cols", L"250"}, {L"--rows", L"300"}, {L"--timeout-ms", L"0"}};
  std::wstring command;
  Run run;
  const bool usable = ParseOptions(options, command);
  run.cols = static_cast<SHORT>(_wtoi(options[L"--cols"].c_str()));
  run.rows = static_cast<SHORT>(_wtoi(options[L"--rows"].c_str()));
  if (!usable || run.cols <= 0 || run.rows <= 0) {
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), "usage: console_driver --out DIR [--cols N] [--rows N] "
                                             "[--timeout-ms N] [--shot] -- PROGRAM [ARGS...]\n");
    return 2;
  }
  const std::wstring dir = options[L"--out"] + L"\\";
  auto write = [&](const wchar_t* name, const std::string& json) {
    WriteAtomically(dir + name, json + "\n", 200);
  };
  run.faces = ChineseFaces(run.face);

  // The driver's own console (if any) is let go: it reads the program's only.
  FreeConsole();
  STARTUPINFOW startup{.cb = sizeof startup, .dwXCountChars = static_cast<DWORD>(run.cols),
                       .dwYCountChars = static_cast<DWORD>(run.rows), .dwFlags = STARTF_USECOUNTCHARS};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &run.process)) {
    const DWORD error = GetLastError();
    write(L"result.json", Object({{"error", L"CreateProcessW failed"}, {"code", error}}));
    return 3;
  }
  CloseHandle(run.process.hThread);
  write(L"started.json", Object({{"pid", run.process.dwProcessId}, {"host", Host()},
                                 {"chinese_fonts", List({run.faces.begin(), run.faces.end()})}}));
  Watch(run, dir, static_cast<DWORD>(_wtoi(options[L"--timeout-ms"].c_str())));
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(run.process.hProcess, &code);
  CloseHandle(run.process.hProcess);
  if (options.contains(L"--shot")) Screenshot(dir + L"screen.bmp");
  if (!run.after.empty()) write(L"screen.json", run.after);
  write(L"result.json",
        Object({{"pid", run.process.dwProcessId}, {"exit_code", code}, {"elapsed_ms", run.elapsed},
                {"stopped", run.stopped}, {"timed_out", run.timedOut}, {"attached", run.attached},
                {"font_chosen", run.face.empty() ? Value("null") : run.face},
                {"font_set", run.fontSet}, {"font_set_again", run.fontSetAgain},
                {"running", OrNull(run.running)}, {"after", OrNull(run.after)}}));
  if (run.out != INVALID_HANDLE_VALUE) CloseHandle(run.out);
  FreeConsole();
  return run.attached && run.out != INVALID_HANDLE_VALUE ? 0 : 4;
}
