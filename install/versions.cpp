#include "install/versions.h"

const KnownVersion kKnownVersions[kKnownVersionCount] = {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  {label, sizeCode, otherSizeCode,                                      \
   "识别Assembly-CSharp.dll大小版本自动识别为 " label "，是否确认为该版本？", bytes},
#include TG_VERSION_TABLE
#undef TG_VERSION
};
