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
// has). Any other code is the Windows error of the step that failed.
inline constexpr win::DWORD kElevatedReplaced = 0x20000000;  // the assembly was replaced
// Its command line did not hold, or it was not started by the run of this
// program that waits for it: nothing was touched.
inline constexpr win::DWORD kElevatedRefused = 0x20000001;
inline constexpr win::DWORD kElevatedFailed = 0x20000002;   // failed without a Windows error
inline constexpr win::DWORD kElevatedDamaged = 0x20000003;  // the payload is damaged
// The game no longer runs (or its process is another program now).
inline constexpr win::DWORD kElevatedGameGone = 0x20000004;
// The game is not on a local drive this copy sees (a network share, a
// mapped or subst letter of the player's own session).
inline constexpr win::DWORD kElevatedNotLocal = 0x20000005;
// A folder on the way to the assembly is a link (a junction or symbolic
// link) or could not be held.
inline constexpr win::DWORD kElevatedLinked = 0x20000006;
// The assembly is no longer the one the run identified.
inline constexpr win::DWORD kElevatedChanged = 0x20000007;
// The asking run's account may change the Managed folder (or it could not
// be told): a folder it may change takes no administrator's work.
inline constexpr win::DWORD kElevatedMayChange = 0x20000008;
// A restore found no kept original of the installed patch as recorded
// (none recorded, gone, or its bytes changed).
inline constexpr win::DWORD kElevatedNoOriginal = 0x20000009;

// The word before the label that makes the elevated part put the original
// back instead of patching.
inline constexpr win::WCHAR kElevatedRestoreWord[] = u"restore";

// How long the run waits for the elevated part before it says it still
// waits (and waits on): the part's lock waits are bounded well within this.
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
    kUnknown,     // it ran, and what it did cannot be read from it
  };
  Outcome outcome = kFailed;
  win::DWORD code = 0;  // the Windows error, or the elevated part's exit code
};

// What the elevated part is asked to do.
enum class ElevatedWork { kPatch, kRestore };

// Starts the elevated part for the running game of process `gameId`, whose
// assembly of `size` bytes was identified as `label`, and waits for it to
// end, however long it takes: `waiting` is called once when it takes long.
// The part is told who asks and which game, by process ID and start time,
// never a path. Asks once; the caller asks at most once a run.
ElevationResult ReplaceAsAdministrator(win::Api& api, win::DWORD gameId, const Text& label,
                                       std::int64_t size, void (*waiting)(void*) = nullptr,
                                       void* context = nullptr);

// The same for putting back the original the installed patch `label`
// replaced, in a game this run has ended already: `game` is the run's handle
// to it, held open so that its process and ID stay until the part is done.
ElevationResult RestoreAsAdministrator(win::Api& api, win::DWORD gameId, win::HANDLE game, const Text& label,
                                       std::int64_t size, void (*waiting)(void*) = nullptr,
                                       void* context = nullptr);

// Whether this program runs with an administrator's rights in force (false
// when its token cannot be read).
bool RunsElevated(win::Api& api);

// The rights of the desktop's shell: none found, elevated, or not (also
// when its token cannot be read: another account's).
enum class ShellRights { kNoShell, kElevated, kNotElevated };
ShellRights DesktopShellRights(win::Api& api);
