#include "install/version_id.h"

#include "fsproc/file_ops.h"
#include "install/output_layout.h"
#include "runtime/values.h"
#include "ui/message_box.h"

namespace {

constexpr std::int32_t kBoxTimeout = 1000000;
constexpr win::UINT kOkCancelQuestion = 0x21;
constexpr win::UINT kOkCancelWarning = 0x31;

struct VersionRow {
  std::int32_t sizeCode;
  std::int32_t otherSizeCode;  // 0: none
  const char* label;
  const char* question;
};

// Tested in this order.
constexpr VersionRow kVersionTable[] = {
    {276, 0, "0.24g", "识别Assembly-CSharp.dll大小版本自动识别为 0.24g，是否确认为该版本？"},
    {306, 0, "0.25a", "识别Assembly-CSharp.dll大小版本自动识别为 0.25a，是否确认为该版本？"},
    {308, 0, "0.25b", "识别Assembly-CSharp.dll大小版本自动识别为 0.25b，是否确认为该版本？"},
    {309, 0, "0.25c", "识别Assembly-CSharp.dll大小版本自动识别为 0.25c，是否确认为该版本？"},
    {311, 310, "0.25e", "识别Assembly-CSharp.dll大小版本自动识别为 0.25e，是否确认为该版本？"},
};

const VersionRow* RowFor(std::int32_t sizeCode) {
  for (const auto& row : kVersionTable)
    if (sizeCode == row.sizeCode || (row.otherSizeCode != 0 && sizeCode == row.otherSizeCode))
      return &row;
  return nullptr;
}

}  // namespace

std::int32_t AssemblySizeCode(std::int32_t size) {
  return FloorToInt(static_cast<double>(size) / 1048576.0 * 100.0);
}

Text VersionForSizeCode(std::int32_t sizeCode) {
  const VersionRow* row = RowFor(sizeCode);
  return row ? Text(row->label) : Text();
}

VersionChoice IdentifyVersion(win::Api& api, std::int32_t codePage, const Text& folder,
                              PickVersionByHand pickByHand, void* context) {
  std::int32_t size = QueryFileSize(api, GameAssemblyPath(folder));
  Text label = "0.00";
  if (const VersionRow* row = RowFor(AssemblySizeCode(size))) {
    if (TimedMessageBox(api, codePage, row->question, kOkCancelQuestion,
                        Text("欧尼酱~这个事情很重要！"), std::nullopt, kBoxTimeout) == 0)
      label = row->label;
  }
  if (CompareText(label, "0.00") == 0) {
    if (TimedMessageBox(api, codePage, "未能成功检测到你的游戏版本，是否手动选择？否则退出。",
                        kOkCancelWarning, Text("欧尼酱！出错啦~"), std::nullopt,
                        kBoxTimeout) != 0)
      return {false, Text()};
    label = pickByHand(context);
  }
  return {true, label, size};
}
