// File operations: size, delete, write, copy, directory trees and the
// system's well-known folders. Paths are code page 936 texts handed to the
// platform's "A" functions; failures come back as false, -1 or empty text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// A file another program holds for a moment (an on-access scanner, the
// game's own loader) is waited out: after a sharing violation or an access
// denial the operation is tried again, the waits doubling from 50 ms up to
// 1.6 s, until the operations sharing one LockWait have waited `limit` in
// all (about ten seconds: scanners hold a file for well under a second,
// and a lock that outlasts this is not a moment's).
inline constexpr win::DWORD kLockWaitLimit = 10000;

class LockWait {
 public:
  explicit LockWait(win::Api& api, win::DWORD limit = kLockWaitLimit) : api_(api), limit_(limit) {}
  // Called right after an operation failed: true, once it has waited, when
  // the failure was a lock and time is left to try again.
  bool Again();
  win::DWORD waited() const { return waited_; }

  // The Windows error of the last operation that failed under this wait
  // (0: none yet), for telling the player.
  win::DWORD error() const { return error_; }
  void Note(win::DWORD error) { error_ = error; }
  // A new file the folder refused: access denied where no file of that
  // name exists (rights the program lacks, not a lock, so not waited out),
  // or still denied to a leftover of that name when the wait is over.
  bool refused() const { return refused_; }
  void Refuse() { refused_ = true; }

 private:
  win::Api& api_;
  win::DWORD limit_;
  win::DWORD waited_ = 0;
  win::DWORD next_ = 50;
  win::DWORD error_ = 0;
  bool refused_ = false;
};

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

// The kinds of SpecialFolderPath the program asks for.
inline constexpr std::int32_t kWindowsFolder = 9;
inline constexpr std::int32_t kSystemFolder = 10;
inline constexpr std::int32_t kTemporaryFilesFolder = 11;

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
// False when any step fails; the new file is then removed. With `wait`,
// creating the new file and the move wait out a lock, and `wait` keeps the
// error that ended the step; a folder that refuses the new file outright
// is not waited out (LockWait::refused).
bool WriteBesideAndSwap(win::Api& api, std::int32_t codePage, const Text& newPath,
                        const Text& path, std::initializer_list<std::string_view> arrays,
                        bool replace, LockWait* wait = nullptr);

// Reads all of `path` into `bytes`; false when it cannot be opened or read,
// or holds more than `limit` bytes. With `wait`, opening waits out a lock.
// `expected`, the size the caller found the file to have, is made room for
// at once (a file that changed size since is still read whole).
bool ReadWholeFile(win::Api& api, const Text& path, Bytes* bytes, std::size_t limit,
                   LockWait* wait = nullptr, std::size_t expected = 0);

// True when `path` can be read and holds exactly `bytes`.
bool FileHolds(win::Api& api, const Text& path, std::string_view bytes, LockWait* wait = nullptr);
