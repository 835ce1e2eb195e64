#include "install/payload_catalogue.h"

#include "install/versions.h"
#include "runtime/sha256.h"

// Defined by payload/payloads.S; the asm labels keep the names the same on
// every target (i686 Windows would otherwise add an underscore).
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes)                 \
  extern "C" const unsigned char tg_payload_##symbol[] __asm__("tg_payload_" #symbol); \
  extern "C" const unsigned char tg_digest_##symbol[32] __asm__("tg_digest_" #symbol);
#include TG_VERSION_TABLE
#undef TG_VERSION
extern "C" const unsigned char tg_payload_before[] __asm__("tg_payload_before");
extern "C" const unsigned char tg_payload_after[] __asm__("tg_payload_after");

namespace {

std::uint32_t ReadLittleEndian32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

struct Entry {
  std::string_view label;
  PayloadBlob payload;
  const unsigned char* digest;  // SHA-256, from payload/payload_digests.S
};

constexpr Entry kAssemblies[] = {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  {label, {tg_payload_##symbol}, tg_digest_##symbol},
#include TG_VERSION_TABLE
#undef TG_VERSION
};

constexpr PayloadBlob kBeforeImage{tg_payload_before};
constexpr PayloadBlob kAfterImage{tg_payload_after};

}  // namespace


std::uint32_t PayloadBlob::byteCount() const { return ReadLittleEndian32(blob + 4); }

std::string_view PayloadBlob::bytes() const {
  return {reinterpret_cast<const char*>(data()), byteCount()};
}

static const Entry* FindEntry(std::string_view label) {
  for (const Entry& entry : kAssemblies)
    if (entry.label == label) return &entry;
  return nullptr;
}

const PayloadBlob* FindPayload(std::string_view label) {
  const Entry* entry = FindEntry(label);
  return entry ? &entry->payload : nullptr;
}

const unsigned char* ExpectedPayloadDigest(std::string_view label) {
  const Entry* entry = FindEntry(label);
  return entry ? entry->digest : nullptr;
}

bool PayloadIsIntact(std::string_view label) {
  const Entry* entry = FindEntry(label);
  return entry != nullptr && BytesHaveDigest(entry->payload.bytes(), entry->digest);
}

const PayloadBlob& BeforeImage() { return kBeforeImage; }

const PayloadBlob& AfterImage() { return kAfterImage; }
