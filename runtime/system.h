// Waiting and the non-blocking message pump.
#pragma once

#include <cstdint>

#include "platform/win_api.h"

// Sleeps `ms` milliseconds (negative counts as 0); handles no messages.
void Delay(win::Api& api, std::int32_t ms);

// Dispatches the messages already waiting in this thread's queue, never
// waiting for new ones; a WM_QUIT is left in the queue.
void PumpPendingMessages(win::Api& api);
