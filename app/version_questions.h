// The run's questions about the game version: the program's boxes and the
// selection window, asked through IdentifyVersion.
#pragma once

#include <cstdint>

#include "app/run_log.h"
#include "install/version_id.h"
#include "platform/win_api.h"
#include "runtime/types.h"

// Shows the selection window and returns the text it left (empty when its
// OK button was never pressed).
using PickVersionByHand = Text (*)(void* context);

// IdentifyVersion asking with the program's boxes, their text in `codePage`,
// and `pickByHand` (given `context`) for the selection window; each question
// and its answer go into `log`.
VersionChoice AskForVersion(win::Api& api, std::int32_t codePage, const FileLookup& assembly,
                            PickVersionByHand pickByHand, void* context, RunLog& log);

// Whether the player wants the original back from the installed patch
// `label` (the version question's box): true for OK. Recorded with its answer.
bool AskToRestore(win::Api& api, std::int32_t codePage, const Text& label, RunLog& log);
