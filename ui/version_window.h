// The window in which the user names the game version by hand.
#pragma once

#include "runtime/program_state.h"

inline constexpr char kVersionWindowClass[] = "ThistlegardenVersionSelect";

// The window procedure of the version selection window.
win::LRESULT VersionWindowProc(void* context, win::HWND window, win::UINT message,
                               win::WPARAM wParam, win::LPARAM lParam);

// Shows the version selection window, owned by the program's hidden owner
// window, and returns once it is gone; false when it cannot be created.
// It lists state.versionLabels; its OK button stores the combo box's text in state.chosenVersion.
bool ShowVersionSelectWindow(ProgramState& state);
