// Ending a process and starting a program from a command line.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/win_api.h"
#include "runtime/types.h"

// Decides on an open process whether it may be ended; true to end it.
using ProcessCheck = bool (*)(void* context, win::HANDLE process);

// How long EndProcessById waits for an ended process to be gone. Ending is
// asynchronous: the process goes once its threads have left the system,
// which a game flushing files to a busy disk, or held in a graphics or
// overlay driver, delays by several seconds. Three times the 5 s of the
// first builds; a process still there after that is stuck, and the player
// is told.
inline constexpr win::DWORD kEndProcessWait = 15000;

// How an end of another process came out.
enum class EndOutcome {
  kEnded,       // ended and gone
  kStillThere,  // ended, and not seen to go within the wait
  // Not ended: this program may not end it (no rights), or could not make
  // sure it is the process meant (the check refused it); it may still run.
  kRefused,
  kGone,  // no process of that ID: it went by itself
};

// Ends the process (0: the calling process) with exit code 0 through one
// handle, opened with the rights to end it, wait for it and read its image:
// `check`, when given, is asked about that handle's process first, so that an
// ID that passed to another program meanwhile cannot be ended by mistake.
// Waits up to `waitMilliseconds` for the process to be gone. True when it was
// ended and is gone; false otherwise, `*outcome` (when given) saying why.
bool EndProcessById(win::Api& api, win::DWORD processId = 0, ProcessCheck check = nullptr,
                    void* context = nullptr, win::DWORD waitMilliseconds = kEndProcessWait,
                    EndOutcome* outcome = nullptr);

// Starts the program named by the command line's first token (the line is
// passed unchanged: quote a path with blanks). `showMode` 1 hidden,
// 2 normal (the default), 3 minimized, 4 maximized, 5 shown inactive,
// 6 minimized inactive; values outside 1..6 are clamped. With `wait`, returns
// once the program has ended, else after it is ready for input (at most 1 s).
// The program starts in `currentDirectory`, or in the caller's current
// folder when it is empty. False when the program cannot be started.
bool RunCommandLine(win::Api& api, const Text& commandLine, bool wait = false,
                    std::optional<std::int32_t> showMode = std::nullopt,
                    const Text& currentDirectory = Text());
