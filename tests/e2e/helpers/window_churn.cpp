// Destroys windows with child windows while a second thread looks their
// children up (GetDlgItem), for a number of seconds, as an automated user
// reads a message box that its owner closes. On Wine 10 this makes the
// wineserver loop for good (tests/e2e/slot_guard.py tells it and reruns the
// case); the end-to-end runs meet it now and then, this within seconds.
//
//   window_churn [SECONDS]     exit 0 after SECONDS (default 30) and print how
//                              many look-ups and destroyed windows it made
#include "helper.h"

#include <cstdlib>

namespace {

volatile HWND current = nullptr;
volatile LONG stop = 0;
volatile LONG lookups = 0;

DWORD WINAPI LookUp(void*) {
  while (!stop) {
    // GetDlgItem lists the siblings of the window's first child.
    GetDlgItem(current, 1000);
    InterlockedIncrement(&lookups);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 30;
  HANDLE looker = CreateThread(nullptr, 0, LookUp, nullptr, 0, nullptr);
  const ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
  long destroyed = 0;
  while (GetTickCount64() < end) {
    HWND parent = CreateWindowExW(0, L"#32770", L"churn", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!parent) return 2;
    for (int i = 0; i < 8; ++i)
      CreateWindowExW(0, L"Button", L"x", WS_CHILD | WS_VISIBLE, 30 * i, 0, 30, 20, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(i + 1)),
                      GetModuleHandleW(nullptr), nullptr);
    current = parent;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    DestroyWindow(parent);
    ++destroyed;
  }
  stop = 1;
  WaitForSingleObject(looker, 5000);
  Print("look-ups " + std::to_string(lookups) + ", windows destroyed " + std::to_string(destroyed));
  return 0;
}
