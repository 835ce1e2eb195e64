#include "install/payload_catalogue.h"

// Defined by payload/payloads.S; the asm labels keep the names the same on
// every target (i686 Windows would otherwise add an underscore).
extern "C" const unsigned char tg_payload_0_24g[] __asm__("tg_payload_0_24g");
extern "C" const unsigned char tg_payload_0_25a[] __asm__("tg_payload_0_25a");
extern "C" const unsigned char tg_payload_0_25b[] __asm__("tg_payload_0_25b");
extern "C" const unsigned char tg_payload_0_25c[] __asm__("tg_payload_0_25c");
extern "C" const unsigned char tg_payload_0_25e[] __asm__("tg_payload_0_25e");
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
};

constexpr Entry kAssemblies[] = {
    {"0.24g", {tg_payload_0_24g}}, {"0.25a", {tg_payload_0_25a}}, {"0.25b", {tg_payload_0_25b}},
    {"0.25c", {tg_payload_0_25c}}, {"0.25e", {tg_payload_0_25e}},
};

constexpr PayloadBlob kBeforeImage{tg_payload_before};
constexpr PayloadBlob kAfterImage{tg_payload_after};

}  // namespace

std::uint32_t PayloadBlob::dimensionCount() const { return ReadLittleEndian32(blob); }

std::uint32_t PayloadBlob::byteCount() const { return ReadLittleEndian32(blob + 4); }

std::string_view PayloadBlob::bytes() const {
  return {reinterpret_cast<const char*>(data()), byteCount()};
}

const PayloadBlob* FindPayload(std::string_view label) {
  for (const Entry& entry : kAssemblies)
    if (entry.label == label) return &entry.payload;
  return nullptr;
}

const PayloadBlob& BeforeImage() { return kBeforeImage; }

const PayloadBlob& AfterImage() { return kAfterImage; }
