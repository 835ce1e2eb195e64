// File operations: size, delete, write, copy, directory trees and the
// system's well-known folders. Paths are code page 936 texts handed to the
// platform's "A" functions; failures come back as false, -1 or empty text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// Low 32 bits of the size of the first entry matching `path`, as a signed
// value; -1 when nothing matches.
std::int32_t QueryFileSize(win::Api& api, const Text& path);

// What one look-up of a path found: the entry and its whole size, or no such
// file (the system said the file or a folder on its way does not exist), or
// nothing known (any other failure: the file may well be there).
struct FileLookup {
  enum State { kFound, kMissing, kFailed };
  State state = kFailed;
  std::int64_t size = -1;  // kFound: the size, all 64 bits of it

  bool found() const { return state == kFound; }
  bool missing() const { return state == kMissing; }
  bool operator==(const FileLookup&) const = default;
};
FileLookup LookUpFile(win::Api& api, const Text& path);

// DeleteFileA's result.
bool RemoveFile(win::Api& api, const Text& path);

// Creates or truncates `path` and writes the arrays in order (empty ones are
// skipped). False for an empty path, a file that cannot be opened, a failed
// or short write (the bytes written so far stay) or a failed close.
bool WriteBytesToFile(win::Api& api, const Text& path,
                      std::initializer_list<std::string_view> arrays);

// CopyFileA's result; creates no folder for `target`.
bool CopyFileTo(win::Api& api, const Text& existing, const Text& target,
                bool failIfExists = false);

// Creates every missing level of `path` ("/" counts as "\"); true when the
// path is a directory afterwards.
bool MakeDirectoryTree(win::Api& api, const Text& path, std::int32_t codePage);

// The folder of `kind` (1-8 shell folders, 9 Windows, 10 system, 11 temporary
// files) ending in "\"; empty for any other kind or when the platform has none.
Text SpecialFolderPath(win::Api& api, std::int32_t kind);


// Replacing a file so that its path holds either the old or the new content
// at every instant, whatever happens to the program or the machine.
//
// The name of the new file while it is written beside the one it replaces:
// the replaced file's name followed by this. A file of that name is never
// whole content and can be removed.
inline constexpr std::string_view kNewFileSuffix = ".patch-new";

// Writes the arrays to `newPath` (created or truncated), flushes and closes
// it; then moves it onto `path` in one write-through step, replacing a file
// there when `replace` is set (else an existing `path` makes the move fail).
// False when any step fails; the new file is then removed.
bool WriteBesideAndSwap(win::Api& api, std::int32_t codePage, const Text& newPath,
                        const Text& path, std::initializer_list<std::string_view> arrays,
                        bool replace);

// Reads all of `path` into `bytes`; false when it cannot be opened or read,
// or holds more than `limit` bytes.
bool ReadWholeFile(win::Api& api, const Text& path, Bytes* bytes, std::size_t limit);

// True when `path` can be read and holds exactly `bytes`.
bool FileHolds(win::Api& api, const Text& path, std::string_view bytes);
