#include "app/elevation.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/own_patch.h"
#include "discovery/image_path.h"

#include "fsproc/file_ops.h"
#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/version_id.h"
#include "install/versions.h"
#include "runtime/handles.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

constexpr std::size_t kLongestNumber = 20;
constexpr std::size_t kLongestLabel = 24;
constexpr win::DWORD kModuleRoom = 32768;
constexpr win::DWORD kProcessRights = win::PROCESS_QUERY_LIMITED_INFORMATION | win::SYNCHRONIZE;
constexpr std::string_view kGameImageName = "thistlegarden.exe";

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// The ASCII text of `units`, or nothing when one of them is not ASCII or
// not in `allowed` (any printable character when empty).
std::optional<Text> Narrow(std::u16string_view units, std::string_view allowed,
                           std::size_t longest) {
  if (units.empty() || units.size() > longest) return std::nullopt;
  Text text;
  for (char16_t unit : units) {
    if (unit <= 0x20 || unit >= 0x7F) return std::nullopt;
    const char c = static_cast<char>(unit);
    if (!allowed.empty() && allowed.find(c) == std::string_view::npos) return std::nullopt;
    text += c;
  }
  return text;
}

std::optional<std::uint64_t> Number(std::u16string_view units) {
  const std::optional<Text> digits = Narrow(units, "0123456789", kLongestNumber);
  if (!digits || (digits->size() > 1 && digits->front() == '0')) return std::nullopt;
  std::uint64_t n = 0;
  for (char digit : *digits) {
    const std::uint64_t next = n * 10 + static_cast<std::uint64_t>(digit - '0');
    if (next / 10 != n) return std::nullopt;
    n = next;
  }
  return n;
}

// What the asking run hands over: who it is and which game it found, by
// process ID and start time, and the version the player confirmed. Never a
// path: the elevated part finds the folder itself.
struct Facts {
  win::DWORD askerId = 0;
  std::uint64_t askerStart = 0;
  win::DWORD gameId = 0;
  std::uint64_t gameStart = 0;
  Text label;
  std::int64_t size = -1;
  ElevatedWork work = ElevatedWork::kPatch;
};

// "--elevated-part ASKER START GAME START [restore] LABEL SIZE".
std::optional<Facts> ReadFacts(win::WCHAR** argv, int count) {
  const bool restore = count == 9 && std::u16string_view(argv[6]) == kElevatedRestoreWord;
  if (count != 8 && !restore) return std::nullopt;
  const int labelAt = restore ? 7 : 6;
  std::optional<std::uint64_t> numbers[5];
  for (int i = 0; i < 4; ++i) numbers[i] = Number(argv[2 + i]);
  numbers[4] = Number(argv[labelAt + 1]);
  const std::optional<Text> label = Narrow(argv[labelAt], "", kLongestLabel);
  for (const auto& n : numbers)
    if (!n) return std::nullopt;
  if (!label || *numbers[0] > 0xFFFFFFFFu || *numbers[2] > 0xFFFFFFFFu ||
      *numbers[4] > static_cast<std::uint64_t>(INT64_MAX))
    return std::nullopt;
  return Facts{static_cast<win::DWORD>(*numbers[0]), *numbers[1], static_cast<win::DWORD>(*numbers[2]),
               *numbers[3], *label, static_cast<std::int64_t>(*numbers[4]),
               restore ? ElevatedWork::kRestore : ElevatedWork::kPatch};
}

std::uint64_t StartTime(win::Api& api, win::HANDLE process) {
  win::FILETIME times[4] = {};
  if (!api.GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3])) return 0;
  return (std::uint64_t{times[0].dwHighDateTime} << 32) | times[0].dwLowDateTime;
}

// Another account's process (an administrator elevating for a standard
// user) opens only with the debug privilege. A process that has ended is
// refused unless `ended` allows it (one whose handle another holds keeps
// its ID, start time and image).
UniqueHandle OpenRunningProcess(win::Api& api, win::DWORD processId, bool ended = false) {
  win::BOOL wasEnabled = win::FALSE;
  api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::TRUE, win::FALSE, &wasEnabled);
  UniqueHandle process(api, api.OpenProcess(kProcessRights, win::FALSE, processId));
  api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, wasEnabled, win::FALSE, &wasEnabled);
  if (process && !ended && api.WaitForSingleObject(process.get(), 0) != win::WAIT_TIMEOUT) process.reset();
  return process;
}

win::DWORD ParentId(win::Api& api) {
  win::PROCESS_BASIC_INFORMATION info{};
  win::ULONG length = 0;
  if (api.NtQueryInformationProcess(api.GetCurrentProcess(), win::ProcessBasicInformation, &info,
                                    sizeof(info), &length) != win::STATUS_SUCCESS)
    return 0;
  return static_cast<win::DWORD>(info.InheritedFromUniqueProcessId);
}

// The run that asked, open: this copy's parent, running, started before it
// and at the time it said, and the same program file. Empty otherwise.
UniqueHandle AskingRun(win::Api& api, const Facts& facts) {
  if (facts.askerId == 0 || ParentId(api) != facts.askerId) return UniqueHandle(api, 0);
  UniqueHandle asker = OpenRunningProcess(api, facts.askerId);
  if (!asker) return asker;
  const std::uint64_t started = StartTime(api, asker.get());
  const Text ownImage = GetOpenProcessImagePath(api, api.GetCurrentProcess(), kPathCodePage);
  if (!(started != 0 && started == facts.askerStart && started < StartTime(api, api.GetCurrentProcess()) &&
        !ownImage.empty() && GetOpenProcessImagePath(api, asker.get(), kPathCodePage) == ownImage))
    asker.reset();
  return asker;
}

bool SameNameAnyCase(std::string_view name, std::string_view lower) {
  if (name.size() != lower.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// The folder of the game that runs, from its own process: "X:\...\" on a
// drive letter this copy sees; empty when the process is gone, another one
// now, or not the game. For a restore the asking run has ended the game
// and holds it: its process is still the game's.
Text RunningGameFolder(win::Api& api, const Facts& facts) {
  const UniqueHandle game = OpenRunningProcess(api, facts.gameId, facts.work == ElevatedWork::kRestore);
  if (!game || StartTime(api, game.get()) != facts.gameStart) return Text();
  const Text image = GetOpenProcessImagePath(api, game.get(), kPathCodePage);
  const Text folder = PathFolderPart(image);
  if (folder.empty() || !SameNameAnyCase(std::string_view(image).substr(folder.size()), kGameImageName))
    return Text();
  return folder;
}

// Only a drive of this machine's own: "X:\" followed by a path, on a fixed
// (or RAM) disk. A network share, a letter this session lacks, a device
// path or a relative one is not.
bool OnLocalDrive(win::Api& api, const Text& folder) {
  const auto letter = static_cast<unsigned char>(folder.empty() ? 0 : folder[0]);
  if (folder.size() < 3 || !((letter | 0x20) >= 'a' && (letter | 0x20) <= 'z') || folder[1] != ':' ||
      folder[2] != '\\')
    return false;
  const win::WCHAR root[4] = {static_cast<win::WCHAR>(letter), u':', u'\\', 0};
  const win::UINT type = api.GetDriveTypeW(root);
  return type == win::DRIVE_FIXED || type == win::DRIVE_RAMDISK;
}

// Every folder from below the drive's root down to `last` (ending in "\"),
// held open for as long as this lives: opened without following links and
// without delete sharing, so that none is a junction or symbolic link, and
// none can be renamed, removed or swapped for one while the files in them
// are worked on.
class HeldFolders {
 public:
  HeldFolders(win::Api& api, const Text& last) {
    const WideText wide = TrimWideAtNul(TextToWide(api, last, kPathCodePage), false);
    const std::u16string units = WideToUnits(wide);
    held_ = !units.empty() && units.back() == u'\\';
    for (std::size_t end = units.find(u'\\', 3); held_ && end != std::u16string::npos;
         end = units.find(u'\\', end + 1))
      held_ = Hold(api, units.substr(0, end));
    if (held_) last_ = units.substr(0, units.size() - 1);
  }
  bool held() const { return held_; }
  // The last folder, without its "\\".
  const std::u16string& last() const { return last_; }

 private:
  bool Hold(win::Api& api, const std::u16string& folder) {
    UniqueFileHandle handle(api, api.CreateFileW(folder.c_str(), win::FILE_LIST_DIRECTORY | win::FILE_READ_ATTRIBUTES,
                                                 win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING,
                                                 win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
    win::BY_HANDLE_FILE_INFORMATION info{};
    if (!handle || !api.GetFileInformationByHandle(handle.get(), &info) ||
        !(info.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & win::FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
    handles_.push_back(std::move(handle));
    return true;
  }
  std::vector<UniqueFileHandle> handles_;
  std::u16string last_;
  bool held_ = false;
};

// Whether the account of the run that asked may change `folder` (add or
// remove what is in it, make it a link, or give itself those rights); true
// too when that cannot be told. Whoever may change the folder can swap a
// name in it for a link between this copy's checks and its writes.
bool AskerMayChange(win::Api& api, win::HANDLE asker, const std::u16string& folder) {
  static constexpr win::DWORD kRights[] = {win::FILE_ADD_FILE, win::FILE_ADD_SUBDIRECTORY, win::FILE_DELETE_CHILD,
                                           win::FILE_WRITE_ATTRIBUTES, win::WRITE_DAC, win::WRITE_OWNER};
  // Another account's token (an administrator elevating for a standard
  // user) opens only with the debug privilege.
  win::HANDLE token = 0;
  win::BOOL wasEnabled = win::FALSE;
  api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::TRUE, win::FALSE, &wasEnabled);
  const win::BOOL opened = api.OpenProcessToken(asker, win::TOKEN_QUERY | win::TOKEN_DUPLICATE, &token);
  api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, wasEnabled, win::FALSE, &wasEnabled);
  if (!opened) return true;
  const UniqueHandle owned(api, token);
  if (!api.ImpersonateLoggedOnUser(token)) return true;
  bool may = false;
  for (const win::DWORD right : kRights) {
    const UniqueFileHandle probe(
        api, api.CreateFileW(folder.c_str(), right, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
                             win::OPEN_EXISTING, win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
    if (probe || api.GetLastError() != win::ERROR_ACCESS_DENIED) {
      may = true;
      break;
    }
  }
  // A thread still acting as the other account does nothing more.
  return !api.RevertToSelf() || may;
}

// The original put back: what is put back and what it goes over are
// checked against their digests here, whatever the command line said.
int RestoreInPart(win::Api& api, const Text& folder, const Text& assemblyPath, const Text& label) {
  KeptOriginalFound kept;
  const ReplaceResult result = RestoreOriginal(api, folder, assemblyPath, PatchOfLabel(label), &kept);
  if (result) return static_cast<int>(kElevatedReplaced);
  switch (kept.state) {
    case KeptOriginalFound::kNone:
    case KeptOriginalFound::kGone:
    case KeptOriginalFound::kChanged: return static_cast<int>(kElevatedNoOriginal);
    case KeptOriginalFound::kAssemblyChanged: return static_cast<int>(kElevatedChanged);
    default: break;
  }
  return static_cast<int>(result.error != 0 && result.error < kElevatedReplaced ? result.error : kElevatedFailed);
}

int ElevatedPart(win::Api& api, win::WCHAR** argv, int count) {
  const std::optional<Facts> facts = ReadFacts(argv, count);
  const UniqueHandle asker = facts ? AskingRun(api, *facts) : UniqueHandle(api, 0);
  if (!asker) return static_cast<int>(kElevatedRefused);
  if (!FindPayload(facts->label)) return static_cast<int>(kElevatedRefused);
  const bool restore = facts->work == ElevatedWork::kRestore;
  const Text folder = RunningGameFolder(api, *facts);
  if (folder.empty()) return static_cast<int>(kElevatedGameGone);
  if (!OnLocalDrive(api, folder)) return static_cast<int>(kElevatedNotLocal);
  const Text assemblyPath = GameAssemblyPath(folder);
  const HeldFolders held(api, PathFolderPart(assemblyPath));
  if (!held.held()) return static_cast<int>(kElevatedLinked);
  if (AskerMayChange(api, asker.get(), held.last())) return static_cast<int>(kElevatedMayChange);
  const Bytes payload = restore ? Bytes() : DecodedPayload(facts->label);
  if (!restore && payload.empty()) return static_cast<int>(kElevatedDamaged);
  const PatchedAssemblies patches = GamePatches();
  // An original an earlier run set aside goes back first: the size the run
  // identified may be the aside's.
  RemoveLeftovers(api, kPathCodePage, patches, folder, assemblyPath);
  const FileLookup assembly = LookUpFile(api, assemblyPath);
  if (!assembly.found() || assembly.size != facts->size) return static_cast<int>(kElevatedChanged);
  if (restore) return RestoreInPart(api, folder, assemblyPath, facts->label);
  const ReplaceResult result = WritePatchedAssembly(api, kPathCodePage, patches, folder, assemblyPath,
                                                    facts->label, assembly, payload);
  if (result) return static_cast<int>(kElevatedReplaced);
  return static_cast<int>(result.error != 0 && result.error < kElevatedReplaced ? result.error
                                                                                : kElevatedFailed);
}

std::u16string OwnPath(win::Api& api) {
  std::u16string path(kModuleRoom, u'\0');
  const win::DWORD n = api.GetModuleFileNameW(0, path.data(), kModuleRoom);
  if (n == 0 || n >= kModuleRoom) return {};
  path.resize(n);
  return path;
}

std::u16string Decimal(std::uint64_t n) { return Ascii(std::to_string(n)); }

// Whether a process's token has an administrator's rights in force.
std::optional<bool> TokenElevated(win::Api& api, win::HANDLE process) {
  win::HANDLE token = 0;
  if (!api.OpenProcessToken(process, win::TOKEN_QUERY, &token)) return std::nullopt;
  UniqueHandle owned(api, token);
  win::TOKEN_ELEVATION elevation{};
  win::DWORD length = 0;
  if (!api.GetTokenInformation(token, win::TokenElevation, &elevation, sizeof(elevation), &length))
    return std::nullopt;
  return elevation.TokenIsElevated != 0;
}

}  // namespace

PatchedAssemblies GamePatches() {
  static const std::array<PatchDigest, kKnownVersionCount> payloads = [] {
    std::array<PatchDigest, kKnownVersionCount> digests;
    for (std::size_t i = 0; i < digests.size(); ++i) {
      const PayloadInfo* payload = FindPayload(kKnownVersions[i].label);
      digests[i] = {payload->byteCount, payload->digest};
    }
    return digests;
  }();
  return {payloads, kKeptOriginalPart, kKeptOriginalEnd, kKeptOriginalDraftPart, kAsideSuffix, kKeptRecordPart,
          ExpectedPayloadDigest};
}

std::optional<int> RunElevatedPartIfAsked(win::Api& api) {
  const win::WCHAR* line = api.GetCommandLineW();
  const std::u16string_view whole = line ? line : u"";
  int count = 0;
  win::WCHAR** argv = api.CommandLineToArgvW(line, &count);
  if (!argv) {
    // Unread, a command line that names the part is never taken for a run.
    if (whole.find(kElevatedPartSwitch) != std::u16string_view::npos)
      return static_cast<int>(kElevatedRefused);
    return std::nullopt;
  }
  UniqueLocal owned(api, argv);
  if (count < 2 || std::u16string_view(argv[1]) != kElevatedPartSwitch) return std::nullopt;
  return ElevatedPart(api, argv, count);
}

bool RunsElevated(win::Api& api) { return TokenElevated(api, api.GetCurrentProcess()).value_or(false); }

ShellRights DesktopShellRights(win::Api& api) {
  const win::HWND shell = api.GetShellWindow();
  win::DWORD processId = 0;
  if (!shell || !api.GetWindowThreadProcessId(shell, &processId) || processId == 0)
    return ShellRights::kNoShell;
  // A shell this run cannot read is another account's: not elevated.
  const UniqueHandle process = OpenRunningProcess(api, processId);
  const std::optional<bool> elevated = process ? TokenElevated(api, process.get()) : std::nullopt;
  return elevated.value_or(false) ? ShellRights::kElevated : ShellRights::kNotElevated;
}

namespace {

ElevationResult AskElevatedPart(win::Api& api, ElevatedWork work, win::DWORD gameId, win::HANDLE heldGame,
                                const Text& label, std::int64_t size, void (*waiting)(void*), void* context) {
  const std::u16string program = OwnPath(api);
  const std::uint64_t ownStart = StartTime(api, api.GetCurrentProcess());
  const UniqueHandle opened = heldGame ? UniqueHandle(api, 0) : OpenRunningProcess(api, gameId);
  const win::HANDLE game = heldGame ? heldGame : opened.get();
  const std::uint64_t gameStart = game ? StartTime(api, game) : 0;
  if (program.empty() || ownStart == 0 || gameStart == 0)
    return {ElevationResult::kNotStarted, api.GetLastError()};
  const std::u16string parameters =
      std::u16string(kElevatedPartSwitch) + u" " + Decimal(api.GetCurrentProcessId()) + u" " +
      Decimal(ownStart) + u" " + Decimal(gameId) + u" " + Decimal(gameStart) + u" " +
      (work == ElevatedWork::kRestore ? std::u16string(kElevatedRestoreWord) + u" " : std::u16string()) +
      Ascii(label) + u" " + Decimal(static_cast<std::uint64_t>(size));
  win::SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = win::SEE_MASK_NOCLOSEPROCESS | win::SEE_MASK_NOASYNC | win::SEE_MASK_FLAG_NO_UI;
  info.lpVerb = u"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = win::SW_HIDE;
  if (!api.ShellExecuteExW(&info)) {
    const win::DWORD error = api.GetLastError();
    return {error == win::ERROR_CANCELLED ? ElevationResult::kDeclined : ElevationResult::kNotStarted,
            error};
  }
  UniqueHandle process(api, info.hProcess);
  if (!process) return {ElevationResult::kUnknown, 0};
  // The copy's own waits are bounded, but while it may still write this run
  // keeps its one-run guard: after a while it says so and waits on.
  win::DWORD waited = api.WaitForSingleObject(process.get(), kElevatedPartWait);
  if (waited == win::WAIT_TIMEOUT) {
    if (waiting) waiting(context);
    waited = api.WaitForSingleObject(process.get(), win::INFINITE);
  }
  win::DWORD code = 0;
  if (waited != win::WAIT_OBJECT_0 || !api.GetExitCodeProcess(process.get(), &code))
    return {ElevationResult::kUnknown, 0};
  if (code == kElevatedReplaced) return {ElevationResult::kReplaced, 0};
  return {ElevationResult::kFailed, code};
}

}  // namespace

ElevationResult ReplaceAsAdministrator(win::Api& api, win::DWORD gameId, const Text& label, std::int64_t size,
                                       void (*waiting)(void*), void* context) {
  return AskElevatedPart(api, ElevatedWork::kPatch, gameId, 0, label, size, waiting, context);
}

ElevationResult RestoreAsAdministrator(win::Api& api, win::DWORD gameId, win::HANDLE game, const Text& label,
                                       std::int64_t size, void (*waiting)(void*), void* context) {
  if (!game) return {ElevationResult::kNotStarted, win::ERROR_INVALID_HANDLE};
  return AskElevatedPart(api, ElevatedWork::kRestore, gameId, game, label, size, waiting, context);
}
