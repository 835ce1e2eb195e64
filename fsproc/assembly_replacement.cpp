#include "fsproc/assembly_replacement.h"

#include "fsproc/file_ops.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

constexpr std::int32_t kTemporaryFiles = 11;

// `root` followed directly by `part`, whatever either holds.
Text Under(std::string_view root, std::string_view part) {
  Text path;
  path.reserve(root.size() + part.size());
  path.append(root);
  path.append(part);
  return path;
}

Text KeptOriginalPath(const PatchedAssemblies& patches, const Text& temp, const Text& label,
                      std::int32_t n) {
  return ConcatTexts(Under(temp, patches.keptOriginalPart), label,
                     n > 1 ? ConcatTexts("-", ValueToText(n)) : Text(), ".dll");
}

}  // namespace

bool IsPayload(const PatchedAssemblies& patches, std::string_view bytes) {
  for (std::string_view payload : patches.payloads)
    if (payload == bytes) return true;
  return false;
}

bool HoldsPayload(win::Api& api, const PatchedAssemblies& patches, const Text& path) {
  const std::int32_t size = QueryFileSize(api, path);
  for (std::string_view payload : patches.payloads) {
    if (static_cast<std::int64_t>(payload.size()) == size && FileHolds(api, path, payload))
      return true;
  }
  return false;
}

bool KeepOriginal(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                  const Text& label, std::string_view original) {
  if (IsPayload(patches, original)) return false;
  const Text temp = SpecialFolderPath(api, kTemporaryFiles);
  MakeDirectoryTree(api, Under(temp, patches.keptFolderPart), codePage);
  for (std::int32_t n = 1; n <= 9; ++n) {
    const Text path = KeptOriginalPath(patches, temp, label.empty() ? Text("未知版本") : label, n);
    const std::int32_t size = QueryFileSize(api, path);
    if (size < 0)
      return WriteBesideAndSwap(api, codePage, Under(temp, patches.keptDraftPart), path,
                                {original}, false);
    if (static_cast<std::size_t>(size) == original.size() && FileHolds(api, path, original))
      return true;
  }
  return false;
}

void RemoveLeftovers(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                     const Text& assemblyPath) {
  // Either removal may fail; the file is then truncated by the next write of
  // that name, or removed by the next run.
  RemoveFile(api, ConcatTexts(assemblyPath, kNewFileSuffix));
  RemoveFile(api, Under(SpecialFolderPath(api, kTemporaryFiles), patches.keptDraftPart));
  const Text aside = ConcatTexts(assemblyPath, patches.asideSuffix);
  const std::int32_t asideSize = QueryFileSize(api, aside);
  if (asideSize < 0) return;
  if (!HoldsPayload(api, patches, assemblyPath)) {
    const WideText from = TextToWide(api, aside, codePage);
    const WideText to = TextToWide(api, assemblyPath, codePage);
    if (!from.empty() && !to.empty())
      api.MoveFileExW(WideArg(from).get(), WideArg(to).get(),
                      win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_WRITE_THROUGH);
    return;
  }
  Bytes original;
  if (ReadWholeFile(api, aside, &original, kOriginalLimit) &&
      (IsPayload(patches, original) ||
       KeepOriginal(api, codePage, patches, patches.labelForSize(asideSize), original)))
    RemoveFile(api, aside);
}

bool WritePatchedAssembly(win::Api& api, std::int32_t codePage, const PatchedAssemblies& patches,
                          const Text& path, const Text& label, std::int32_t assemblySize,
                          std::string_view payload) {
  if (QueryFileSize(api, path) != assemblySize) return false;
  Bytes original;
  // -1: no assembly. Any other size, a negative one (2 GiB or more) too, is
  // an original to read, keep and be able to put back.
  const bool hadOriginal = assemblySize != -1;
  if (hadOriginal) {
    // An original that cannot be read could not be put back.
    if (!ReadWholeFile(api, path, &original, kOriginalLimit) ||
        original.size() != static_cast<std::size_t>(assemblySize))
      return false;
    KeepOriginal(api, codePage, patches, label, original);
  }
  const Text newPath = ConcatTexts(path, kNewFileSuffix);
  if (!WriteBesideAndSwap(api, codePage, newPath, path, {payload}, true)) return false;
  if (FileHolds(api, path, payload)) return true;
  if (hadOriginal)
    WriteBesideAndSwap(api, codePage, newPath, path, {original}, true);
  else
    RemoveFile(api, path);
  return false;
}
