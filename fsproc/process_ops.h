// Ending a process and starting a program from a command line.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/win_api.h"
#include "runtime/types.h"

// Asks the platform to end the process (0: the calling process) with exit
// code 0; false when it cannot be opened for ending or the request fails.
// Does not wait for the process to be gone.
bool EndProcessById(win::Api& api, win::DWORD processId = 0);

// Starts the program named by the command line's first token (the line is
// passed unchanged: quote a path with blanks). `showMode` 1 hidden,
// 2 normal (the default), 3 minimized, 4 maximized, 5 shown inactive,
// 6 minimized inactive; values outside 1..6 are clamped. With `wait`, returns
// once the program has ended, else after it is ready for input (at most 1 s).
// False when the program cannot be started.
bool RunCommandLine(win::Api& api, const Text& commandLine, bool wait = false,
                    std::optional<std::int32_t> showMode = std::nullopt);
