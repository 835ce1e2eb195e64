#include "app/elevation.h"

#include <array>
#include <string>

#include "fsproc/file_ops.h"
#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/version_id.h"
#include "install/versions.h"
#include "runtime/handles.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

// The mutex by which the asking run lets its elevated part past the one-run
// mutex: it exists only while that run waits for it.
constexpr std::u16string_view kHandshakePrefix = u"Local\\ThistlegardenPatch.Elevated.";
constexpr std::size_t kLongestToken = 24;
constexpr std::size_t kLongestSize = 12;
constexpr win::DWORD kModuleRoom = 32768;

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

// True when the named mutex exists already (it is opened and let go again).
bool MutexExists(win::Api& api, const std::u16string& name) {
  UniqueHandle mutex(api, api.CreateMutexW(win::FALSE, name.c_str()));
  return mutex && api.GetLastError() == win::ERROR_ALREADY_EXISTS;
}

// The facts the asking run hands over, checked where they are used.
struct Facts {
  std::u16string token;
  Text label;
  std::int64_t size = -1;
  Text folder;
};

std::optional<Facts> ReadFacts(win::Api& api, win::WCHAR** argv, int count) {
  if (count != 6) return std::nullopt;
  Facts facts;
  const auto token = Narrow(argv[2], "0123456789-", kLongestToken);
  const auto label = Narrow(argv[3], "", kLongestToken);
  const auto size = Narrow(argv[4], "0123456789", kLongestSize);
  if (!token || !label || !size) return std::nullopt;
  facts.token = Ascii(*token);
  facts.label = *label;
  facts.size = 0;
  for (char digit : *size) facts.size = facts.size * 10 + (digit - '0');
  // The folder as the system spells it; a name that does not come back as
  // itself would be another folder.
  const std::u16string_view folder(argv[5]);
  facts.folder = WideToText(api, UnitsToWide(folder), kPathCodePage);
  const WideText back = TextToWide(api, facts.folder, kPathCodePage);
  if (facts.folder.empty() || facts.folder.back() != '\\' ||
      TrimWideAtNul(back, false) != UnitsToWide(folder))
    return std::nullopt;
  return facts;
}

int ElevatedPart(win::Api& api, win::WCHAR** argv, int count) {
  const std::optional<Facts> facts = ReadFacts(api, argv, count);
  // Only the run that asked, while it waits: the one-run mutex is held and
  // the asking run's own mutex exists.
  if (!facts || !MutexExists(api, kOneRunMutex) ||
      !MutexExists(api, std::u16string(kHandshakePrefix) + facts->token))
    return static_cast<int>(kElevatedRefused);
  const Text assemblyPath = GameAssemblyPath(facts->folder);
  const FileLookup assembly = LookUpFile(api, assemblyPath);
  if (!FindPayload(facts->label) || !assembly.found() || assembly.size != facts->size)
    return static_cast<int>(kElevatedRefused);
  const Bytes payload = DecodedPayload(facts->label);
  if (payload.empty()) return static_cast<int>(kElevatedDamaged);
  const PatchedAssemblies patches = GamePatches();
  RemoveLeftovers(api, kPathCodePage, patches, facts->folder, assemblyPath);
  const ReplaceResult result = WritePatchedAssembly(api, kPathCodePage, patches, facts->folder,
                                                    assemblyPath, facts->label, assembly,
                                                    payload);
  if (result) return static_cast<int>(kElevatedReplaced);
  return static_cast<int>(result.error != 0 && result.error < kElevatedReplaced ? result.error
                                                                                : kElevatedFailed);
}

// A token no other run of the session has while it waits.
std::u16string NewToken(win::Api& api) {
  return Ascii(ConcatTexts(ValueToText(static_cast<std::int32_t>(api.GetCurrentProcessId())), "-",
                           ValueToText(static_cast<std::int32_t>(api.GetTickCount() & 0x7FFFFFFF))));
}

std::u16string OwnPath(win::Api& api) {
  std::u16string path(kModuleRoom, u'\0');
  const win::DWORD n = api.GetModuleFileNameW(0, path.data(), kModuleRoom);
  if (n == 0 || n >= kModuleRoom) return {};
  path.resize(n);
  return path;
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
  return {payloads, kKeptOriginalPart, kKeptOriginalEnd, kKeptOriginalDraftPart, kAsideSuffix};
}

std::u16string QuotedArgument(std::u16string_view argument) {
  std::u16string quoted = u"\"";
  std::size_t slashes = 0;
  for (char16_t unit : argument) {
    if (unit == u'\\') {
      ++slashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(unit == u'"' ? 2 * slashes + 1 : slashes, u'\\');
    slashes = 0;
    quoted += unit;
  }
  quoted.append(2 * slashes, u'\\');
  return quoted + u"\"";
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

ElevationResult ReplaceAsAdministrator(win::Api& api, const Text& gameFolder, const Text& label,
                                       std::int64_t size) {
  const std::u16string token = NewToken(api);
  UniqueHandle handshake(api, api.CreateMutexW(win::FALSE, (std::u16string(kHandshakePrefix) + token).c_str()));
  const std::u16string program = OwnPath(api);
  const std::u16string folder = WideToUnits(TrimWideAtNul(TextToWide(api, gameFolder, kPathCodePage), false));
  if (!handshake || program.empty() || folder.empty())
    return {ElevationResult::kNotStarted, api.GetLastError()};
  const std::u16string parameters = std::u16string(kElevatedPartSwitch) + u" " + token + u" " +
                                    Ascii(label) + u" " + Ascii(std::to_string(size)) +
                                    u" " + QuotedArgument(folder);
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
  win::DWORD code = 0;
  if (process) {
    const win::DWORD waited = api.WaitForSingleObject(process.get(), kElevatedPartWait);
    if (waited != win::WAIT_OBJECT_0)
      code = waited == win::WAIT_TIMEOUT ? waited : api.GetLastError();
    else if (!api.GetExitCodeProcess(process.get(), &code))
      code = api.GetLastError();
    else if (code == kElevatedReplaced)
      return {ElevationResult::kReplaced, 0};
  }
  // What the part did is not known from it: the assembly read back tells.
  if (code != kElevatedRefused && FileIsPayload(api, GameAssemblyPath(gameFolder), label))
    return {ElevationResult::kReplaced, 0};
  return {ElevationResult::kFailed, code};
}
