// The installer run.
#pragma once

#include <cstdint>

#include "runtime/program_state.h"

// The whole installer, from banner to closing notice; always 0.
std::int32_t RunInstaller(ProgramState& state);
