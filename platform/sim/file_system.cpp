// The simulated file system's tree, its changes, and what a crash leaves of it.
#include "platform/sim/file_system.h"

#include <algorithm>

#include "platform/sim/heap_hook.h"

namespace sim {

std::size_t FileSystem::NameStart(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i])) {
      ++i;
    } else if (path[i] == '\\' || path[i] == '/' || path[i] == ':') {
      start = i + 1;
    }
  }
  return start;
}

std::string FileSystem::Key(const std::string& path) {
  std::string key;
  std::size_t trail = 0;  // where the real backslashes at the end begin
  for (std::size_t i = 0; i < path.size(); ++i) {
    auto c = static_cast<unsigned char>(path[i]);
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != '\\') trail = key.size() + 1;
    key += static_cast<char>(c);
    if (IsLeadByte(static_cast<char>(c)) && i + 1 < path.size()) {
      key += path[++i];  // trail byte kept as is
      trail = key.size();
    }
  }
  key.resize(std::max<std::size_t>(trail, std::min<std::size_t>(key.size(), 3)));
  return key;
}

std::string FileSystem::Parent(const std::string& path) {
  std::string key = Key(path);
  std::size_t cut = std::string::npos;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (IsLeadByte(key[i])) {
      ++i;
      continue;
    }
    if (key[i] == '\\') cut = i;
  }
  if (cut == std::string::npos) return "";
  return cut == 2 ? key.substr(0, 3) : key.substr(0, cut);
}

void FileSystem::AddDirectory(const std::string& path) {
  std::string key = Key(path);
  if (key.empty() || nodes.count(key)) return;
  std::string parent = Parent(path);
  if (!parent.empty() && parent != key) AddDirectory(path.substr(0, parent.size()));
  Node node;
  node.name = path;
  node.directory = true;
  node.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
  nodes[key] = node;
}

void FileSystem::AddFile(const std::string& path, std::string data, win::DWORD attributes) {
  std::string parent = Parent(path);
  if (!parent.empty()) AddDirectory(path.substr(0, parent.size()));
  Node node;
  node.name = path;
  node.data = std::move(data);
  node.attributes = attributes ? attributes : win::FILE_ATTRIBUTE_NORMAL;
  nodes[Key(path)] = std::move(node);
}

const FileSystem::Node* FileSystem::Find(const std::string& path) const {
  auto it = nodes.find(Key(path));
  return it == nodes.end() ? nullptr : &it->second;
}

FileSystem::Node* FileSystem::Find(const std::string& path) {
  auto it = nodes.find(Key(path));
  return it == nodes.end() ? nullptr : &it->second;
}

std::unique_ptr<FileSystem::Node> FileSystem::TakeOut(const std::string& key) {
  auto it = nodes.find(key);
  if (it == nodes.end()) return nullptr;
  auto node = std::make_unique<Node>(std::move(it->second));
  nodes.erase(it);
  return node;
}

void FileSystem::Create(const std::string& key, Node node) {
  nodes[key] = std::move(node);
  uncommitted_.push_back({Undo::kPlaced, key, "", "", nullptr});
  ++changes_;
}

void FileSystem::Remove(const std::string& key) {
  auto node = TakeOut(key);
  if (node) freeBytes += static_cast<long long>(node->data.size());
  uncommitted_.push_back({Undo::kPlaced, key, "", "", std::move(node)});
  ++changes_;
}

void FileSystem::Replace(const std::string& key, Node node) {
  DiskContentsCopy disk;
  auto old = TakeOut(key);
  if (old) freeBytes += static_cast<long long>(old->data.size());
  freeBytes -= node.sizeOverride >= 0 ? node.sizeOverride : static_cast<long long>(node.data.size());
  uncommitted_.push_back({Undo::kPlaced, key, "", "", std::move(old)});
  nodes[key] = std::move(node);
  ++changes_;
}

void FileSystem::Truncate(Node& node) {
  freeBytes += static_cast<long long>(node.data.size());
  node.data.clear();
  node.sizeOverride = -1;
  node.unflushedFrom = 0;
  ++changes_;
}

win::DWORD FileSystem::Append(Node& node, const char* bytes, win::DWORD size) {
  const win::DWORD room = freeBytes < static_cast<long long>(size)
                              ? static_cast<win::DWORD>(freeBytes < 0 ? 0 : freeBytes)
                              : size;
  DiskContentsCopy disk;
  if (node.unflushedFrom < 0) node.unflushedFrom = static_cast<long long>(node.data.size());
  node.data.append(bytes, room);
  freeBytes -= room;
  ++changes_;
  return room;
}

void FileSystem::Flush(Node& node) {
  node.unflushedFrom = -1;
  Commit();
  ++changes_;
}

void FileSystem::Rename(const std::string& fromKey, const std::string& from,
                        const std::string& toKey, const std::string& to, bool writeThrough) {
  ++changes_;
  Node& source = nodes.at(fromKey);
  if (toKey == fromKey) {  // a new spelling of the same name
    source.name = to;
    if (writeThrough) Commit();
    return;
  }
  const bool folder = source.directory;
  // A folder's move is not logged: it is taken as committed.
  std::unique_ptr<Node> replaced = TakeOut(toKey);
  if (replaced) freeBytes += static_cast<long long>(replaced->data.size());
  if (!folder)
    uncommitted_.push_back({Undo::kRenamed, toKey, fromKey, source.name, std::move(replaced)});
  // The entry and, for a folder, everything below it take the new name.
  std::map<std::string, Node> moved;
  for (auto it = nodes.begin(); it != nodes.end();) {
    const std::string& key = it->first;
    const bool inside = key.size() > fromKey.size() && key.compare(0, fromKey.size(), fromKey) == 0 &&
                        key[fromKey.size()] == '\\';
    if (key != fromKey && !(folder && inside)) {
      ++it;
      continue;
    }
    Node node = std::move(it->second);
    const std::string rest = key.substr(fromKey.size());
    node.name = to + (node.name.size() >= from.size() ? node.name.substr(from.size()) : rest);
    moved[toKey + rest] = std::move(node);
    it = nodes.erase(it);
  }
  for (auto& [key, node] : moved) nodes.insert_or_assign(key, std::move(node));
  if (folder || writeThrough) Commit();
  if (!folder && onRenamed) onRenamed(nodes[toKey]);
}

void FileSystem::Crash() {
  if (uncommittedLost) {
    for (auto undo = uncommitted_.rbegin(); undo != uncommitted_.rend(); ++undo) {
      if (undo->kind == Undo::kRenamed) {
        if (auto moved = TakeOut(undo->key)) {
          moved->name = undo->fromName;
          nodes[undo->fromKey] = std::move(*moved);
        }
      } else {
        nodes.erase(undo->key);
      }
      if (undo->before) nodes[undo->key] = std::move(*undo->before);
    }
  }
  uncommitted_.clear();
  for (auto& [key, node] : nodes) {
    if (node.directory || node.unflushedFrom < 0) continue;
    const auto from = static_cast<std::size_t>(node.unflushedFrom);
    if (from < node.data.size()) {
      if (unflushedLoss == Loss::kTruncate) node.data.resize(from);
      if (unflushedLoss == Loss::kZero) std::fill(node.data.begin() + static_cast<long>(from), node.data.end(), '\0');
    }
    node.unflushedFrom = -1;
  }
}

}  // namespace sim
