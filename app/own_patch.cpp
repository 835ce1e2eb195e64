#include "app/own_patch.h"

#include <algorithm>

#include "app/elevation.h"
#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/versions.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

Sha256Digest DigestAt(const unsigned char* bytes) {
  Sha256Digest digest{};
  std::copy(bytes, bytes + digest.size(), digest.begin());
  return digest;
}

}  // namespace

std::optional<Sha256Digest> FileDigest(win::Api& api, const Text& path, LockWait* wait) {
  Bytes bytes;
  if (!ReadWholeFile(api, path, &bytes, kOriginalLimit, wait)) return std::nullopt;
  return Sha256(bytes);
}

InstalledPatch PatchOfLabel(const Text& label) {
  const unsigned char* digest = ExpectedPayloadDigest(label);
  if (!digest) return {};
  return {label, DigestAt(digest)};
}

InstalledPatch RecognisePatch(win::Api& api, const Text& assemblyPath, const FileLookup& found) {
  if (!found.found()) return {};
  const bool payloadSize = std::any_of(std::begin(kKnownVersions), std::end(kKnownVersions), [&](const KnownVersion& v) {
    return static_cast<std::int64_t>(v.payloadBytes) == found.size;
  });
  if (!payloadSize) return {};
  LockWait wait(api);
  const std::optional<Sha256Digest> digest = FileDigest(api, assemblyPath, &wait);
  if (!digest) return {};
  for (const KnownVersion& version : kKnownVersions) {
    const InstalledPatch patch = PatchOfLabel(version.label);
    if (patch && patch.digest == *digest) return patch;
  }
  return {};
}

KeptOriginalFound FindKeptOriginal(win::Api& api, const Text& gameFolder, const InstalledPatch& patch) {
  KeptOriginalFound found;
  LockWait wait(api);
  const auto entries = ReadKeptRecord(api, JoinPath(gameFolder, kKeptRecordPart), &wait);
  const std::optional<KeptEntry> entry = entries ? KeptForPatch(*entries, patch.label, patch.digest) : std::nullopt;
  if (!entry) return found;
  found.path = KeptOriginalPath(GamePatches(), gameFolder, entry->kept);
  found.digest = entry->original;
  const std::optional<Sha256Digest> now = FileDigest(api, found.path, &wait);
  found.state = now ? (*now == entry->original ? KeptOriginalFound::kWhole : KeptOriginalFound::kChanged)
                : LookUpFile(api, found.path).missing() ? KeptOriginalFound::kGone
                                                        : KeptOriginalFound::kUnreadable;
  return found;
}

ReplaceResult RestoreOriginal(win::Api& api, const Text& gameFolder, const Text& assemblyPath,
                              const InstalledPatch& patch, KeptOriginalFound* found) {
  KeptOriginalFound ignored;
  KeptOriginalFound& kept = found ? *found : ignored;
  kept = {};
  LockWait wait(api);
  const auto entries = ReadKeptRecord(api, JoinPath(gameFolder, kKeptRecordPart), &wait);
  const std::optional<KeptEntry> entry = entries ? KeptForPatch(*entries, patch.label, patch.digest) : std::nullopt;
  if (!entry) return {};
  kept.path = KeptOriginalPath(GamePatches(), gameFolder, entry->kept);
  kept.digest = entry->original;
  KeptState state = KeptState::kWhole;
  const ReplaceResult result =
      PutOriginalBack(api, kPathCodePage, assemblyPath, kept.path, entry->original, patch.digest, &state);
  static constexpr KeptOriginalFound::State kStates[] = {KeptOriginalFound::kWhole, KeptOriginalFound::kGone,
                                                          KeptOriginalFound::kChanged,
                                                          KeptOriginalFound::kUnreadable,
                                                          KeptOriginalFound::kAssemblyChanged};
  kept.state = kStates[static_cast<int>(state)];
  return result;
}
