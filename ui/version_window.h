// The window in which the user names the game version by hand.
#pragma once

#include "app/state.h"

inline constexpr char kVersionWindowClass[] = "ThistlegardenVersionSelect";

// The window procedure of the version selection window.
win::LRESULT VersionWindowProc(void* context, win::HWND window, win::UINT message,
                               win::WPARAM wParam, win::LPARAM lParam);
