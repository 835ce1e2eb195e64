// The program's window definitions, loaded once at start-up.
#pragma once

#include "runtime/program_state.h"

// Registers the window classes the version selection window needs; false
// when the platform refuses them.
bool LoadWindowDefinitions(ProgramState& state);
