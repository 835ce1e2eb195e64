// Windows, messages and painting. A window procedure gets no context of the
// program's, so every window class of ours runs one trampoline that finds the
// procedure and its context by the class atom. Texts go through the W calls
// and the W messages (WM_SETTEXT, the combo box's strings) converted both
// ways; the platform's paint record travels inside the seam's.
#include "platform/real/real_backend.h"

#include <cstring>

namespace real {

namespace {

// A window's text, fetched as UTF-16; the units, 0 when it has none.
int WindowText(::HWND window, WideText16& wide) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0 || !wide.Reserve(static_cast<::DWORD>(length) + 1)) return 0;
  return ::GetWindowTextW(window, wide.data(), length + 1);
}

// A combo box item's text, fetched as UTF-16; the units, or CB_ERR.
::LRESULT ItemText(::HWND combo, ::WPARAM index, WideText16& wide) {
  const ::LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length < 0) return length;
  if (!wide.Reserve(static_cast<::DWORD>(length) + 1)) return CB_ERR;
  return ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<::LPARAM>(wide.data()));
}

::MSG ToMsg(const win::MSG& in) {
  ::MSG out{};
  out.hwnd = To<::HWND>(in.hwnd);
  out.message = in.message;
  out.wParam = in.wParam;
  out.lParam = in.lParam;
  out.time = in.time;
  out.pt.x = in.pt.x;
  out.pt.y = in.pt.y;
  return out;
}

void FromMsg(const ::MSG& in, win::MSG* out) {
  out->hwnd = From(in.hwnd);
  out->message = in.message;
  out->wParam = in.wParam;
  out->lParam = in.lParam;
  out->time = in.time;
  out->pt.x = in.pt.x;
  out->pt.y = in.pt.y;
}

// The program's window classes: every window of theirs runs Trampoline, which
// finds the program's procedure and context by the class atom.
struct ClassSlot {
  ::ATOM atom;
  win::WindowProc proc;
  void* context;
};
ClassSlot g_classes[8];

LRESULT CALLBACK Trampoline(::HWND window, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  const auto atom = static_cast<::ATOM>(::GetClassWord(window, GCW_ATOM));
  for (const ClassSlot& slot : g_classes) {
    if (slot.atom != 0 && slot.atom == atom) {
      return slot.proc(slot.context, From(window), message, wParam, lParam);
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

win::HWND Backend::FindWindowExA(win::HWND parent, win::HWND childAfter, const char* className,
                               const char* title) {
  WideText16 wideClass(className), wideTitle(title);
  if (!wideClass.ok() || !wideTitle.ok()) return 0;
  return From(::FindWindowExW(To<::HWND>(parent), To<::HWND>(childAfter), wideClass.get(),
                              wideTitle.get()));
}

win::DWORD Backend::GetWindowThreadProcessId(win::HWND window, win::DWORD* processId) {
  // Written only when the window exists, as the platform does.
  ::DWORD owner = processId != nullptr ? *processId : 0;
  const ::DWORD thread =
      ::GetWindowThreadProcessId(To<::HWND>(window), processId != nullptr ? &owner : nullptr);
  if (processId != nullptr) *processId = owner;
  return thread;
}

win::BOOL Backend::IsWindowVisible(win::HWND window) { return ::IsWindowVisible(To<::HWND>(window)); }

win::BOOL Backend::IsWindow(win::HWND window) { return ::IsWindow(To<::HWND>(window)); }

win::HWND Backend::GetParent(win::HWND window) { return From(::GetParent(To<::HWND>(window))); }

int Backend::GetClassNameA(win::HWND window, char* name, int maxCount) {
  wchar_t wide[257];  // class names hold at most 256 characters
  const int n = ::GetClassNameW(To<::HWND>(window), wide, 257);
  return n > 0 ? PutText(wide, n, name, maxCount) : 0;
}

int Backend::GetWindowTextLengthW(win::HWND window) {
  return ::GetWindowTextLengthW(To<::HWND>(window));
}

int Backend::GetWindowTextW(win::HWND window, win::WCHAR* text, int maxCount) {
  return ::GetWindowTextW(To<::HWND>(window), Wide(text), maxCount);
}

int Backend::GetWindowTextA(win::HWND window, char* text, int maxCount) {
  WideText16 wide;
  const int n = WindowText(To<::HWND>(window), wide);
  if (n == 0 && text != nullptr && maxCount > 0) text[0] = '\0';
  return n > 0 ? PutText(wide.data(), n, text, maxCount) : 0;
}

int Backend::GetWindowTextLengthA(win::HWND window) {
  WideText16 wide;
  return TextBytes(wide.data(), WindowText(To<::HWND>(window), wide));
}

win::HWND Backend::GetDlgItem(win::HWND dialog, int id) {
  return From(::GetDlgItem(To<::HWND>(dialog), id));
}

win::BOOL Backend::SetWindowTextA(win::HWND window, const char* text) {
  WideText16 wide(text);
  return wide.ok() && ::SetWindowTextW(To<::HWND>(window), wide.get());
}

win::BOOL Backend::PeekMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last,
                              win::UINT remove) {
  ::MSG real{};
  const ::BOOL got = ::PeekMessageW(&real, To<::HWND>(window), first, last, remove);
  if (got) FromMsg(real, msg);
  return got;
}

win::BOOL Backend::GetMessageA(win::MSG* msg, win::HWND window, win::UINT first, win::UINT last) {
  ::MSG real{};
  const ::BOOL got = ::GetMessageW(&real, To<::HWND>(window), first, last);
  if (got != -1) FromMsg(real, msg);
  return got;
}

win::BOOL Backend::TranslateMessage(const win::MSG* msg) {
  const ::MSG real = ToMsg(*msg);
  return ::TranslateMessage(&real);
}

win::LRESULT Backend::DispatchMessageA(const win::MSG* msg) {
  const ::MSG real = ToMsg(*msg);
  return ::DispatchMessageW(&real);
}

void Backend::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

win::BOOL Backend::PostMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) {
  return ::PostMessageW(To<::HWND>(window), message, wParam, lParam);
}

win::LRESULT Backend::SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                 win::LPARAM lParam) {
  const ::HWND target = To<::HWND>(window);
  switch (message) {
    case WM_SETTEXT:
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_SELECTSTRING:
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT: {
      WideText16 wide(reinterpret_cast<const char*>(lParam));
      if (!wide.ok()) return message == WM_SETTEXT ? FALSE : CB_ERR;
      return ::SendMessageW(target, message, wParam, reinterpret_cast<::LPARAM>(wide.get()));
    }
    case WM_GETTEXT:
      return GetWindowTextA(window, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLengthA(window);
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN: {
      // The caller's buffer has room for what CB_GETLBTEXTLEN answered.
      WideText16 wide;
      const ::LRESULT n = ItemText(target, wParam, wide);
      if (n < 0) return n;
      const int bytes = TextBytes(wide.data(), static_cast<int>(n));
      if (message == CB_GETLBTEXT)
        return PutText(wide.data(), static_cast<int>(n), reinterpret_cast<char*>(lParam), bytes + 1);
      return bytes;
    }
    default:
      return ::SendMessageW(target, message, wParam, lParam);
  }
}

win::LRESULT Backend::DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam) {
  return ::DefWindowProcW(To<::HWND>(window), message, wParam, lParam);
}

win::WORD Backend::RegisterClassExA(const win::WNDCLASSEXA* windowClass) {
  ClassSlot* free = nullptr;
  for (ClassSlot& slot : g_classes) {
    if (slot.atom == 0) {
      free = &slot;
      break;
    }
  }
  if (free == nullptr || windowClass->lpfnWndProc == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  WideText16 name(windowClass->lpszClassName);
  if (!name.ok()) return 0;
  ::WNDCLASSEXW real{};
  real.cbSize = sizeof(real);
  real.style = windowClass->style;
  real.lpfnWndProc = Trampoline;
  real.hInstance = ::GetModuleHandleW(nullptr);
  real.hCursor = windowClass->arrowCursor ? ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)) : nullptr;
  real.lpszClassName = name.get();
  const ::ATOM atom = ::RegisterClassExW(&real);
  if (atom != 0) *free = {atom, windowClass->lpfnWndProc, windowClass->context};
  return atom;
}

win::HWND Backend::CreateWindowExA(win::DWORD exStyle, const char* className, const char* title,
                                 win::DWORD style, int x, int y, int width, int height, win::HWND parent,
                                 win::HMENU menu) {
  WideText16 wideClass(className), wideTitle(title);
  if (!wideClass.ok() || !wideTitle.ok()) return 0;
  return From(::CreateWindowExW(exStyle, wideClass.get(), wideTitle.get(), style, x, y, width,
                                height, To<::HWND>(parent), To<::HMENU>(menu),
                                ::GetModuleHandleW(nullptr), nullptr));
}

win::BOOL Backend::DestroyWindow(win::HWND window) { return ::DestroyWindow(To<::HWND>(window)); }

win::BOOL Backend::ShowWindow(win::HWND window, int command) {
  return ::ShowWindow(To<::HWND>(window), command);
}

win::BOOL Backend::SetWindowPos(win::HWND window, win::HWND insertAfter, int x, int y, int width, int height,
                              win::UINT flags) {
  return ::SetWindowPos(To<::HWND>(window), To<::HWND>(insertAfter), x, y, width, height, flags);
}

win::BOOL Backend::MoveWindow(win::HWND window, int x, int y, int width, int height,
                            win::BOOL repaint) {
  return ::MoveWindow(To<::HWND>(window), x, y, width, height, repaint);
}

win::BOOL Backend::GetWindowRect(win::HWND window, win::RECT* rect) {
  ::RECT real{};
  const ::BOOL ok = ::GetWindowRect(To<::HWND>(window), &real);
  if (ok && rect != nullptr) *rect = {real.left, real.top, real.right, real.bottom};
  return ok;
}

int Backend::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

win::DWORD Backend::GetSysColor(int index) { return ::GetSysColor(index); }

win::HGDIOBJ Backend::GetStockObject(int object) { return From(::GetStockObject(object)); }

// The platform's paint record travels inside the seam's.
static_assert(sizeof(::PAINTSTRUCT) <= sizeof(win::PAINTSTRUCT::platform));
win::HDC Backend::BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) {
  ::PAINTSTRUCT real{};
  ::HDC dc = ::BeginPaint(To<::HWND>(window), &real);
  std::memcpy(paint->platform, &real, sizeof real);
  paint->hdc = From(dc);
  paint->rcPaint = {real.rcPaint.left, real.rcPaint.top, real.rcPaint.right, real.rcPaint.bottom};
  return From(dc);
}

win::BOOL Backend::EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) {
  ::PAINTSTRUCT real;
  std::memcpy(&real, paint->platform, sizeof real);
  return ::EndPaint(To<::HWND>(window), &real);
}

win::BOOL Backend::GetClientRect(win::HWND window, win::RECT* rect) {
  ::RECT real{};
  const ::BOOL ok = ::GetClientRect(To<::HWND>(window), &real);
  if (ok) *rect = {real.left, real.top, real.right, real.bottom};
  return ok;
}

win::DWORD Backend::SetTextColor(win::HDC dc, win::DWORD colour) {
  return ::SetTextColor(To<::HDC>(dc), colour);
}

win::DWORD Backend::SetBkColor(win::HDC dc, win::DWORD colour) {
  return ::SetBkColor(To<::HDC>(dc), colour);
}

int Backend::SetBkMode(win::HDC dc, int mode) { return ::SetBkMode(To<::HDC>(dc), mode); }

win::HGDIOBJ Backend::SelectObject(win::HDC dc, win::HGDIOBJ object) {
  return From(::SelectObject(To<::HDC>(dc), To<::HGDIOBJ>(object)));
}

int Backend::DrawTextA(win::HDC dc, const char* text, int count, win::RECT* rect,
                     win::UINT format) {
  WideText16 wide(text, count);
  if (!wide.ok()) return 0;
  ::RECT real{rect->left, rect->top, rect->right, rect->bottom};
  const int height = ::DrawTextW(To<::HDC>(dc), wide.get(), -1, &real, format);
  *rect = {real.left, real.top, real.right, real.bottom};
  return height;
}

int Backend::FillRect(win::HDC dc, const win::RECT* rect, win::HGDIOBJ brush) {
  const ::RECT real{rect->left, rect->top, rect->right, rect->bottom};
  return ::FillRect(To<::HDC>(dc), &real, To<::HBRUSH>(brush));
}

win::HGDIOBJ Backend::CreateSolidBrush(win::DWORD colour) {
  return From(::CreateSolidBrush(colour));
}

win::BOOL Backend::DeleteObject(win::HGDIOBJ object) {
  return ::DeleteObject(To<::HGDIOBJ>(object));
}

win::BOOL Backend::IsDialogMessageA(win::HWND dialog, win::MSG* msg) {
  ::MSG real = ToMsg(*msg);
  return ::IsDialogMessageW(To<::HWND>(dialog), &real);
}

win::HWND Backend::SetFocus(win::HWND window) { return From(::SetFocus(To<::HWND>(window))); }

win::HWND Backend::GetShellWindow() { return From(::GetShellWindow()); }

}  // namespace real
