#include "fsproc/assembly_replacement.h"

#include <algorithm>

#include "fsproc/file_ops.h"
#include "runtime/sha256.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

Text KeptName(std::string_view label, std::int32_t n) {
  return ConcatTexts(label, n > 1 ? ConcatTexts("-", ValueToText(n)) : Text());
}

Text KeptOriginalPath(const PatchedAssemblies& patches, const Text& gameFolder, std::string_view keptName) {
  return ConcatTexts(JoinPath(gameFolder, patches.keptOriginalPart), keptName, patches.keptOriginalEnd);
}

namespace {

Text KeptOriginalPath(const PatchedAssemblies& patches, const Text& gameFolder, const Text& label,
                      std::int32_t n) {
  return KeptOriginalPath(patches, gameFolder, KeptName(label, n));
}

// The kept original `keptAs` of `label` holds `original`, and `label`'s
// payload is written over it: so says the record, before the swap.
bool RecordKept(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches, const Text& gameFolder,
                const Text& label, std::int32_t keptAs, std::string_view original, LockWait* wait) {
  if (patches.recordPart.empty()) return true;
  const unsigned char* payload = patches.digestOf ? patches.digestOf(label) : nullptr;
  if (!payload) return false;
  KeptEntry entry{KeptName(label, keptAs), Sha256(original), label, {}};
  std::copy(payload, payload + entry.payload.size(), entry.payload.begin());
  const Text path = JoinPath(gameFolder, patches.recordPart);
  return RecordKeptOriginal(api, codePage, path, ConcatTexts(path, kNewFileSuffix), entry, wait);
}

}  // namespace

bool IsPayload(const PatchedAssemblies& patches, std::string_view bytes) {
  for (const PatchDigest& payload : patches.payloads)
    if (payload.size == bytes.size() && BytesHaveDigest(bytes, payload.sha256)) return true;
  return false;
}

bool KeepOriginal(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                  const Text& gameFolder, const Text& label, std::string_view original,
                  LockWait* wait, std::int32_t* keptAs) {
  if (IsPayload(patches, original)) return false;
  for (std::int32_t n = 1; n <= 9; ++n) {
    const Text path = KeptOriginalPath(patches, gameFolder, label, n);
    const FileLookup kept = LookUpFile(api, path);
    if (keptAs) *keptAs = n;
    if (kept.missing())
      return WriteBesideAndSwap(api, codePage, JoinPath(gameFolder, patches.keptDraftPart), path,
                                {original}, false, wait);
    if (!kept.found()) return false;
    if (static_cast<std::uint64_t>(kept.size) == original.size() && FileHolds(api, path, original, wait))
      return true;
  }
  return false;
}

win::DWORD RemoveLeftovers(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                     const Text& gameFolder, const Text& assemblyPath) {
  // Either removal may fail; the file is then truncated by the next write of
  // that name, or removed by the next run.
  RemoveFile(api, ConcatTexts(assemblyPath, kNewFileSuffix));
  RemoveFile(api, JoinPath(gameFolder, patches.keptDraftPart));
  if (!patches.recordPart.empty()) RemoveFile(api, ConcatTexts(JoinPath(gameFolder, patches.recordPart), kNewFileSuffix));
  // An earlier build that stopped after setting the original aside left no
  // assembly: only then does the aside go back, by a move that replaces
  // nothing. Beside an assembly it is left alone; nothing is known of it.
  const Text aside = ConcatTexts(assemblyPath, patches.asideSuffix);
  if (!LookUpFile(api, aside).found() || !LookUpFile(api, assemblyPath).missing()) return 0;
  const WideText from = TextToWide(api, aside, codePage);
  const WideText to = TextToWide(api, assemblyPath, codePage);
  if (from.empty() || to.empty()) return 0;
  if (api.MoveFileExW(WideArg(from).get(), WideArg(to).get(), win::MOVEFILE_WRITE_THROUGH)) return 0;
  return api.GetLastError();
}

ReplaceResult WritePatchedAssembly(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                                   const Text& gameFolder, const Text& path, const Text& label,
                                   const FileLookup& identified, std::string_view payload) {
  // A look-up that failed says nothing: the original may be there.
  const FileLookup now = LookUpFile(api, path);
  if (identified.state == FileLookup::kFailed || now != identified) return {};
  LockWait wait(api);
  const auto failed = [&wait]() -> ReplaceResult {
    return {wait.refused() ? ReplaceResult::kNeedsRights : ReplaceResult::kFailed, wait.error()};
  };
  const Text newPath = ConcatTexts(path, kNewFileSuffix);
  if (now.missing()) {
    // No original: a file that appears meanwhile is not replaced.
    if (!WriteBesideAndSwap(api, codePage, newPath, path, {payload}, false, &wait)) return failed();
    if (FileHolds(api, path, payload, &wait)) return {ReplaceResult::kReplaced};
    RemoveFile(api, path);
    return failed();
  }
  // An original that cannot be read could not be put back, nor kept.
  Bytes original;
  if (static_cast<std::uint64_t>(now.size) > kOriginalLimit ||
      !ReadWholeFile(api, path, &original, kOriginalLimit, &wait,
                     static_cast<std::size_t>(now.size)) ||
      original.size() != static_cast<std::uint64_t>(now.size))
    return failed();
  // Nothing is replaced that is not kept, nor without the record of which
  // kept original it replaced.
  std::int32_t keptAs = 0;
  if (!IsPayload(patches, original) &&
      (!KeepOriginal(api, codePage, patches, gameFolder, label, original, &wait, &keptAs) ||
       !RecordKept(api, codePage, patches, gameFolder, label, keptAs, original, &wait)))
    return failed();
  if (!WriteBesideAndSwap(api, codePage, newPath, path, {payload}, true, &wait)) return failed();
  if (FileHolds(api, path, payload, &wait)) return {ReplaceResult::kReplaced};
  // Putting the original back has a wait of its own.
  LockWait restoring(api);
  WriteBesideAndSwap(api, codePage, newPath, path, {original}, true, &restoring);
  return failed();
}

ReplaceResult PutOriginalBack(win::Api& api, std::int32_t codePage, const Text& path, const Text& keptPath,
                              const Sha256Digest& kept, const Sha256Digest& installed, KeptState* state) {
  KeptState ignored;
  KeptState& said = state ? *state : ignored;
  said = KeptState::kWhole;
  LockWait wait(api);
  const auto failed = [&wait]() -> ReplaceResult {
    return {wait.refused() ? ReplaceResult::kNeedsRights : ReplaceResult::kFailed, wait.error()};
  };
  Bytes installedBytes;
  if (!ReadWholeFile(api, path, &installedBytes, kOriginalLimit, &wait)) return failed();
  if (Sha256(installedBytes) != installed) {
    said = KeptState::kNotThePatch;
    return {};
  }
  Bytes original;
  if (!ReadWholeFile(api, keptPath, &original, kOriginalLimit, &wait)) {
    said = LookUpFile(api, keptPath).missing() ? KeptState::kGone : KeptState::kUnreadable;
    return failed();
  }
  if (Sha256(original) != kept) {
    said = KeptState::kChanged;
    return {};
  }
  const Text newPath = ConcatTexts(path, kNewFileSuffix);
  if (!WriteBesideAndSwap(api, codePage, newPath, path, {original}, true, &wait)) return failed();
  if (FileHolds(api, path, original, &wait)) return {ReplaceResult::kReplaced};
  // The patched assembly goes back with a wait of its own.
  LockWait restoring(api);
  WriteBesideAndSwap(api, codePage, newPath, path, {installedBytes}, true, &restoring);
  return failed();
}
