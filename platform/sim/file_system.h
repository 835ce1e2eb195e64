// The simulated disk: files and folders, free space, and what a crash
// leaves of them. Every change goes through one of the changing operations
// below, which keep the free space, the count of changes and the log of
// changes not yet committed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_api.h"

namespace sim {

// Files and folders. Paths are keyed by their absolute form, case folded.
class FileSystem {
 public:
  struct Node {
    std::string name;  // the path as created
    bool directory = false;
    std::string data;
    win::DWORD attributes = 0;
    bool locked = false;  // held open elsewhere without sharing
    // Only an administrator may change it: a folder, what is created,
    // removed or renamed in it; a file, writing, removing or replacing it.
    // What is created in such a folder is so too.
    bool adminOnly = false;
    // > 0: held so for that many more attempts to open, delete or rename it,
    // then let go (as a scanner does).
    int refusals = 0;
    long long sizeOverride = -1;  // >= 0: the size reported instead of data's
    // >= 0: the data from this offset on was written and not flushed, and
    // may be lost in a crash.
    long long unflushedFrom = -1;
  };
  std::map<std::string, Node> nodes;
  long long freeBytes = 1LL << 40;

  // What a crash does to the disk. Data not flushed is kept, cut off, or
  // turned to zeros from where it starts; changes to the tree (creating,
  // deleting, copying, renaming) not yet committed survive or are undone.
  // A flush or a write-through move commits every change before it, as a
  // file system's log does.
  enum class Loss { kNothing, kTruncate, kZero };
  Loss unflushedLoss = Loss::kNothing;
  bool uncommittedLost = false;
  void Crash();
  long changes() const { return changes_; }  // changes made through the platform calls
  // Runs after a file was renamed onto a name (what another program watching
  // the folder may do then, such as a security program rewriting it).
  std::function<void(Node&)> onRenamed;

  // Laying out a disk: not counted as changes, never undone.
  void AddDirectory(const std::string& path);  // with its parents
  void AddFile(const std::string& path, std::string data, win::DWORD attributes = 0);

  // The changes the platform calls make. `key` is Key() of the path.
  void Create(const std::string& key, Node node);
  void Remove(const std::string& key);
  // Puts `node` in place of whatever `key` held (a copy).
  void Replace(const std::string& key, Node node);
  void Truncate(Node& node);
  // Appends what fits of `size` bytes; the bytes written.
  win::DWORD Append(Node& node, const char* bytes, win::DWORD size);
  // Flushes the node's data and commits every change before.
  void Flush(Node& node);
  // Renames the entry at `fromKey` (a folder with all below it) to `to`,
  // over a file at `toKey`; a folder's move and a write-through one are
  // committed at once.
  void Rename(const std::string& fromKey, const std::string& from, const std::string& toKey,
              const std::string& to, bool writeThrough);

  const Node* Find(const std::string& path) const;
  Node* Find(const std::string& path);
  bool Exists(const std::string& path) const { return Find(path) != nullptr; }
  static std::string Key(const std::string& path);
  static std::string Parent(const std::string& path);
  // Offset just past the last separator (or drive colon), stepping over
  // two-byte characters.
  static std::size_t NameStart(const std::string& path);
  // The first byte of a two-byte character in code page 936 and GB18030
  // (0x81 to 0xFE); 0x80 is "€" on its own.
  static bool IsLeadByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
  }

 private:
  // The tree changes not yet committed, oldest first: what each replaced.
  struct Undo {
    enum Kind { kPlaced, kRenamed } kind;
    std::string key;      // the entry placed or removed, or the rename's target
    std::string fromKey;  // kRenamed: where the entry was
    std::string fromName;
    std::unique_ptr<Node> before;  // what `key` held before, if anything
  };
  // Takes the entry at `key` out of the tree for the log (nullptr: none).
  std::unique_ptr<Node> TakeOut(const std::string& key);
  void Commit() { uncommitted_.clear(); }

  std::vector<Undo> uncommitted_;
  long changes_ = 0;
};

}  // namespace sim
