#include "install/version_id.h"

#include <cstdint>

#include "fsproc/file_ops.h"
#include "install/output_layout.h"
#include "install/versions.h"
#include "runtime/values.h"
#include "ui/message_box.h"

namespace {

constexpr std::int32_t kBoxTimeout = 1000000;
constexpr win::UINT kOkCancelQuestion = 0x21;
constexpr win::UINT kOkCancelWarning = 0x31;

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

VersionChoice IdentifyVersion(win::Api& api, std::int32_t codePage, const Text& folder,
                              PickVersionByHand pickByHand, void* context) {
  FileLookup assembly = LookUpFile(api, GameAssemblyPath(folder));
  // With no assembly, an original an earlier build set aside is what goes
  // back before the write: its size is the one asked about.
  if (assembly.missing()) {
    const FileLookup aside = LookUpFile(api, ConcatTexts(GameAssemblyPath(folder), kAsideSuffix));
    if (aside.found()) assembly = aside;
  }
  Text label = "0.00";
  const KnownVersion* row = assembly.found() ? RowFor(AssemblySizeCode(assembly.size)) : nullptr;
  if (row) {
    if (TimedMessageBox(api, codePage, row->question, kOkCancelQuestion,
                        Text("欧尼酱~这个事情很重要！"), std::nullopt, kBoxTimeout) == 0)
      label = row->label;
  }
  if (CompareText(label, "0.00") == 0) {
    if (TimedMessageBox(api, codePage, "未能成功检测到你的游戏版本，是否手动选择？否则退出。",
                        kOkCancelWarning, Text("欧尼酱！出错啦~"), std::nullopt,
                        kBoxTimeout) != 0)
      return {false, Text(), assembly};
    label = pickByHand(context);
  }
  return {true, label, assembly};
}
