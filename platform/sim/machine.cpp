#include "platform/sim/machine.h"

namespace sim {

// A crash loses what the disk model says it loses; each call is stamped
// with the disk's count of changes.
MachineParts::MachineParts() {
  faults.onCrash = [this] { model.files.Crash(); };
  faults.stamp = [this] { return model.files.changes(); };
}

}  // namespace sim
