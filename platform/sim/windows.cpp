// The simulated window manager: windows, classes, the message queue and
// message boxes answered by a scripted user.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/sim/model.h"

namespace sim {

namespace {

bool SameClass(const std::string& a, const char* b) {
  if (!b) return true;
  std::string x = a, y = b;
  for (auto* s : {&x, &y})
    for (auto& c : *s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return x == y;
}

int CopyOut(const std::string& text, char* buffer, int maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  int n = std::min(static_cast<int>(text.size()), maxCount - 1);
  std::memcpy(buffer, text.data(), static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return n;
}

// Sets one of a device context's settings: the previous value, `failure`
// for a context the machine did not give out.
template <typename T>
T SetSetting(WindowSystem& windows, win::HDC dc, T WindowSystem::DeviceContext::*setting, T value,
             T failure) {
  auto it = windows.deviceContexts.find(dc);
  if (it == windows.deviceContexts.end()) return failure;
  return std::exchange(it->second.*setting, value);
}

}  // namespace

WindowSystem::Window* WindowSystem::Find(HWND handle) {
  for (auto& w : windows)
    if (w.handle == handle && handle != 0) return &w;
  return nullptr;
}

HWND WindowSystem::AddForeign(const std::string& title, const std::string& className,
                              DWORD processId, bool visible, HWND owner) {
  Window w;
  w.handle = nextHandle;
  nextHandle += 0x10;
  w.title = title;
  w.className = className;
  w.processId = processId;
  w.threadId = processId + 1;
  w.visible = visible;
  w.parent = owner;
  windows.push_back(w);
  return w.handle;
}

void WindowSystem::Raise(HWND handle) {
  auto it = std::find_if(windows.begin(), windows.end(),
                         [&](const Window& w) { return w.handle == handle; });
  if (it != windows.end()) std::rotate(windows.begin(), it, it + 1);
}

HWND Model::FindWindowExA(HWND parent, HWND childAfter, const char* className,
                            const char* title) {
  bool started = childAfter == 0;
  for (const auto& w : windows.windows) {
    if (!started) {
      started = w.handle == childAfter;
      continue;
    }
    bool inScope = parent == 0 ? !w.child : (w.child && w.parent == parent);
    if (!inScope || !SameClass(w.className, className)) continue;
    // Titles compare without regard to case, as FindWindowExA does.
    if (title && !SameClass(w.title, title)) continue;
    return w.handle;
  }
  lastError_ = 0;
  return 0;
}

DWORD Model::GetWindowThreadProcessId(HWND window, DWORD* processId) {
  auto* w = windows.Find(window);
  if (!w) {
    lastError_ = win::ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  if (processId) *processId = w->processId;
  return w->threadId;
}

BOOL Model::IsWindowVisible(HWND window) {
  auto* w = windows.Find(window);
  return w && w->visible ? win::TRUE : win::FALSE;
}

BOOL Model::IsWindow(HWND window) {
  return windows.Find(window) ? win::TRUE : win::FALSE;
}

HWND Model::GetParent(HWND window) {
  auto* w = windows.Find(window);
  return w ? w->parent : 0;
}

int Model::GetClassNameA(HWND window, char* name, int maxCount) {
  auto* w = windows.Find(window);
  return w ? CopyOut(w->className, name, maxCount) : 0;
}

int Model::GetWindowTextLengthW(HWND window) {
  auto* w = windows.Find(window);
  if (!w || w->title.empty()) return 0;
  return ConvertToWide(936, w->title.data(), static_cast<int>(w->title.size()), nullptr, 0);
}

int Model::GetWindowTextW(HWND window, WCHAR* text, int maxCount) {
  auto* w = windows.Find(window);
  if (!w || !text || maxCount <= 0) return 0;
  std::u16string wide(w->title.size() + 1, u'\0');
  int n = w->title.empty() ? 0
                           : ConvertToWide(936, w->title.data(), static_cast<int>(w->title.size()),
                                           wide.data(), static_cast<int>(wide.size()));
  n = std::min(n, maxCount - 1);
  std::copy(wide.begin(), wide.begin() + n, text);
  text[n] = u'\0';
  return n;
}

int Model::GetWindowTextLengthA(HWND window) {
  auto* w = windows.Find(window);
  return w ? static_cast<int>(w->title.size()) : 0;
}

HWND Model::GetDlgItem(HWND dialog, int id) {
  for (const auto& w : windows.windows)
    if (w.child && w.parent == dialog && w.id == static_cast<win::HMENU>(id)) return w.handle;
  lastError_ = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
  return 0;
}

int Model::GetWindowTextA(HWND window, char* text, int maxCount) {
  auto* w = windows.Find(window);
  return w ? CopyOut(w->title, text, maxCount) : 0;
}

BOOL Model::SetWindowTextA(HWND window, const char* text) {
  auto* w = windows.Find(window);
  if (!w) return win::FALSE;
  w->title = text ? text : "";
  return win::TRUE;
}

// ---------------------------------------------------------------- message boxes

int Model::MessageBoxTimeoutA(HWND owner, const char* text, const char* caption, UINT style,
                                WORD, DWORD milliseconds) {
  if (!dialogs.available) return 0;
  if (user.onShow) user.onShow();
  int answer = user.NextAnswer();
  // A box with only an OK button closed any other way still answers OK.
  if ((style & 0xF) == 0 && answer == 2) answer = 1;
  MessageBoxRecord record{owner, text ? text : "", caption ? caption : "", style, milliseconds,
                          answer};
  // A box without time-out (0 or INFINITE) waits for the user; unattended, OK.
  if (answer == 32000 && (milliseconds == win::INFINITE || milliseconds == 0))
    answer = record.result = 1;
  if (answer != 0) {
    DWORD wait = answer == 32000 ? milliseconds : std::min(user.thinkTime, milliseconds);
    clock.tick += wait;
  }
  dialogs.shown.push_back(record);
  return answer;
}

int Model::MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) {
  int answer = user.NextAnswer();
  if (answer == 32000) answer = 1;
  dialogs.shown.push_back({owner, text ? text : "", caption ? caption : "", style, win::INFINITE,
                           answer});
  clock.tick += user.thinkTime;
  return answer;
}

// ---------------------------------------------------------------- messages

BOOL Model::PeekMessageA(win::MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
  for (auto it = windows.queue.begin(); it != windows.queue.end(); ++it) {
    if (window && it->hwnd != window) continue;
    if ((first || last) && (it->message < first || it->message > last)) continue;
    *msg = *it;
    if (remove & win::PM_REMOVE) windows.queue.erase(it);
    return win::TRUE;
  }
  return win::FALSE;
}

BOOL Model::GetMessageA(win::MSG* msg, HWND window, UINT first, UINT last) {
  // The user acts in a window the program shows; with no window left,
  // nothing can arrive later in a simulation that runs one thread, so a
  // loop waiting here is told to quit instead of waiting for ever.
  do {
    for (auto it = windows.queue.begin(); it != windows.queue.end(); ++it) {
      if (window && it->hwnd != window) continue;
      if ((first || last) && (it->message < first || it->message > last)) continue;
      *msg = *it;
      windows.queue.erase(it);
      // The thread's key state follows the key messages it takes in.
      if (msg->message == win::WM_KEYDOWN) windows.keysDown.insert(msg->wParam);
      if (msg->message == win::WM_KEYUP) windows.keysDown.erase(msg->wParam);
      return msg->message == win::WM_QUIT ? 0 : 1;
    }
  } while (PerformUserAction());
  *msg = win::MSG{};
  msg->message = win::WM_QUIT;
  return 0;
}

BOOL Model::TranslateMessage(const win::MSG*) {
  return win::FALSE;
}

win::LRESULT Model::DispatchMessageA(const win::MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void Model::PostQuitMessage(int exitCode) {
  win::MSG msg{};
  msg.message = win::WM_QUIT;
  msg.wParam = static_cast<win::WPARAM>(exitCode);
  windows.queue.push_back(msg);
}

BOOL Model::PostMessageA(HWND window, UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  if (window && !windows.Find(window)) return win::FALSE;
  windows.queue.push_back({window, message, wParam, lParam, clock.tick, {0, 0}});
  return win::TRUE;
}

win::LRESULT Model::SendMessageA(HWND window, UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam) {
  auto* w = windows.Find(window);
  if (!w) return 0;
  for (const auto& c : windows.classes)
    if (SameClass(c.name, w->className.c_str()) && c.definition.lpfnWndProc)
      return c.definition.lpfnWndProc(c.definition.context, window, message, wParam, lParam);
  if (SameClass(w->className, "COMBOBOX")) return ComboBoxMessage(*w, message, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

// The combo box's own handling of the messages the program sends it.
win::LRESULT Model::ComboBoxMessage(WindowSystem::Window& w, UINT message, win::WPARAM wParam,
                                      win::LPARAM lParam) {
  constexpr win::LRESULT kError = -1;
  switch (message) {
    case win::CB_ADDSTRING:
      if (!lParam) return kError;
      w.items.emplace_back(reinterpret_cast<const char*>(lParam));
      return static_cast<win::LRESULT>(w.items.size() - 1);
    case win::CB_GETCOUNT:
      return static_cast<win::LRESULT>(w.items.size());
    case win::CB_SETCURSEL:
      if (wParam >= w.items.size()) {
        w.selection = -1;
        return kError;
      }
      w.selection = static_cast<long>(wParam);
      w.title = w.items[wParam];
      return static_cast<win::LRESULT>(wParam);
    case win::CB_GETCURSEL:
      return w.selection;
    case win::CB_SELECTSTRING:
      for (std::size_t i = 0; i < w.items.size(); ++i)
        if (lParam && w.items[i].rfind(reinterpret_cast<const char*>(lParam), 0) == 0) {
          w.selection = static_cast<long>(i);
          w.title = w.items[i];
          return static_cast<win::LRESULT>(i);
        }
      return kError;
    case win::CB_GETITEMHEIGHT:
      return w.settings.count(win::CB_SETITEMHEIGHT) ? w.settings[win::CB_SETITEMHEIGHT] : 15;
    case win::CB_SETITEMHEIGHT:
      if (lParam <= 0) return kError;
      w.settings[message] = lParam;
      return 0;
    case win::CB_LIMITTEXT:
    case win::CB_SETEDITSEL:
      w.settings[message] = static_cast<win::LPARAM>(wParam) ^ lParam;
      return 1;
  }
  return DefWindowProcA(w.handle, message, wParam, lParam);
}

bool Model::PerformUserAction() {
  // The program's own top-level window the user works in.
  WindowSystem::Window* top = nullptr;
  for (auto& w : windows.windows)
    if (!w.child && w.visible && w.processId == self.processId) {
      top = &w;
      break;
    }
  if (!top) return false;
  auto child = [&](const char* className) -> WindowSystem::Window* {
    for (auto& w : windows.windows)
      if (w.child && w.parent == top->handle && SameClass(w.className, className)) return &w;
    return nullptr;
  };
  const ScriptedUser::Action action = user.NextAction();
  clock.tick += user.thinkTime;
  switch (action.kind) {
    case ScriptedUser::Action::kPick:
      if (auto* combo = child("COMBOBOX")) {
        for (std::size_t i = 0; i < combo->items.size(); ++i)
          if (combo->items[i] == action.text) {
            combo->selection = static_cast<long>(i);
            combo->title = action.text;
          }
        windows.queue.push_back({top->handle, win::WM_COMMAND,
                                 static_cast<win::WPARAM>(combo->id) | win::CBN_SELCHANGE << 16,
                                 static_cast<win::LPARAM>(combo->handle), clock.tick, {0, 0}});
      }
      return true;
    case ScriptedUser::Action::kType:
      if (auto* combo = child("COMBOBOX")) {
        combo->title = action.text;
        combo->selection = -1;
      }
      return true;
    case ScriptedUser::Action::kPressOk:
      if (auto* button = child("BUTTON"))
        windows.queue.push_back({top->handle, win::WM_COMMAND,
                                 static_cast<win::WPARAM>(button->id) | win::BN_CLICKED << 16,
                                 static_cast<win::LPARAM>(button->handle), clock.tick, {0, 0}});
      return true;
    case ScriptedUser::Action::kClose:
      windows.queue.push_back({top->handle, win::WM_CLOSE, 0, 0, clock.tick, {0, 0}});
      return true;
    case ScriptedUser::Action::kKey: {
      // Keys go to the focus window, or to the window itself without one.
      HWND target = top->handle;
      for (const auto* w = windows.Find(windows.focus); w; w = windows.Find(w->parent))
        if (w->handle == top->handle) target = windows.focus;
      auto key = [&](UINT message, win::WPARAM vk) {
        windows.queue.push_back({target, message, vk, 1, clock.tick, {0, 0}});
      };
      const bool shift = action.text.starts_with("shift+");
      const std::string name = shift ? action.text.substr(6) : action.text;
      const win::WPARAM vk = name == "tab" ? win::VK_TAB : name == "enter" ? win::VK_RETURN
                             : name == "escape" ? win::VK_ESCAPE : 0;
      if (shift) key(win::WM_KEYDOWN, win::VK_SHIFT);
      key(win::WM_KEYDOWN, vk);
      key(win::WM_KEYUP, vk);
      if (shift) key(win::WM_KEYUP, win::VK_SHIFT);
      return true;
    }
  }
  return false;
}

win::LRESULT Model::DefWindowProcA(HWND window, UINT message, win::WPARAM wParam,
                                     win::LPARAM lParam) {
  auto* w = windows.Find(window);
  if (!w) return 0;
  if (message == win::WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  // The system menu's Close, which Alt+F4 also asks for.
  if (message == win::WM_SYSCOMMAND && (wParam & 0xFFF0) == win::SC_CLOSE)
    return SendMessageA(window, win::WM_CLOSE, 0, 0);
  w->settings[message] = lParam;
  (void)wParam;
  return 0;
}

// ---------------------------------------------------------------- creating windows

WORD Model::RegisterClassExA(const win::WNDCLASSEXA* windowClass) {
  if (!windowClass || !windowClass->lpszClassName) return 0;
  for (const auto& c : windows.classes)
    if (SameClass(c.name, windowClass->lpszClassName)) {
      lastError_ = 1410;  // ERROR_CLASS_ALREADY_EXISTS
      return 0;
    }
  WindowSystem::Class c;
  c.definition = *windowClass;
  c.name = windowClass->lpszClassName;
  windows.classes.push_back(c);
  c.definition.lpszClassName = nullptr;
  return static_cast<WORD>(0xC000 + windows.classes.size());
}

HWND Model::CreateWindowExA(DWORD exStyle, const char* className, const char* title,
                              DWORD style, int x, int y, int width, int height, HWND parent,
                              win::HMENU menu) {
  if (!className) return 0;
  constexpr DWORD kChild = 0x40000000u, kVisible = 0x10000000u, kPopup = 0x80000000u,
                  kCaption = 0x00C00000u, kClipSiblings = 0x04000000u;
  static const char* const kSystemClasses[] = {"BUTTON", "COMBOBOX", "STATIC", "EDIT"};
  bool known = std::any_of(std::begin(kSystemClasses), std::end(kSystemClasses),
                           [&](const char* n) { return SameClass(n, className); }) ||
               std::any_of(windows.classes.begin(), windows.classes.end(),
                           [&](const WindowSystem::Class& c) { return SameClass(c.name, className); });
  if (!known || (parent && !windows.Find(parent))) {
    lastError_ = 1407;  // ERROR_CANNOT_FIND_WND_CLASS
    return 0;
  }
  WindowSystem::Window w;
  w.handle = windows.nextHandle;
  windows.nextHandle += 0x10;
  w.className = className;
  w.title = title ? title : "";
  // A top-level window that is neither a popup nor a child is an overlapped
  // window: Windows gives it a title bar and clips its siblings.
  w.style = style & (kChild | kPopup) ? style : style | kCaption | kClipSiblings;
  w.exStyle = exStyle;
  w.processId = self.processId;
  w.threadId = self.threadId;
  w.parent = parent;
  w.child = (style & kChild) != 0;
  w.visible = (style & kVisible) != 0;
  w.rect = {x, y, x + width, y + height};
  w.id = menu;
  windows.windows.insert(windows.windows.begin(), w);
  return w.handle;
}

BOOL Model::DestroyWindow(HWND window) {
  return DestroyOne(window);
}

BOOL Model::DestroyOne(HWND window) {
  if (!windows.Find(window)) return win::FALSE;
  // Children and owned windows go first, as on Windows.
  std::vector<HWND> dependants;
  for (const auto& w : windows.windows)
    if (w.parent == window) dependants.push_back(w.handle);
  for (HWND d : dependants) DestroyOne(d);
  SendMessageA(window, win::WM_DESTROY, 0, 0);
  if (windows.focus == window) windows.focus = 0;
  auto& list = windows.windows;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const WindowSystem::Window& w) { return w.handle == window; }),
             list.end());
  return win::TRUE;
}

BOOL Model::ShowWindow(HWND window, int command) {
  auto* w = windows.Find(window);
  if (!w) return win::FALSE;
  BOOL wasVisible = w->visible ? win::TRUE : win::FALSE;
  w->visible = command != 0;
  return wasVisible;
}

BOOL Model::SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height,
                           UINT flags) {
  auto* w = windows.Find(window);
  if (!w) return win::FALSE;
  constexpr UINT kNoSize = 0x1, kNoMove = 0x2, kNoZOrder = 0x4;
  if (!(flags & kNoMove)) {
    w->rect.right += x - w->rect.left;
    w->rect.bottom += y - w->rect.top;
    w->rect.left = x;
    w->rect.top = y;
  }
  if (!(flags & kNoSize)) {
    w->rect.right = w->rect.left + width;
    w->rect.bottom = w->rect.top + height;
  }
  if (!(flags & kNoZOrder) && insertAfter == static_cast<HWND>(-1)) w->topmost = true;
  return win::TRUE;
}

BOOL Model::MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  auto* w = windows.Find(window);
  if (!w) return win::FALSE;
  w->rect = {x, y, x + width, y + height};
  return win::TRUE;
}

BOOL Model::GetWindowRect(HWND window, win::RECT* rect) {
  auto* w = windows.Find(window);
  if (!w || !rect) return win::FALSE;
  *rect = w->rect;
  return win::TRUE;
}

int Model::GetSystemMetrics(int index) {
  if (index == 0) return windows.screenWidth;  // SM_CXSCREEN
  if (index == 1) return windows.screenHeight;
  return 0;
}

DWORD Model::GetSysColor(int index) {
  return index == 15 ? 0xF0F0F0u : 0;  // COLOR_BTNFACE
}

win::HGDIOBJ Model::GetStockObject(int object) {
  return 0x0A000000u + static_cast<unsigned>(object);
}

}  // namespace sim

namespace sim {

// ---------------------------------------------------------------- painting

win::HDC Model::BeginPaint(HWND window, win::PAINTSTRUCT* paint) {
  auto* w = windows.Find(window);
  if (!w || !paint) return 0;
  win::HDC dc = window | 1;
  windows.deviceContexts[dc] = {window, 0, 0xFFFFFF, 2};
  paint->hdc = dc;
  paint->rcPaint = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return dc;
}

BOOL Model::EndPaint(HWND, const win::PAINTSTRUCT* paint) {
  if (paint) windows.deviceContexts.erase(paint->hdc);
  return win::TRUE;
}

BOOL Model::GetClientRect(HWND window, win::RECT* rect) {
  auto* w = windows.Find(window);
  if (!w || !rect) return win::FALSE;
  *rect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return win::TRUE;
}

DWORD Model::SetTextColor(win::HDC dc, DWORD colour) {
  return SetSetting(windows, dc, &WindowSystem::DeviceContext::textColour, colour, DWORD(0xFFFFFFFFu));
}

DWORD Model::SetBkColor(win::HDC dc, DWORD colour) {
  return SetSetting(windows, dc, &WindowSystem::DeviceContext::backgroundColour, colour, DWORD(0xFFFFFFFFu));
}

int Model::SetBkMode(win::HDC dc, int mode) {
  return SetSetting(windows, dc, &WindowSystem::DeviceContext::backgroundMode, mode, int(0));
}

win::HGDIOBJ Model::SelectObject(win::HDC, win::HGDIOBJ object) {
  return object ? 0x0A000011u : 0;
}

int Model::DrawTextA(win::HDC dc, const char* text, int count, win::RECT* rect, UINT format) {
  auto it = windows.deviceContexts.find(dc);
  if (it == windows.deviceContexts.end() || !text || !rect) return 0;
  std::string shown = count < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(count));
  windows.drawn.push_back({it->second.window, shown, *rect, format, it->second.textColour,
                           it->second.backgroundMode});
  return 16;
}

int Model::FillRect(win::HDC, const win::RECT* rect, win::HGDIOBJ brush) {
  return rect && brush ? 1 : 0;
}

win::HGDIOBJ Model::CreateSolidBrush(DWORD) {
  return windows.nextObject++;
}

BOOL Model::DeleteObject(win::HGDIOBJ object) {
  return object ? win::TRUE : win::FALSE;
}

}  // namespace sim

namespace sim {

// ---------------------------------------------------------------- dialog keys

HWND Model::SetFocus(HWND window) {
  if (window && !windows.Find(window)) {
    lastError_ = win::ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  const HWND previous = windows.focus;
  windows.focus = window;
  return previous;
}

// As IsDialogMessage does for any window: the dialog's own messages and its
// controls' are taken; keys that move or press are handled, every other
// message is dispatched here.
BOOL Model::IsDialogMessageA(HWND dialog, win::MSG* msg) {
  if (!msg || !windows.Find(dialog)) return win::FALSE;
  // The control of `dialog` that `window` is or lies in; 0 when outside.
  auto controlOf = [&](HWND window) -> HWND {
    for (const auto* w = windows.Find(window); w; w = windows.Find(w->parent)) {
      if (!w->child) return 0;
      if (w->parent == dialog) return w->handle;
    }
    return 0;
  };
  if (msg->hwnd != dialog && controlOf(msg->hwnd) == 0) return win::FALSE;

  if (msg->message == win::WM_KEYDOWN && msg->wParam == win::VK_TAB) {
    constexpr DWORD kTabStop = 0x00010000u, kDisabled = 0x08000000u;
    // The tab order is the order the controls were created in.
    std::vector<HWND> stops;
    for (const auto& w : windows.windows)
      if (w.child && w.parent == dialog && w.visible && (w.style & kTabStop) && !(w.style & kDisabled))
        stops.push_back(w.handle);
    std::sort(stops.begin(), stops.end());
    if (stops.empty()) return win::TRUE;
    const bool back = windows.keysDown.count(win::VK_SHIFT) != 0;
    auto at = std::find(stops.begin(), stops.end(), controlOf(windows.focus));
    std::size_t next = 0;
    if (at == stops.end())
      next = back ? stops.size() - 1 : 0;
    else
      next = (static_cast<std::size_t>(at - stops.begin()) + (back ? stops.size() - 1 : 1)) %
             stops.size();
    windows.focus = stops[next];
    return win::TRUE;
  }
  if (msg->message == win::WM_KEYDOWN && msg->wParam == win::VK_RETURN) {
    const auto defId = static_cast<DWORD>(SendMessageA(dialog, win::DM_GETDEFID, 0, 0));
    const int id = (defId >> 16) == win::DC_HASDEFID ? static_cast<int>(defId & 0xFFFF) : win::IDOK;
    HWND control = 0;
    for (const auto& w : windows.windows)
      if (w.child && w.parent == dialog && w.id == static_cast<win::HMENU>(id)) control = w.handle;
    SendMessageA(dialog, win::WM_COMMAND, static_cast<win::WPARAM>(id) | win::BN_CLICKED << 16,
                 static_cast<win::LPARAM>(control));
    return win::TRUE;
  }
  if (msg->message == win::WM_KEYDOWN && msg->wParam == win::VK_ESCAPE) {
    SendMessageA(dialog, win::WM_COMMAND, static_cast<win::WPARAM>(win::IDCANCEL), 0);
    return win::TRUE;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
  return win::TRUE;
}

HWND Model::GetShellWindow() { return windows.shellWindow; }

}  // namespace sim
