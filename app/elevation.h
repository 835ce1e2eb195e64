// A game folder only administrators may change: the run asks Windows for
// an administrator's rights for one copy of the program, the elevated part,
// which does the file work in the game's folder alone (clearing what an
// interrupted run left, keeping the original, writing, swapping, reading
// back), shows and prints nothing, and reports by its exit code.
#pragma once

#include <cstdint>
#include <optional>

#include "fsproc/assembly_replacement.h"
#include "platform/win_api.h"
#include "runtime/types.h"

// The session's one-run mutex.
inline constexpr win::WCHAR kOneRunMutex[] = u"Local\\ThistlegardenPatch.OneRun";

// The first argument that makes a start the elevated part.
inline constexpr win::WCHAR kElevatedPartSwitch[] = u"--elevated-part";

// The elevated part's exit codes of its own (bit 29, which no Windows error
// has): the assembly was replaced; its command line or the facts it checks
// did not hold; the replacement failed without a Windows error; the payload
// is damaged. Any other code is the Windows error of the step that failed.
inline constexpr win::DWORD kElevatedReplaced = 0x20000000;
inline constexpr win::DWORD kElevatedRefused = 0x20000001;
inline constexpr win::DWORD kElevatedFailed = 0x20000002;
// The payload it was to write is damaged.
inline constexpr win::DWORD kElevatedDamaged = 0x20000003;

// How long the run waits for the elevated part: its lock waits are bounded
// well within this.
inline constexpr win::DWORD kElevatedPartWait = 600000;

// The patched assemblies the program carries and where the replacement puts
// what it keeps.
PatchedAssemblies GamePatches();

// The elevated part, when this start's command line asks for it: its exit
// code. Nothing when the command line is an ordinary one (no arguments, or
// arguments the program does not take).
std::optional<int> RunElevatedPartIfAsked(win::Api& api);

// What became of asking for the rights.
struct ElevationResult {
  enum Outcome {
    kReplaced,    // the elevated part replaced the assembly
    kDeclined,    // the player declined the prompt
    kNotStarted,  // Windows did not start the elevated part
    kFailed,      // it ran and did not replace the assembly
  };
  Outcome outcome = kFailed;
  win::DWORD code = 0;  // the Windows error, or the elevated part's exit code
};

// Starts the elevated part for the game in `gameFolder` (ending in "\"),
// whose assembly of `size` bytes was identified as `label`, and waits for
// it. Asks once; the caller asks at most once a run.
ElevationResult ReplaceAsAdministrator(win::Api& api, const Text& gameFolder, const Text& label,
                                       std::int64_t size);

// `argument` quoted so that CommandLineToArgvW gives it back whole.
std::u16string QuotedArgument(std::u16string_view argument);
