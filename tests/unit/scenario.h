// Simulated machines for whole runs of the installer, and readers of what a
// run left behind.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "install/payload_catalogue.h"
#include "install/versions.h"
#include "platform/sim/machine.h"

namespace scenario {

// The versions of the one table of versions, as the tests read it.
struct Version {
  const char* label;
  std::int32_t sizeCode;
  std::int32_t otherSizeCode;  // 0: none
  const char* payloadFile;
  std::uint32_t payloadBytes;
};
inline constexpr Version kVersions[] = {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  {label, sizeCode, otherSizeCode, file, bytes},
#include TG_VERSION_TABLE
#undef TG_VERSION
};

// The smallest assembly size with `sizeCode` (its size in hundredths of a
// mebibyte, rounded down), worked out in whole numbers.
constexpr long long SmallestWithCode(std::int32_t sizeCode) {
  return (sizeCode * 1048576LL + 99) / 100;
}
constexpr long long LargestWithCode(std::int32_t sizeCode) { return SmallestWithCode(sizeCode + 1) - 1; }
// An assembly size that identifies `version`.
constexpr long long SizeOf(const Version& version) { return SmallestWithCode(version.sizeCode); }

// The version most runs find, and the size of the game's assembly they find.
inline constexpr char kLabel[] = "0.25c";
inline constexpr long long kAssemblySize = 3240100;

inline constexpr char kGameFolder[] = "D:\\Games\\Thistlegarden\\";
inline constexpr char kTemp[] = "C:\\Users\\Player\\AppData\\Local\\Temp\\";
inline constexpr win::UINT kIdOk = 1;
inline constexpr win::UINT kIdCancel = 2;

// Where a run keeps its record, and the line that says so after a failed step.
inline constexpr char kRunLogPath[] =
    "C:\\Users\\Player\\AppData\\Local\\Temp\\Thistlegarden补丁程序\\运行记录1.txt";
inline const std::string kRunLogLine =
    std::string("运行记录已保存到 ") + kRunLogPath + "，求助时请附上这个文件。\r\n";
inline constexpr win::WORD kNoticeAttributes = 0x0E;

struct Line {
  std::string text;
  win::WORD attributes;
  bool operator==(const Line&) const = default;
};

// The console output as runs of one attribute, each ending at a line end.
std::vector<Line> Lines(const sim::ConsoleState& console);

// The console of a good install (tests/expected/good_install.txt) for the
// game's window and process, its path as shown and its file name; the first
// kBannerLines are the banner every run prints.
std::vector<Line> GoodInstallLines(win::HWND window, win::DWORD processId, const std::string& path,
                                   const std::string& name);
inline constexpr std::size_t kBannerLines = 5;

// The text (code page 936, or GB18030 for other characters) as the
// machine's kernel spells it in UTF-16.
std::u16string Wide(sim::Machine& machine, const std::string& text);

struct Game {
  std::string folder = kGameFolder;  // ends in "\"
  std::string exeName = "Thistlegarden.exe";
  win::DWORD processId = 0;
  win::HWND window = 0;

  std::string AssemblyPath() const { return folder + "Thistlegarden_Data\\Managed\\Assembly-CSharp.dll"; }
  std::string ExePath() const { return folder + exeName; }
};

// Installs the game on drive D: (\Device\HarddiskVolume4) with an assembly
// of `assemblySize` bytes (none when negative) and starts it, with or
// without its window.
Game InstallGame(sim::Machine& machine, long long assemblySize, bool withWindow = true,
                 const std::string& folder = kGameFolder);

// Makes the game's Managed folder and its assembly ones only an
// administrator may change, as a game installed under Program Files.
void MakeAdminOnly(sim::Machine& machine, const Game& game);

// A machine started afresh with the disk `survivor` left, the game installed
// there started again (as after a crash and a restart).
Game RestartOn(sim::Machine& machine, const sim::Machine& survivor, bool withWindow = true);
// The same, the survivor's disk moved over rather than copied (a sweep does
// it hundreds of times); the survivor is not looked at again.
Game RestartOn(sim::Machine& machine, sim::Machine&& survivor, bool withWindow = true);

// The name of the player's original of `label` a run keeps beside the
// game's assembly; from the second of a version on, `label` ends in "-" and
// the number.
inline std::string KeptOriginalName(const std::string& label) {
  return "原版Assembly-CSharp-" + label + ".dll.bak";
}
inline std::string KeptOriginalPath(const std::string& gameFolder, const std::string& label) {
  return gameFolder + "Thistlegarden_Data\\Managed\\" + KeptOriginalName(label);
}
// The record of which kept original each patch replaced, beside them.
inline constexpr char kKeptRecordName[] = "原版Assembly-CSharp记录.txt";
// Where a kept original is written first.
inline std::string KeptDraftPath(const std::string& gameFolder) {
  return gameFolder + "Thistlegarden_Data\\Managed\\原版Assembly-CSharp.dll.patch-new";
}

// True when the player's original exists whole on the machine: at
// `assemblyPath` or as a kept original (a file whose name starts with
// "原版Assembly-CSharp-", wherever it lies; a draft never counts).
bool OriginalSomewhere(const sim::Machine& machine, const std::string& assemblyPath,
                       const std::string& original);

// From now on, before every platform call that follows a change to the
// disk, checks OriginalSomewhere; `*lostAt` gets the number of the first
// call before which it did not hold (it stays 0 while it holds). The
// machine and the texts must outlive the run.
void WatchOriginal(sim::Machine& machine, const std::string& assemblyPath,
                   const std::string& original, long* lostAt);

// How many calls of `name` the machine saw.
long CallCount(const sim::Machine& machine, const std::string& name);
// The calls of these names, in the order they were made.
std::vector<std::string> CallsAmong(const sim::Machine& machine,
                                    const std::vector<std::string>& names);

// The bytes of an embedded payload as the program decodes them, decoded once
// (the program under test decodes its own); empty, and not kept, while the
// embedded stream is damaged.
const std::string& PayloadBytes(std::string_view label);
const std::string& ImageBytes(const PayloadInfo& image);

// One byte of the embedded stream that holds a payload flipped in the
// program's own memory (its 1000th, before the payload's end: the bytes the
// stream decodes to from there on differ), as a damaged download or disk
// would leave it; put back when the test ends.
class FlippedPayloadByte {
 public:
  explicit FlippedPayloadByte(const char* label) : FlippedPayloadByte(*FindPayload(label)) {}
  explicit FlippedPayloadByte(const PayloadInfo& payload)
      : byte_(const_cast<unsigned char*>(payload.stream->data()) + 1000) {
    Protect(PROT_READ | PROT_WRITE);
    *byte_ ^= 0x5A;
  }
  ~FlippedPayloadByte() {
    *byte_ ^= 0x5A;
    Protect(PROT_READ);
  }

 private:
  void Protect(int rights) {
    const long page = sysconf(_SC_PAGESIZE);
    auto* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(byte_) & ~std::uintptr_t(page - 1));
    if (mprotect(start, static_cast<std::size_t>(page), rights) != 0) std::abort();
  }
  unsigned char* byte_;
};

// The disk as name -> data ("<folder>" for a folder), without the run's
// records and the folder made for them.
std::map<std::string, std::string> DiskWithoutRunLogs(const sim::Machine& machine);

// The run's transcript pieces.
const sim::FileSystem::Node* File(const sim::Machine& machine, const std::string& path);
std::vector<const sim::ProcessTable::Process*> Started(const sim::Machine& machine);

}  // namespace scenario
