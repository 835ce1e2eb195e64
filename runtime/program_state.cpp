#include "runtime/program_state.h"

void DefinitionWindowDestroyed(ProgramState& state) {
  if (--state.definitionWindows <= 0 && state.ending) state.api.PostQuitMessage(0);
}

void ReleaseOneRun(ProgramState& state) {
  if (state.oneRunMutex) state.api.CloseHandle(state.oneRunMutex);
  state.oneRunMutex = 0;
}
