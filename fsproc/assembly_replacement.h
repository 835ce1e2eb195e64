// Replacing the game's assembly with a patched one: written beside it and
// swapped in, the player's original kept in the game's folder, and what an
// interrupted run left behind cleared up first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fsproc/file_ops.h"
#include "fsproc/kept_record.h"
#include "platform/win_api.h"
#include "runtime/types.h"

// A patched assembly the program carries, known by its size and SHA-256.
struct PatchDigest {
  std::uint64_t size = 0;
  const unsigned char* sha256 = nullptr;  // 32 bytes
};

// What the caller knows about the patch: the assemblies it carries and where
// things go. The parts are relative to the game folder.
struct PatchedAssemblies {
  // Every patched assembly the program carries.
  std::span<const PatchDigest> payloads;
  // A kept original's path starts with this; the version label, from the
  // second one of a version on "-" and a number, then keptOriginalEnd follow.
  std::string_view keptOriginalPart;
  std::string_view keptOriginalEnd;
  // A kept original is written here first.
  std::string_view keptDraftPart;
  // Beside the assembly: where an earlier build set the original aside.
  std::string_view asideSuffix;
  // The record of which kept original each patch replaced (kept_record.h);
  // none is kept when empty. Written through its name followed by
  // kNewFileSuffix.
  std::string_view recordPart = {};
  // The SHA-256 of the patched assembly of a label (32 bytes), nullptr for
  // none.
  const unsigned char* (*digestOf)(std::string_view label) = nullptr;
};

// The kept original's path of `keptName` ("0.25c", "0.25c-2"), and the
// kept name of the `n`th original of `label`.
Text KeptOriginalPath(const PatchedAssemblies& patches, const Text& gameFolder, std::string_view keptName);
Text KeptName(std::string_view label, std::int32_t n);

// The largest original read into memory, to be kept and put back.
inline constexpr std::size_t kOriginalLimit = 64u << 20;

// True when `bytes` are one of the patched assemblies, whole (its size and
// digest); false for anything else.
bool IsPayload(const PatchedAssemblies& patches, std::string_view bytes);

// Keeps the player's original assembly under `gameFolder`, named by the
// version the player confirmed or picked (the best knowledge there is: the
// size may be another version's). A kept original is
// never overwritten: the same bytes kept already count as kept, other bytes
// take the next number. False when `original` is a patched assembly, nine
// other originals of that version are kept already, a kept name cannot be
// looked up, or the write fails. With `wait`, locks are waited out.
// `keptAs` gets the number of the kept name that holds it.
bool KeepOriginal(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                  const Text& gameFolder, const Text& label, std::string_view original,
                  LockWait* wait = nullptr, std::int32_t* keptAs = nullptr);

// What an interrupted run left: the new file beside the assembly, the
// draft of a kept original and of the record are removed. The assembly itself is never
// replaced or removed here: an original set aside by an earlier build goes
// back only where there is no assembly at all (moved, never over a file), and
// otherwise stays where it is. Whatever cannot be removed or put back stays
// for the next run; returns the Windows error of putting the aside back
// when that failed (0 otherwise), so that a folder that refused it can be
// worked on with more rights.
win::DWORD RemoveLeftovers(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                     const Text& gameFolder, const Text& assemblyPath);

// Replaces the assembly at `path` (under `gameFolder`) with `payload`: written beside it, flushed
// and swapped in, so that its path holds the whole original or the whole
// payload at every instant. `identified` is the look-up the version `label`
// was identified by. A file held for a moment by another program is waited
// out, up to kLockWaitLimit for the whole step. The original is kept first, and nothing is replaced
// unless it is kept (an original that is itself a patched assembly needs no
// keeping). False, with nothing written, when either look-up failed, the
// assembly is no longer as identified, cannot be read whole or cannot be
// kept, and the record names the kept original and the payload written
// over it; false too when the swap fails or the assembly read back is not the
// payload, when the original goes back. With no assembly at all the payload
// is created, never over a file that appeared meanwhile, and removed again
// when it does not read back whole.
//
// kNeedsRights, with nothing changed, when the game's folder refused the
// first new file outright: it takes rights the program lacks.
struct ReplaceResult {
  enum Outcome { kReplaced, kFailed, kNeedsRights };
  Outcome outcome = kFailed;
  // The Windows error of the step that failed, when one did (0: none, as
  // for an assembly no longer as identified).
  win::DWORD error = 0;
  explicit operator bool() const { return outcome == kReplaced; }
};
ReplaceResult WritePatchedAssembly(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                          const Text& gameFolder, const Text& path, const Text& label,
                          const FileLookup& identified,
                          std::string_view payload);

// Puts the kept original back over the patched assembly at `path`, as
// carefully as the patch went in: the assembly must still hash to
// `installed` and the kept original at `keptPath` to `kept` (both read
// whole first); the original is written beside, flushed, swapped in and read
// back, and the patched bytes go back when it does not read back. Locks are
// waited out as for the patch; kNeedsRights when the folder refuses the new
// file. The kept original stays where it is.
enum class KeptState { kWhole, kGone, kChanged, kUnreadable, kNotThePatch };
ReplaceResult PutOriginalBack(win::Api& api, std::int32_t codePage, const Text& path, const Text& keptPath,
                              const Sha256Digest& kept, const Sha256Digest& installed,
                              KeptState* state = nullptr);
