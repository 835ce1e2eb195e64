// Process entry, clean-up registration and the last-resort error report.
#pragma once

#include <cstdint>

#include "runtime/program_state.h"

// Runs start-up, the installer, EndProgram and shutdown; the exit code.
int ProgramEntry(win::Api& api);

// Appends `routine` unless it is registered already.
void RegisterCleanup(ProgramState& state, CleanupRoutine routine);

// Runs the message loop while windows from the definitions still exist.
void EndProgram(ProgramState& state);

// Shows the runtime error box and tears down without the clean-up routines.
// Returns the exit code (-1) for the caller to end the process with.
[[nodiscard]] int ReportRuntimeError(ProgramState& state, std::int32_t errorNumber,
                                     const Text& message, std::int32_t locationA,
                                     std::int32_t locationB);
