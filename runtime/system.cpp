#include "runtime/system.h"

void Delay(win::Api& api, std::int32_t ms) { api.Sleep(ms < 0 ? 0u : static_cast<win::DWORD>(ms)); }

void PumpPendingMessages(win::Api& api) {
  win::MSG msg{};
  while (api.PeekMessageA(&msg, 0, 0, 0, win::PM_NOREMOVE) && msg.message != win::WM_QUIT) {
    if (!api.PeekMessageA(&msg, 0, 0, 0, win::PM_REMOVE)) return;
    api.TranslateMessage(&msg);
    api.DispatchMessageA(&msg);
  }
}
