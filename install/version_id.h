// Which game version is installed: from the size of the game's assembly,
// confirmed by the user, or picked by hand.
#pragma once

#include <cstdint>

#include "fsproc/file_ops.h"
#include "platform/win_api.h"
#include "runtime/types.h"

struct VersionChoice {
  bool proceed;  // false: the user declined to pick a version; end the run
  Text label;    // a version label, or whatever the selection window gave
  // The look-up the version was identified by: the assembly's size (where
  // there is none, that of an original an earlier build set aside, which
  // goes back before the write), no assembly, or a look-up that failed (no
  // version then comes from the size).
  FileLookup assembly;
};

// What IdentifyVersion asks the player. The run supplies the boxes and the
// selection window; `context` is handed to each.
struct VersionQuestions {
  // The version the size suggests, `question` its whole text: true when the
  // player confirms it.
  bool (*confirm)(void* context, const char* question);
  // No version confirmed: true to pick one by hand, false to end the run.
  bool (*offerPickByHand)(void* context);
  // The text the selection window left (empty when its OK button was never
  // pressed).
  Text (*pickByHand)(void* context);
  void* context;
};

// The size code: the assembly's size in hundredths of a mebibyte, rounded
// down; -1 for a missing file (a negative size) and for a size of 2 GiB or
// more, which no version has.
std::int32_t AssemblySizeCode(std::int64_t size);

// The label whose row of the version table has `sizeCode`, or empty.
Text VersionForSizeCode(std::int32_t sizeCode);

// The look-up IdentifyVersion goes by: the game's assembly or, where there
// is none, an original an earlier build set aside.
FileLookup LookUpGameAssembly(win::Api& api, const Text& folder);

VersionChoice IdentifyVersion(win::Api& api, const Text& folder, const VersionQuestions& ask);
// The same with the look-up made already.
VersionChoice IdentifyVersion(const FileLookup& assembly, const VersionQuestions& ask);
