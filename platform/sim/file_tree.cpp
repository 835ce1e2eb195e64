// The simulated file system's tree, and what a crash leaves of it.
#include <algorithm>

#include "platform/sim/model.h"

namespace sim {

namespace {

// Non-zero while the machine copies file contents into its disk.
int diskCopies = 0;

}  // namespace

bool CopyingDiskContents() { return diskCopies != 0; }

Model::DiskCopy::DiskCopy() { ++diskCopies; }
Model::DiskCopy::~DiskCopy() { --diskCopies; }

std::size_t FileSystem::NameStart(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (static_cast<unsigned char>(path[i]) >= 0x81) {
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
    if (c >= 0x81 && i + 1 < path.size()) {
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
    if (static_cast<unsigned char>(key[i]) >= 0x81) {
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

void FileSystem::AddFile(const std::string& path, std::string data, DWORD attributes) {
  std::string parent = Parent(path);
  if (!parent.empty()) AddDirectory(path.substr(0, parent.size()));
  Node node;
  node.name = path;
  node.data = std::move(data);
  node.attributes = attributes ? attributes : win::FILE_ATTRIBUTE_NORMAL;
  nodes[Key(path)] = node;
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

void FileSystem::Crash() {
  if (uncommittedLost) {
    for (auto undo = uncommitted.rbegin(); undo != uncommitted.rend(); ++undo) {
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
  uncommitted.clear();
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
