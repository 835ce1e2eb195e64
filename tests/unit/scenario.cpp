#include "unit/scenario.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "app/startup.h"
#include "platform/sim/code_pages.h"
#include "runtime/sha256.h"

namespace scenario {

std::vector<Line> Lines(const sim::ConsoleState& console) {
  std::vector<Line> lines;
  for (const auto& cell : console.written) {
    if (lines.empty() || lines.back().attributes != cell.attributes ||
        lines.back().text.ends_with("\n"))
      lines.push_back({"", cell.attributes});
    lines.back().text += cell.byte;
  }
  return lines;
}

namespace {

// The text between the quotes of a line of the expected console, escapes
// undone.
std::string Unquoted(const std::string& line, std::size_t open) {
  std::string text;
  for (std::size_t i = open + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      text += line[i];
      continue;
    }
    const char escaped = line[++i];
    text += escaped == 'r' ? '\r' : escaped == 'n' ? '\n' : escaped;
  }
  return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::vector<Line> GoodInstallLines(win::HWND window, win::DWORD processId, const std::string& path,
                                   const std::string& name) {
  std::ifstream file(TG_GOOD_INSTALL_FILE);
  if (!file) std::abort();
  std::vector<Line> lines;
  for (std::string line; std::getline(file, line);) {
    const std::size_t open = line.find('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos) continue;
    std::string text = sim::Recode("CP936", "UTF-8", Unquoted(line, open));
    ReplaceAll(text, "{hwnd}", std::to_string(static_cast<std::int32_t>(window)));
    ReplaceAll(text, "{pid}", std::to_string(processId));
    ReplaceAll(text, "{path}", path);
    ReplaceAll(text, "{name}", name);
    lines.push_back({text, static_cast<win::WORD>(std::stoi(line.substr(0, open), nullptr, 16))});
  }
  return lines;
}

std::u16string Wide(sim::Machine& machine, const std::string& text) {
  std::u16string wide(text.size() + 1, u'\0');
  int n = machine.ConvertToWide(54936, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(n));
  return wide;
}

Game InstallGame(sim::Machine& machine, long long assemblySize, bool withWindow,
                 const std::string& folder) {
  Game game;
  game.folder = folder;
  machine.drives.targets['D'] = u"\\Device\\HarddiskVolume4";
  machine.files.AddFile(game.ExePath(), "MZ game");
  machine.files.AddDirectory(folder + "Thistlegarden_Data\\Managed");
  if (assemblySize >= 0)
    machine.files.AddFile(game.AssemblyPath(), std::string(static_cast<std::size_t>(assemblySize), 'o'));
  std::u16string image = u"\\Device\\HarddiskVolume4" + Wide(machine, game.ExePath().substr(2));
  game.processId = machine.processes.Add(game.exeName, image);
  if (withWindow) game.window = machine.windows.AddForeign("Thistlegarden", "UnityWndClass", game.processId);
  // The program itself, for the copy it starts with an administrator's rights.
  machine.elevation.program = [&machine] { return static_cast<win::UINT>(ProgramEntry(machine)); };
  machine.faults.calls.clear();
  machine.faults.stamps.clear();
  machine.faults.failableNames.clear();
  return game;
}

void MakeAdminOnly(sim::Machine& machine, const Game& game) {
  machine.files.Find(game.folder + "Thistlegarden_Data\\Managed")->adminOnly = true;
  if (auto* assembly = machine.files.Find(game.AssemblyPath())) assembly->adminOnly = true;
}

Game RestartOn(sim::Machine& machine, const sim::Machine& survivor, bool withWindow) {
  Game game = InstallGame(machine, -1, withWindow);
  machine.files.nodes = survivor.files.nodes;
  machine.files.freeBytes = survivor.files.freeBytes;
  machine.registry = survivor.registry;
  return game;
}

Game RestartOn(sim::Machine& machine, sim::Machine&& survivor, bool withWindow) {
  Game game = InstallGame(machine, -1, withWindow);
  machine.files.nodes = std::move(survivor.files.nodes);
  machine.files.freeBytes = survivor.files.freeBytes;
  machine.registry = survivor.registry;
  return game;
}

bool OriginalSomewhere(const sim::Machine& machine, const std::string& assemblyPath,
                       const std::string& original) {
  if (const auto* assembly = machine.files.Find(assemblyPath); assembly && assembly->data == original)
    return true;
  for (const auto& [key, node] : machine.files.nodes) {
    const std::string name = node.name.substr(sim::FileSystem::NameStart(node.name));
    if (!node.directory && name.starts_with("原版Assembly-CSharp-") && !name.ends_with(".patch-new") &&
        node.data == original)
      return true;
  }
  return false;
}

namespace {

// A copy of `text` to keep, shared with the last caller that kept the same:
// a sweep watches for the same original of megabytes in every run.
std::shared_ptr<const std::string> SharedCopy(const std::string& text) {
  static std::shared_ptr<const std::string> last;
  if (!last || *last != text) last = std::make_shared<const std::string>(text);
  return last;
}

}  // namespace

void WatchOriginal(sim::Machine& machine, const std::string& assemblyPath,
                   const std::string& original, long* lostAt) {
  auto inner = machine.faults.stamp;
  auto checkedAt = std::make_shared<long>(-1);
  // Copies: a caller may hand in temporaries.
  machine.faults.stamp = [&machine, assemblyPath, kept = SharedCopy(original), lostAt, inner, checkedAt] {
    const long stamp = inner ? inner() : 0;
    if (*lostAt == 0 && stamp != *checkedAt) {
      *checkedAt = stamp;
      if (!OriginalSomewhere(machine, assemblyPath, *kept))
        *lostAt = static_cast<long>(machine.faults.calls.size());
    }
    return stamp;
  };
}

long CallCount(const sim::Machine& machine, const std::string& name) {
  return std::count(machine.faults.calls.begin(), machine.faults.calls.end(), name);
}

std::vector<std::string> CallsAmong(const sim::Machine& machine,
                                    const std::vector<std::string>& names) {
  std::vector<std::string> seen;
  for (const auto& call : machine.faults.calls)
    if (std::find(names.begin(), names.end(), call) != names.end()) seen.push_back(call);
  return seen;
}

namespace {

// The program runs hundreds of times in a sweep, each time decoding the same
// stream: a part decoded once is kept, with a copy of the stream it came
// from, and given again only for the same bytes (a flipped byte decodes
// afresh).
struct DecodedPart {
  std::string stream;
  StreamMethod method;
  std::uint64_t streamSize, offset;
  std::uint32_t size;
  Bytes bytes;
};

bool KeepingDecoder(std::string_view stream, StreamMethod method, std::uint64_t streamSize,
                    std::uint64_t offset, std::uint32_t size, Bytes* out) {
  static std::vector<DecodedPart> kept;
  for (const DecodedPart& part : kept) {
    if (part.method == method && part.streamSize == streamSize && part.offset == offset &&
        part.size == size && part.stream == stream) {
      *out = part.bytes;
      return true;
    }
  }
  if (!DecodeStreamPart(stream, method, streamSize, offset, size, out)) return false;
  if (kept.size() == 8) kept.erase(kept.begin());
  kept.push_back({std::string(stream), method, streamSize, offset, size, *out});
  return true;
}

const bool kDecoderKept = (SetStreamDecoder(KeepingDecoder), true);

// So it hashes the same few files (the payload it decoded, the original it
// keeps, the images) again in every run: a digest of more than 64 KiB is
// kept with a copy of the bytes it is of, and given again only for the same
// bytes, compared whole; any other bytes are hashed afresh.
Sha256Digest KeepingHasher(std::string_view bytes) {
  struct Digested {
    std::string bytes;
    Sha256Digest digest;
  };
  static std::vector<Digested> kept;
  if (bytes.size() <= (64u << 10)) return ComputeSha256(bytes);
  for (const Digested& known : kept)
    if (known.bytes == bytes) return known.digest;
  const Sha256Digest digest = ComputeSha256(bytes);
  if (kept.size() == 8) kept.erase(kept.begin());
  kept.push_back({std::string(bytes), digest});
  return digest;
}

const bool kHasherKept = (SetSha256Function(KeepingHasher), true);

// Each run allocates and frees a few buffers of megabytes (the assembly, its
// copies and the disk's): kept in the heap for the next run instead of
// handed back to the system and faulted in again, page by page.
const bool kHeapKept = (mallopt(M_MMAP_THRESHOLD, 32 << 20), mallopt(M_TRIM_THRESHOLD, 256 << 20), true);

const std::string& Kept(std::map<std::string, std::string, std::less<>>& kept, std::string_view key,
                        const PayloadInfo* payload) {
  static const std::string kNothing;
  if (const auto found = kept.find(key); found != kept.end()) return found->second;
  Bytes bytes = payload ? DecodedPayload(*payload) : Bytes();
  if (bytes.empty()) return kNothing;
  return kept.emplace(std::string(key), std::move(bytes)).first->second;
}

}  // namespace

const std::string& PayloadBytes(std::string_view label) {
  static std::map<std::string, std::string, std::less<>> kept;
  return Kept(kept, label, FindPayload(label));
}

const std::string& ImageBytes(const PayloadInfo& image) {
  static std::map<std::string, std::string, std::less<>> kept;
  return Kept(kept, &image == &BeforeImage() ? "before" : "after", &image);
}

const sim::FileSystem::Node* File(const sim::Machine& machine, const std::string& path) {
  return machine.files.Find(path);
}

std::vector<const sim::ProcessTable::Process*> Started(const sim::Machine& machine) {
  std::vector<const sim::ProcessTable::Process*> started;
  for (const auto& p : machine.processes.list)
    if (p.startedByProgram) started.push_back(&p);
  return started;
}

std::map<std::string, std::string> DiskWithoutRunLogs(const sim::Machine& machine) {
  const std::string logFolder = std::string(kTemp) + "Thistlegarden补丁程序";
  std::map<std::string, std::string> disk;
  for (const auto& [key, node] : machine.files.nodes) {
    const std::string name = node.name.substr(sim::FileSystem::NameStart(node.name));
    if (node.name == logFolder || (node.name.starts_with(logFolder) && name.starts_with("运行记录")))
      continue;
    disk[node.name] = node.directory ? "<folder>" : node.data;
  }
  return disk;
}

}  // namespace scenario
