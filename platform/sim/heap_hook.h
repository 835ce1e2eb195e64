// What a heap count of the simulated run can leave out: the file contents
// the simulated disk holds are the disk's, not the program's.
#pragma once

namespace sim {

// True while the simulated disk copies file contents into itself.
bool CopyingDiskContents();

// Held while a call copies file contents into the simulated disk.
class DiskContentsCopy {
 public:
  DiskContentsCopy();
  ~DiskContentsCopy();
  DiskContentsCopy(const DiskContentsCopy&) = delete;
  DiskContentsCopy& operator=(const DiskContentsCopy&) = delete;
};

}  // namespace sim
