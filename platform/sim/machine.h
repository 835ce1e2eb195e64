// A simulated machine as the tests and the simulated build drive it: the
// Windows model seen through the fault injector, so that every call the
// program makes is counted by name and may be made to fail or stop the run.
#pragma once

#include "platform/faulting_api.h"
#include "platform/sim/model.h"

namespace sim {

// Built before the wrapper that reaches them.
struct MachineParts {
  MachineParts();
  Model model;
  win::FaultingApi faults{model};
};

class Machine final : public MachineParts, public win::ApiWrapper {
 public:
  Machine() : win::ApiWrapper(faults) {}
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // The model's state, for a test to lay out and read back.
  Clock& clock = model.clock;
  ConsoleState& console = model.console;
  SelfProcess& self = model.self;
  FileSystem& files = model.files;
  WindowSystem& windows = model.windows;
  Dialogs& dialogs = model.dialogs;
  ScriptedUser& user = model.user;
  ProcessTable& processes = model.processes;
  DriveTable& drives = model.drives;
  Registry& registry = model.registry;
  Folders& folders = model.folders;
  Elevation& elevation = model.elevation;

  std::size_t OpenHandleCount() const { return model.OpenHandleCount(); }
  int ConvertToWide(UINT codePage, const char* text, int textCount, WCHAR* wide, int wideSize) {
    return model.ConvertToWide(codePage, text, textCount, wide, wideSize);
  }
};

}  // namespace sim
