// Replacing the game's assembly with a patched one: written beside it and
// swapped in, the player's original kept under the temporary-files folder,
// and what an interrupted run left behind cleared up first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// What the caller knows about the patch: the assemblies it carries and where
// things go. The parts are relative to the temporary-files folder.
struct PatchedAssemblies {
  // Every patched assembly the program carries, whole.
  std::span<const std::string_view> payloads;
  // The version label an original of `size` bytes is kept under; empty when
  // no version has that size.
  Text (*labelForSize)(std::int32_t size);
  // The folder the kept originals go in.
  std::string_view keptFolderPart;
  // A kept original's name starts with this; the version label, from the
  // second one of a version on "-" and a number, then ".dll" follow.
  std::string_view keptOriginalPart;
  // A kept original is written here first.
  std::string_view keptDraftPart;
  // Beside the assembly: where an earlier build set the original aside.
  std::string_view asideSuffix;
};

// The largest original read into memory, to be kept and put back.
inline constexpr std::size_t kOriginalLimit = 64u << 20;

// True when `bytes` are one of the patched assemblies, whole; false for
// anything else.
bool IsPayload(const PatchedAssemblies& patches, std::string_view bytes);

// True when the file at `path` is one of the patched assemblies, whole;
// false when it is not, is missing or cannot be read.
bool HoldsPayload(win::Api& api, const PatchedAssemblies& patches, const Text& path);

// Keeps the player's original assembly in the temporary-files folder, named
// by its version (an empty label counts as "未知版本"). A kept original is
// never overwritten: the same bytes kept already count as kept, other bytes
// take the next number. False when `original` is a patched assembly, nine
// other originals of that version are kept already, or the write fails.
bool KeepOriginal(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                  const Text& label, std::string_view original);

// What an interrupted run left: the new file beside the assembly and the
// draft of a kept original are removed; an original set aside by an earlier
// build goes back in place unless the assembly is whole and patched, when
// it is kept as the original instead. Returns nothing: whatever cannot be
// removed or put back stays for the next run, and the patch goes on.
void RemoveLeftovers(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                     const Text& assemblyPath);

// Replaces the assembly at `path` with `payload`: written beside it, flushed
// and swapped in, so that its path holds the whole original or the whole
// payload at every instant. `assemblySize` is the size the version `label`
// was identified by (-1: no assembly). The original is kept first; not
// being able to keep it does not stop the patch. False, with nothing
// written, when the assembly no longer has that size or cannot be read
// whole; false too when the swap fails or the assembly read back is not the
// payload, when the original goes back (or, with none, the file goes).
bool WritePatchedAssembly(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                          const Text& path, const Text& label, std::int32_t assemblySize,
                          std::string_view payload);
