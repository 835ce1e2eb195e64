#include "ui/window_definitions.h"

#include "ui/version_window.h"

bool LoadWindowDefinitions(ProgramState& state) {
  win::WNDCLASSEXA definition{};
  definition.style = 0x0001 | 0x0002 | 0x0008;  // CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS
  definition.lpfnWndProc = VersionWindowProc;
  definition.context = &state;
  definition.lpszClassName = kVersionWindowClass;
  definition.arrowCursor = true;
  return state.api.RegisterClassExA(&definition) != 0;
}
