// One whole run of the installer on a simulated machine, its transcript on
// standard output: the console in colour, each message box, what changed on
// disk, and the run's figures. By default the game runs, its assembly
// identifies as "0.25c" and the user confirms the version; `--no-game` runs
// without it. `--assembly-size N` gives the game's assembly N bytes, and
// `--pick LABEL` has the user refuse the confirmation, ask to pick by hand
// and pick LABEL from the selection window's list. `--admin-only` makes the
// game's folder one only administrators may change; `--consent declined`
// (or `granted`, the default) answers Windows' prompt for those rights.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "app/startup.h"
#include "install/version_id.h"
#include "platform/sim/code_pages.h"
#include "platform/sim/heap_hook.h"
#include "platform/sim/machine.h"

namespace {

// Heap use of the run, the simulated disk's contents left out.
std::size_t liveBytes = 0, peakBytes = 0;

std::string Utf8(const std::string& gbk) {
  const std::string utf8 = sim::Recode("UTF-8", "CP936", gbk);
  return utf8.empty() ? gbk : utf8;
}

// ANSI colours for a console attribute (the console's colour bits are BGR).
std::string Sgr(unsigned attributes) {
  static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  unsigned fg = attributes & 0xF, bg = attributes >> 4 & 0xF;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "\x1b[%d;%dm", (fg & 8 ? 90 : 30) + kAnsi[fg & 7],
                (bg & 8 ? 100 : 40) + kAnsi[bg & 7]);
  return buffer;
}

void InstallGame(sim::Machine& machine, std::size_t assemblySize, bool adminOnly) {
  const std::string folder = "D:\\Games\\Thistlegarden\\";
  machine.drives.targets['D'] = u"\\Device\\HarddiskVolume4";
  machine.files.AddFile(folder + "Thistlegarden.exe", "MZ game");
  machine.files.AddFile(folder + "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll",
                        std::string(assemblySize, 'o'));
  win::DWORD pid = machine.processes.Add(
      "Thistlegarden.exe", u"\\Device\\HarddiskVolume4\\Games\\Thistlegarden\\Thistlegarden.exe");
  machine.windows.AddForeign("Thistlegarden", "UnityWndClass", pid);
  if (adminOnly) {
    machine.files.Find(folder + "Thistlegarden_Data\\Managed")->adminOnly = true;
    machine.files.Find(folder + "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll")->adminOnly = true;
  }
  machine.user.answers = {1};  // OK to the version question
}

}  // namespace

// The counting allocator hands out malloc'ed blocks with a size header.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
  if (!block) throw std::bad_alloc();
  *block = sim::CopyingDiskContents() ? 0 : size;
  liveBytes += *block;
  if (liveBytes > peakBytes) peakBytes = liveBytes;
  return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}
void operator delete(void* p) noexcept {
  if (!p) return;
  auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(p) - sizeof(std::max_align_t));
  liveBytes -= *block;
  std::free(block);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

struct Options {
  bool game = true;
  std::size_t assemblySize = 3240100;
  const char* pick = nullptr;
  bool adminOnly = false;
  bool declined = false;
};

// False, with the usage said, for arguments it does not take.
bool ReadOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (std::strcmp(argv[i], "--no-game") == 0) {
      options.game = false;
    } else if (std::strcmp(argv[i], "--assembly-size") == 0 && value) {
      options.assemblySize = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--pick") == 0 && value) {
      options.pick = argv[++i];
    } else if (std::strcmp(argv[i], "--admin-only") == 0) {
      options.adminOnly = true;
    } else if (std::strcmp(argv[i], "--consent") == 0 && value &&
               (std::strcmp(argv[i + 1], "declined") == 0 || std::strcmp(argv[i + 1], "granted") == 0)) {
      options.declined = std::strcmp(argv[++i], "declined") == 0;
    } else {
      std::fprintf(stderr, "usage: %s [--no-game] [--assembly-size N] [--pick LABEL] [--admin-only] "
                           "[--consent granted|declined]\n", argv[0]);
      return false;
    }
  }
  return true;
}

void Prepare(sim::Machine& machine, const Options& options) {
  if (options.game) InstallGame(machine, options.assemblySize, options.adminOnly);
  if (options.declined) machine.elevation.consent = sim::Elevation::Consent::kDeclined;
  // The program itself, for the copy it starts with an administrator's rights.
  machine.elevation.program = [&machine] { return static_cast<win::UINT>(ProgramEntry(machine)); };
  if (options.pick) {
    // Cancel to the confirmation, when the size asks one; OK to picking by hand.
    const bool confirmation = !VersionForSizeCode(
        AssemblySizeCode(static_cast<std::int32_t>(options.assemblySize))).empty();
    machine.user.answers = confirmation ? std::deque<int>{2, 1} : std::deque<int>{1};
    machine.user.actions = {{sim::ScriptedUser::Action::kPick, options.pick},
                            {sim::ScriptedUser::Action::kPressOk, ""}};
  }
}

// The console in colour.
void PrintConsole(const sim::Machine& machine) {
  std::string run;
  unsigned current = 0x100;
  for (const auto& cell : machine.console.written) {
    if (cell.attributes != current) {
      std::fputs(Utf8(run).c_str(), stdout);
      run.clear();
      std::fputs(Sgr(cell.attributes).c_str(), stdout);
      current = cell.attributes;
    }
    if (cell.byte != '\r') run += cell.byte;
  }
  std::fputs(Utf8(run).c_str(), stdout);
  std::fputs("\x1b[0m", stdout);
}

// The boxes, the files changed and the processes ended and started.
void PrintWhatChanged(const sim::Machine& machine,
                      const std::map<std::string, sim::FileSystem::Node>& filesBefore) {
  for (const auto& box : machine.dialogs.shown)
    std::printf("[box style 0x%X, title %s, answer %d]\n%s\n", box.style,
                Utf8(box.caption).c_str(), box.result, Utf8(box.text).c_str());
  for (const auto& [key, node] : machine.files.nodes) {
    auto before = filesBefore.find(key);
    if (before == filesBefore.end() || before->second.data != node.data)
      std::printf("[file %s] %s, %zu bytes\n", before == filesBefore.end() ? "created" : "changed",
                  Utf8(node.name).c_str(), node.data.size());
  }
  for (const auto& p : machine.processes.list)
    if (p.startedByProgram || !p.running)
      std::printf("[process %s%s] %s\n", p.startedByProgram ? "started" : "ended",
                  p.elevated ? ", elevated" : "",
                  Utf8(p.startedByProgram ? p.commandLine : p.exeName).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ReadOptions(argc, argv, options)) return 2;
  sim::Machine machine;
  Prepare(machine, options);
  const auto filesBefore = machine.files.nodes;
  const std::size_t baseline = liveBytes;
  peakBytes = liveBytes;
  int code = ProgramEntry(machine);
  const std::size_t runPeak = peakBytes - baseline;
  PrintConsole(machine);
  PrintWhatChanged(machine, filesBefore);
  std::printf("exit code %d, %llu ms of delays, %zu platform calls, heap peak %zu bytes\n", code,
              machine.clock.slept, machine.faults.calls.size(), runPeak);
  return code;
}
