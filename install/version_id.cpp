#include "install/version_id.h"

#include <cstdint>

#include "fsproc/file_ops.h"
#include "install/output_layout.h"
#include "install/versions.h"
#include "runtime/values.h"

namespace {

// Tested in the table's order.
const KnownVersion* RowFor(std::int32_t sizeCode) {
  for (const KnownVersion& row : kKnownVersions)
    if (sizeCode == row.sizeCode || (row.otherSizeCode != 0 && sizeCode == row.otherSizeCode))
      return &row;
  return nullptr;
}

}  // namespace

std::int32_t AssemblySizeCode(std::int64_t size) {
  if (size > INT32_MAX) return -1;
  return FloorToInt(static_cast<double>(size) / 1048576.0 * 100.0);
}

Text VersionForSizeCode(std::int32_t sizeCode) {
  const KnownVersion* row = RowFor(sizeCode);
  return row ? Text(row->label) : Text();
}

FileLookup LookUpGameAssembly(win::Api& api, const Text& folder) {
  FileLookup assembly = LookUpFile(api, GameAssemblyPath(folder));
  // With no assembly, an original an earlier build set aside is what goes
  // back before the write: its size is the one asked about.
  if (assembly.missing()) {
    const FileLookup aside = LookUpFile(api, ConcatTexts(GameAssemblyPath(folder), kAsideSuffix));
    if (aside.found()) assembly = aside;
  }
  return assembly;
}

VersionChoice IdentifyVersion(win::Api& api, const Text& folder, const VersionQuestions& ask) {
  return IdentifyVersion(LookUpGameAssembly(api, folder), ask);
}

VersionChoice IdentifyVersion(const FileLookup& assembly, const VersionQuestions& ask) {
  Text label = "0.00";
  const KnownVersion* row = assembly.found() ? RowFor(AssemblySizeCode(assembly.size)) : nullptr;
  if (row && ask.confirm(ask.context, row->question)) label = row->label;
  if (CompareText(label, "0.00") == 0) {
    if (!ask.offerPickByHand(ask.context)) return {false, Text(), assembly};
    label = ask.pickByHand(ask.context);
  }
  return {true, label, assembly};
}
