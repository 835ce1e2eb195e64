#include "ui/version_window.h"

#include "app/startup.h"

win::LRESULT VersionWindowProc(void* context, win::HWND window, win::UINT message,
                               win::WPARAM wParam, win::LPARAM lParam) {
  auto& state = *static_cast<ProgramState*>(context);
  if (message == win::WM_DESTROY) DefinitionWindowDestroyed(state);
  return state.api.DefWindowProcA(window, message, wParam, lParam);
}

bool ShowVersionSelectWindow(ProgramState&) { return false; }
