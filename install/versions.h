// The game versions the installer knows, from the one table of versions
// (payload/versions.def, or the table the build names in TG_VERSION_TABLE).
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef TG_VERSION_TABLE
#define TG_VERSION_TABLE "payload/versions.def"
#endif

struct KnownVersion {
  const char* label;
  std::int32_t sizeCode;
  std::int32_t otherSizeCode;  // 0: none
  const char* question;        // the confirmation question, whole
  std::uint32_t payloadBytes;  // the size of its patched assembly
};

inline constexpr std::size_t kKnownVersionCount = 0
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) +1
#include TG_VERSION_TABLE
#undef TG_VERSION
    ;

// In the table's order, which is the order they are tested and listed.
extern const KnownVersion kKnownVersions[kKnownVersionCount];
