// The self-closing message box, and the walk over top-level windows that
// finds its owner.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/win_api.h"
#include "runtime/types.h"

// Box styles: the buttons, or'ed with the icon.
inline constexpr win::UINT kBoxOkCancel = 0x1;
inline constexpr win::UINT kBoxIconError = 0x10, kBoxIconQuestion = 0x20, kBoxIconWarning = 0x30,
                           kBoxIconInformation = 0x40;
inline constexpr win::UINT kBoxSetForeground = 0x10000;

// Shows a modal box and returns the platform's result minus one: 0 for OK,
// 1 for Cancel, ..., 31999 when the time-out closed it, -1 when not shown.
// Defaults: style 0, title "友情提醒", the owner a visible window of this
// process (searched for 1000 ms), a time-out of 5000 ms.
std::int32_t TimedMessageBox(win::Api& api, std::int32_t codePage, const Text& text,
                             std::optional<win::UINT> style = std::nullopt,
                             std::optional<Text> title = std::nullopt,
                             std::optional<win::HWND> owner = std::nullopt,
                             std::optional<std::int32_t> timeout = std::nullopt);

// The first top-level window without parent of `processId` whose class name
// and title contain the filters given (case distinguished), or 0. Stops when
// the time-out (31,536,000 ms when absent or negative) has run out or the
// window list ends; hidden windows are skipped unless `visibleOnly` is false.
win::HWND FindProcessWindow(win::Api& api, std::int32_t codePage, win::DWORD processId,
                            std::optional<Text> titleFilter = std::nullopt,
                            std::optional<Text> classFilter = std::nullopt,
                            std::optional<std::int32_t> timeout = std::nullopt,
                            std::optional<bool> visibleOnly = std::nullopt);
