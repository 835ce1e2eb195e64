// Which kept original the patch replaced: one small file beside the kept
// originals, a line an entry, the newest last:
//
//   <kept name> <SHA-256 of the kept original> <patch label> <SHA-256 of the patch>
//
// the kept name being the kept file's name between its fixed start and end
// ("0.25c", "0.25c-2"), the digests in 64 lowercase hex digits. It is
// replaced whole (written beside, flushed, swapped), so that it holds its
// old or its new lines at every instant.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "fsproc/file_ops.h"
#include "platform/win_api.h"
#include "runtime/sha256.h"
#include "runtime/types.h"

struct KeptEntry {
  Text kept;
  Sha256Digest original{};
  Text patch;
  Sha256Digest payload{};
  bool operator==(const KeptEntry&) const = default;
};

// The largest record read, and the most entries it keeps (the oldest go).
inline constexpr std::size_t kKeptRecordLimit = 64u << 10;
inline constexpr std::size_t kKeptRecordEntries = 64;

// The entries of a record's text; lines that are not whole entries are
// passed over.
std::vector<KeptEntry> ParseKeptRecord(std::string_view text);
Text FormatKeptRecord(const std::vector<KeptEntry>& entries);

// The record at `path`: its entries (none when there is no such file), or
// nothing when it exists and cannot be read.
std::optional<std::vector<KeptEntry>> ReadKeptRecord(win::Api& api, const Text& path,
                                                     LockWait* wait = nullptr);

// Makes `entry` the newest of the record at `path` (any older entry of the
// same kept name goes: a kept name holds one original). Written through
// `draftPath`; false, with the record as it was, when it cannot be read or
// replaced. An entry already the newest writes nothing.
bool RecordKeptOriginal(win::Api& api, std::int32_t codePage, const Text& path, const Text& draftPath,
                        const KeptEntry& entry, LockWait* wait = nullptr);

// The newest entry for the patch `label` of digest `payload`, if any.
std::optional<KeptEntry> KeptForPatch(const std::vector<KeptEntry>& entries, std::string_view label,
                                      const Sha256Digest& payload);

Text DigestHex(const Sha256Digest& digest);
