// An automated user for the end-to-end tests: answers message boxes and the
// version selection window of any process, and logs what it saw.
//
//   auto_user --log PATH [--answers A,B,...] [--timeout-ms MS]
//
// It watches the visible top-level windows: a message box (class "#32770",
// its text in the static control 0xFFFF) or a selection window (a window with
// a ComboBox child and a button "确定"). Each new one takes the next answer
// ("none" once they run out); "+" chains actions on one window, e.g. "pick:0.25c+ok".
//   message box: ok cancel abort retry ignore yes no tryagain continue
//                (WM_COMMAND for that button), none
//   window:      pick:TEXT (CB_SELECTSTRING, then CBN_SELCHANGE to the parent),
//                type:TEXT (the combo's edit text, then CBN_EDITCHANGE),
//                ok (BM_CLICK posted to "确定"), altf4 (the Alt+F4 keystroke messages),
//                key:tab, key:shift+tab, key:enter, key:escape (typed on the
//                keyboard; "focus" logs the class of the window's focus then), none
//   both:        wait:MS
// A UTF-8 JSON line per window goes to the log, flushed at once. Exits 3 when
// the time limit passes.
#include "helper.h"

namespace {

constexpr UINT kSendTimeout = 5000;

std::string Rect(const RECT& r) { return List({r.left, r.top, r.right, r.bottom}); }

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeout, &result);
  return static_cast<LRESULT>(result);
}

// Text of a window of any process; WM_GETTEXT is marshalled, and a combo box
// answers it with its edit field's text.
std::wstring Text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &length)) {
    wchar_t buf[4096] = {};
    GetWindowTextW(window, buf, 4096);
    return buf;
  }
  std::wstring text(length + 1, L'\0');
  const LRESULT copied = Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::min(static_cast<DWORD_PTR>(copied), length));
  return text;
}

// The child with control ID `id`. Not GetDlgItem: Wine's lists the siblings
// of the first child, and doing that while the owner destroys that child
// makes Wine 10's wineserver loop for good; listing the children is safe.
HWND ChildWithId(HWND window, int id) {
  for (HWND child : Children(window))
    if (GetParent(child) == window && GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

HWND ChildOfClass(HWND window, const wchar_t* name, const wchar_t* text = nullptr) {
  for (HWND child : Children(window))
    if (IsClass(child, name) && (!text || Text(child) == text)) return child;
  return nullptr;
}

bool IsMessageBox(HWND window) { return ClassName(window) == L"#32770"; }

bool IsSelectionWindow(HWND window) {
  return !IsMessageBox(window) && ChildOfClass(window, L"ComboBox") &&
         ChildOfClass(window, L"Button", L"确定");
}

// The message box buttons by control ID: IDOK (1) to IDCONTINUE (11).
constexpr const wchar_t* kButtons[] = {
    L"", L"ok", L"cancel", L"abort", L"retry", L"ignore",
    L"yes", L"no", L"close", L"help", L"tryagain", L"continue"};

// ---------------------------------------------------------------- icons

// The system icons a message box shows, by name.
const std::pair<LPCWSTR, const wchar_t*> kIcons[] = {
    {IDI_HAND, L"error"}, {IDI_QUESTION, L"question"},
    {IDI_EXCLAMATION, L"warning"}, {IDI_ASTERISK, L"information"}};

long long Distance(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
  long long sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8)
      sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
  return sum;
}

// The icon a static control shows: the system icon with the same handle
// (system icons are shared on Windows), else the one whose drawing matches
// the control's pixels on the screen (icon handles are per process in Wine).
const wchar_t* IdentifyIcon(HWND box, HWND control) {
  HICON shown = reinterpret_cast<HICON>(Send(control, STM_GETICON, 0, 0));
  if (!shown || !IsWindowVisible(control)) return L"none";
  for (const auto& [id, name] : kIcons)
    if (LoadIconW(nullptr, id) == shown) return name;
  RECT r;
  GetWindowRect(control, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  for (int attempt = 0; attempt < 10 && w > 0 && h > 0; ++attempt) {
    if (attempt == 1)
      SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (attempt) Sleep(150);
    std::vector<DWORD> screen = Pixels(w, h, [&](HDC dc, HDC screenDc) {
      BitBlt(dc, 0, 0, w, h, screenDc, r.left, r.top, SRCCOPY);
    });
    const DWORD back = screen[0];
    std::vector<std::pair<long long, const wchar_t*>> scores;
    for (const auto& [id, name] : kIcons) {
      std::vector<DWORD> drawn = Pixels(w, h, [&](HDC dc, HDC) {
        HBRUSH brush = CreateSolidBrush(RGB((back >> 16) & 0xFF, (back >> 8) & 0xFF, back & 0xFF));
        RECT all = {0, 0, w, h};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, LoadIconW(nullptr, id), w, h, 0, nullptr, DI_NORMAL);
      });
      scores.emplace_back(Distance(screen, drawn), name);
    }
    std::ranges::sort(scores);
    // A clear winner, close to an exact drawing.
    if (scores[0].first * 4 < scores[1].first && scores[0].first < 8LL * w * h * 3) return scores[0].second;
  }
  return L"unknown";
}

// ---------------------------------------------------------------- log

std::string Common(HWND window, DWORD elapsed) {
  RECT r{};
  GetWindowRect(window, &r);
  HWND owner = GetWindow(window, GW_OWNER);
  return Members({{"t", elapsed}}) + "," + WindowFields(window) + "," +
         Members({{"rect", Rect(r)},
                  {"screen", List({GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)})},
                  {"topmost", (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0},
                  {"style", GetWindowLongPtrW(window, GWL_STYLE) & 0xFFFFFFFF},
                  {"owner_visible", owner && IsWindowVisible(owner)}});
}

std::string DescribeBox(HWND box) {
  std::vector<Value> buttons;
  HWND icon = nullptr, text = nullptr;
  for (HWND child : Children(box)) {
    const int id = GetDlgCtrlID(child);
    if (GetParent(child) != box) continue;
    if (id == 0xFFFF && !text) text = child;
    if (IsClass(child, L"Button") && IsWindowVisible(child))
      buttons.push_back(id > 0 && id < 12 ? kButtons[id] : L"id" + std::to_wstring(id));
    else if (IsClass(child, L"Static") && (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      icon = child;
  }
  return Members({{"kind", L"box"}, {"text", text ? Text(text) : L""},
                  {"icon", icon ? IdentifyIcon(box, icon) : L"none"}, {"buttons", List(buttons)}});
}

std::string DescribeWindow(HWND window) {
  HWND combo = ChildOfClass(window, L"ComboBox");
  std::vector<Value> items;
  const LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count && i < 100; ++i) {
    const LRESULT length = Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring item(4097, L'\0');
    if (length < 0 || length > 4096) continue;
    Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
    items.push_back(item.substr(0, static_cast<size_t>(length)));
  }
  std::vector<Value> children;
  for (HWND child : Children(window)) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    children.push_back(Object({{"class", ClassName(child)}, {"text", Text(child)}, {"rect", Rect(r)}}));
  }
  return Members({{"kind", L"window"},
                  {"combo", Object({{"items", List(items)}, {"text", Text(combo)}})},
                  {"children", List(children)}});
}

// ---------------------------------------------------------------- actions

HWND FocusWindow(HWND window) {
  GUITHREADINFO info{sizeof info};
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Types "tab", "enter" or "escape" on the keyboard into the window, brought
// to the foreground, "shift+" before it for Shift held, and logs the class of
// its focus once the key has been taken in; "" or what went wrong.
const wchar_t* TypeKey(HWND window, const std::wstring& name, std::vector<Value>& focus) {
  const bool shift = name.starts_with(L"shift+");
  const std::wstring key = shift ? name.substr(6) : name;
  const WORD vk = key == L"tab" ? VK_TAB : key == L"enter" ? VK_RETURN : key == L"escape" ? VK_ESCAPE : 0;
  const HWND before = FocusWindow(window);
  const wchar_t* problem = L"unknown key";
  if (vk) {
    SetForegroundWindow(window);
    Sleep(100);
    std::vector<INPUT> inputs;
    auto add = [&](WORD code, bool up) {
      INPUT in{INPUT_KEYBOARD};
      in.ki = {code, static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC)), up ? KEYEVENTF_KEYUP : 0u};
      inputs.push_back(in);
    };
    if (shift) add(VK_SHIFT, false);
    add(vk, false);
    add(vk, true);
    if (shift) add(VK_SHIFT, true);
    const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    problem = sent == inputs.size() ? L"" : L"SendInput failed";
  }
  // Tab has been taken in once the focus moves, Enter and Escape once the
  // window goes (at most five seconds: a loaded desktop is slow to).
  const bool closes = name == L"enter" || name == L"escape";
  for (int i = 0; i < 250 && IsWindow(window) && (closes || FocusWindow(window) == before); ++i)
    Sleep(20);
  // A combo box's edit field counts as the combo box.
  HWND now = IsWindow(window) ? FocusWindow(window) : nullptr;
  if (now && IsClass(now, L"Edit") && IsClass(GetParent(now), L"ComboBox")) now = GetParent(now);
  focus.push_back(!IsWindow(window) ? L"gone" : now ? ClassName(now) : L"none");
  return problem;
}

// Runs one action; returns "" when done, else what went wrong.
const wchar_t* Act(HWND window, bool box, const std::wstring& action, std::vector<Value>& focus) {
  const size_t colon = action.find(L':');
  const std::wstring name = action.substr(0, colon);
  const std::wstring arg = colon == std::wstring::npos ? L"" : action.substr(colon + 1);
  if (name == L"none" || name.empty()) return L"";
  if (name == L"wait") {
    Sleep(static_cast<DWORD>(_wtoi(arg.c_str())));
  } else if (name == L"key") {
    return TypeKey(window, arg, focus);
  } else if (name == L"altf4") {
    // What the keyboard driver posts for Alt+F4 (context bit 29 = Alt held).
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(VK_F4, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(window, WM_SYSKEYDOWN, VK_F4, 1 | scan | (1 << 29));
    PostMessageW(window, WM_SYSKEYUP, VK_F4, static_cast<LPARAM>(1 | scan | (1 << 29) | (3u << 30)));
  } else if (box) {
    const int id = static_cast<int>(std::ranges::find(kButtons, name) - std::begin(kButtons));
    if (id == std::ssize(kButtons)) return L"unknown action";
    HWND button = ChildWithId(window, id);
    if (!button || !IsWindowVisible(button)) return L"no such button";
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  } else if (name == L"pick" || name == L"type") {
    const bool pick = name == L"pick";
    HWND combo = ChildOfClass(window, L"ComboBox");
    const LPARAM text = reinterpret_cast<LPARAM>(arg.c_str());
    if (pick && Send(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), text) == CB_ERR) return L"no such item";
    HWND edit = pick ? nullptr : ChildOfClass(combo, L"Edit");
    if (!pick) Send(edit ? edit : combo, WM_SETTEXT, 0, text);
    Send(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), pick ? CBN_SELCHANGE : CBN_EDITCHANGE),
         reinterpret_cast<LPARAM>(combo));
  } else if (name == L"ok") {
    // Posted, as a click arrives through the queue.
    PostMessageW(ChildOfClass(window, L"Button", L"确定"), BM_CLICK, 0, 0);
  } else {
    return L"unknown action";
  }
  return L"";
}

// Runs the actions of an answer; its log fields.
std::string Answer(HWND window, bool box, const std::wstring& answer) {
  const wchar_t* problem = L"";
  std::vector<Value> focus;
  // "shift+tab" is one key: split at "+" only before a new action.
  std::vector<std::wstring> actions;
  for (const std::wstring& part : Split(answer, L'+')) {
    if (!actions.empty() && actions.back() == L"key:shift") actions.back() += L"+" + part;
    else actions.push_back(part);
  }
  for (size_t i = 0; i < actions.size() && !*problem; ++i) problem = Act(window, box, actions[i], focus);
  // How long the window took to go after the answer (null: still there).
  const ULONGLONG acted = GetTickCount64();
  while (answer != L"none" && IsWindowVisible(window) && GetTickCount64() - acted < 3000) Sleep(20);
  const bool gone = answer != L"none" && !IsWindowVisible(window);
  const Value goneMs = gone ? Value(GetTickCount64() - acted) : Value("null");
  return Members({{"pressed", answer}, {"problem", problem}, {"gone_ms", goneMs}, {"focus", List(focus)}});
}

// A visible top-level window of either kind not answered yet, or null.
// `seen` holds the windows looked at and when each may be looked at again:
// one answered never while it exists (a reused handle counts as new), one
// of neither kind after a second, since listing another process's children
// while it destroys one can hang Wine 10's wineserver for good.
HWND Next(std::map<HWND, ULONGLONG>& seen, bool& box) {
  const ULONGLONG now = GetTickCount64();
  std::erase_if(seen, [&](const auto& window) { return now >= window.second || !IsWindow(window.first); });
  for (HWND window : TopLevelWindows()) {
    if (!IsWindowVisible(window) || seen.contains(window)) continue;
    box = IsMessageBox(window);
    const bool answer = box || IsSelectionWindow(window);
    seen[window] = answer ? ULLONG_MAX : now + 1000;
    if (answer) return window;
  }
  return nullptr;
}

}  // namespace

int main() {
  Options options{{L"--log", L""}, {L"--answers", L""}, {L"--timeout-ms", L"120000"}};
  ReadOptions(Arguments(), options);
  const std::vector<std::wstring> answers = Split(options[L"--answers"], L',');
  const DWORD timeout = static_cast<DWORD>(_wtoi(options[L"--timeout-ms"].c_str()));
  HANDLE log = CreateFileW(options[L"--log"].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 2;

  const ULONGLONG start = GetTickCount64();
  std::map<HWND, ULONGLONG> seen;
  size_t nextAnswer = 0;
  while (GetTickCount64() - start < timeout) {
    bool box = false;
    HWND window = Next(seen, box);
    Sleep(window ? 300 : 50);  // a new window: let it finish painting
    if (!IsWindow(window)) continue;
    std::string line = "{" + Common(window, static_cast<DWORD>(GetTickCount64() - start)) + ",";
    line += (box ? DescribeBox(window) : DescribeWindow(window)) + ",";
    const std::wstring answer = nextAnswer < answers.size() ? answers[nextAnswer++] : L"none";
    WriteAll(log, line + Answer(window, box, answer) + "}\n");
    FlushFileBuffers(log);
  }
  CloseHandle(log);
  return 3;
}
