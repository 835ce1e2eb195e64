// Message boxes. MessageBoxTimeout is exported but undocumented, so it is
// looked up; Wine's ignores its time-out, so a thread timer of our own ends
// the box with the time-out's answer, and a timer message left from an
// earlier box must not end the next one early.
#include "platform/real/real_backend.h"

#include <cstring>

namespace real {

namespace {

// Wine's MessageBoxTimeoutA ignores its time-out: a thread timer of our own
// ends the box with the time-out's result, 32000, on every platform.
struct BoxGuard {
  ::UINT_PTR timer;
  ::DWORD start;
  ::DWORD limit;
  BoxGuard* outer;
};
BoxGuard* g_boxGuard = nullptr;  // the innermost box on screen

::BOOL CALLBACK FindOpenBox(::HWND window, ::LPARAM found) {
  char name[8];
  if (::GetClassNameA(window, name, sizeof name) == 6 && std::memcmp(name, "#32770", 7) == 0 &&
      ::IsWindowEnabled(window)) {
    *reinterpret_cast<::HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK EndTimedOutBox(::HWND, ::UINT, ::UINT_PTR timer, ::DWORD) {
  BoxGuard* guard = g_boxGuard;
  while (guard != nullptr && guard->timer != timer) guard = guard->outer;
  if (guard == nullptr) return;  // left over from a box already closed
  // A message left over from an earlier box that had the same timer comes
  // too early for this one: wait for the rest of this box's time.
  const ::DWORD elapsed = ::GetTickCount() - guard->start;
  if (elapsed < guard->limit) {
    ::SetTimer(nullptr, timer, guard->limit - elapsed, EndTimedOutBox);
    return;
  }
  ::HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), FindOpenBox, reinterpret_cast<::LPARAM>(&box));
  if (box != nullptr) ::EndDialog(box, 32000);
}

}  // namespace

int Backend::MessageBoxTimeoutA(win::HWND owner, const char* text, const char* caption, win::UINT style,
                              win::WORD language, win::DWORD milliseconds) {
  if (messageBoxTimeout_ == nullptr) return 0;
  // 0 and INFINITE mean no time-out, as they do to Windows.
  WideText16 wideText(text), wideCaption(caption);
  if (!wideText.ok() || !wideCaption.ok()) return 0;
  BoxGuard guard{0, ::GetTickCount(), milliseconds, g_boxGuard};
  if (milliseconds != 0 && milliseconds != INFINITE)
    guard.timer = ::SetTimer(nullptr, 0, milliseconds, EndTimedOutBox);
  if (guard.timer != 0) g_boxGuard = &guard;
  const int result = messageBoxTimeout_(To<::HWND>(owner), wideText.get(), wideCaption.get(),
                                        style, language, milliseconds);
  if (guard.timer != 0) {
    ::KillTimer(nullptr, guard.timer);
    g_boxGuard = guard.outer;
  }
  return result;
}

int Backend::MessageBoxA(win::HWND owner, const char* text, const char* caption, win::UINT style) {
  WideText16 wideText(text), wideCaption(caption);
  if (!wideText.ok() || !wideCaption.ok()) return 0;
  return ::MessageBoxW(To<::HWND>(owner), wideText.get(), wideCaption.get(), style);
}

}  // namespace real
