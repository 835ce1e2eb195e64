// Finding the game: its window by title, its process by executable name.
#pragma once

#include <optional>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// FindWindowExA with these arguments; an omitted text matches anything.
// 0 when no window matches.
win::HWND LocateWindow(win::Api& api, win::HWND parent = 0, win::HWND childAfter = 0,
                       const std::optional<Text>& className = std::nullopt,
                       const std::optional<Text>& title = std::nullopt);

// The first process in the snapshot whose executable name equals `name`,
// ignoring ASCII case; 0 when none does or no snapshot is available.
win::DWORD FindProcessIdByName(win::Api& api, std::string_view name);
