// A game patched with this program's own payloads: which patch is installed
// (the assembly's SHA-256 against each payload's), and the kept original
// that patch replaced, put back on request, by the run and by the elevated
// part alike.
#pragma once

#include "fsproc/assembly_replacement.h"
#include "fsproc/file_ops.h"
#include "platform/win_api.h"
#include "runtime/sha256.h"
#include "runtime/types.h"

struct InstalledPatch {
  Text label;  // empty: the assembly is none of ours
  Sha256Digest digest{};
  explicit operator bool() const { return !label.empty(); }
};

// The patch at `assemblyPath`, whose look-up gave `found`: an assembly of
// one payload's size is read once, whole, and its digest compared with the
// payloads'. One that cannot be read is none of ours.
InstalledPatch RecognisePatch(win::Api& api, const Text& assemblyPath, const FileLookup& found);

// The patch of `label` as the program carries it; empty for another label.
InstalledPatch PatchOfLabel(const Text& label);

// The kept original the installed patch replaced, as the record beside it
// names it, and what its bytes are now (for the restore also: the assembly
// is no longer that patch).
struct KeptOriginalFound {
  enum State { kWhole, kNone, kGone, kChanged, kUnreadable, kAssemblyChanged };
  State state = kNone;
  Text path;  // kNone: empty
  Sha256Digest digest{};
};
KeptOriginalFound FindKeptOriginal(win::Api& api, const Text& gameFolder, const InstalledPatch& patch);

// Puts the kept original of `patch` back over the assembly (PutOriginalBack).
// `found` gets the kept original as the record names it and as it was read.
ReplaceResult RestoreOriginal(win::Api& api, const Text& gameFolder, const Text& assemblyPath,
                              const InstalledPatch& patch, KeptOriginalFound* found = nullptr);

// The SHA-256 of the file at `path`, read whole; nothing when it cannot be.
std::optional<Sha256Digest> FileDigest(win::Api& api, const Text& path, LockWait* wait = nullptr);
