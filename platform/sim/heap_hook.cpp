#include "platform/sim/heap_hook.h"

namespace sim {

namespace {

int diskCopies = 0;

}  // namespace

bool CopyingDiskContents() { return diskCopies != 0; }

DiskContentsCopy::DiskContentsCopy() { ++diskCopies; }
DiskContentsCopy::~DiskContentsCopy() { --diskCopies; }

}  // namespace sim
