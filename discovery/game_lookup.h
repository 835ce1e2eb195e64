// Finding the game: its window by title, its process by executable name.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/win_api.h"
#include "runtime/types.h"

// FindWindowExA with these arguments; an omitted text matches anything.
// 0 when no window matches.
win::HWND LocateWindow(win::Api& api, win::HWND parent = 0, win::HWND childAfter = 0,
                       const std::optional<Text>& className = std::nullopt,
                       const std::optional<Text>& title = std::nullopt);


// Every process in the snapshot whose executable name equals `name`,
// ignoring ASCII case, in the snapshot's order; empty when none does or no
// snapshot is available.
std::vector<win::DWORD> FindProcessIdsByName(win::Api& api, std::string_view name);

struct FoundGame {
  win::HWND window = 0;     // 0 when no window of the game has the title
  win::DWORD processId = 0;  // 0 when the game runs neither with nor without one
};

// The game: the first top-level window titled `title`, in z-order, whose
// owner's executable is named `exeName` (ASCII case ignored), so that another
// program's window of that title is passed over; without such a window, the
// first process of that name and no window.
FoundGame FindGame(win::Api& api, const Text& title, std::string_view exeName);
