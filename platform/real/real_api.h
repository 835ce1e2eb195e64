// The Windows operations forwarded to Windows itself.
#pragma once

#include "platform/win_api.h"

// The one real backend, alive for the whole program.
win::Api& RealApi();
