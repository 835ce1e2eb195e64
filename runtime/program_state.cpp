#include "runtime/program_state.h"

void DefinitionWindowDestroyed(ProgramState& state) {
  if (--state.definitionWindows <= 0 && state.ending) state.api.PostQuitMessage(0);
}
