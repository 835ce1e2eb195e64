#include "install/payload_catalogue.h"

#include "fsproc/file_ops.h"
#include "install/versions.h"
#include "runtime/sha256.h"

// Defined by payload/payloads.S and payload/packed/payload_index.S; the asm
// labels keep the names the same on every target (i686 Windows would
// otherwise add an underscore). A stream's method and decoded size are two
// 32-bit words.
#define TG_ASM(name) __asm__(#name)
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  extern "C" const unsigned char tg_digest_##symbol[32] TG_ASM(tg_digest_##symbol);
#include TG_VERSION_TABLE
#undef TG_VERSION
extern "C" const unsigned char tg_payload_before[] TG_ASM(tg_payload_before);
extern "C" const unsigned char tg_payload_after[] TG_ASM(tg_payload_after);
extern "C" const unsigned char tg_digest_before[32] TG_ASM(tg_digest_before);
extern "C" const unsigned char tg_digest_after[32] TG_ASM(tg_digest_after);
extern "C" const std::uint32_t tg_stream_before[2] TG_ASM(tg_stream_before);
extern "C" const std::uint32_t tg_stream_after[2] TG_ASM(tg_stream_after);
#if TG_PAYLOADS_COMPRESSED
extern "C" const unsigned char tg_payload_assemblies[] TG_ASM(tg_payload_assemblies);
extern "C" const std::uint32_t tg_stream_assemblies[2] TG_ASM(tg_stream_assemblies);
#else
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  extern "C" const unsigned char tg_payload_##symbol[] TG_ASM(tg_payload_##symbol);
#include TG_VERSION_TABLE
#undef TG_VERSION
#endif

namespace {

std::uint32_t ReadLittleEndian32(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

struct Entry {
  std::string_view label;
  PayloadInfo payload;
};

// The assemblies' sizes in the table's order, and where each starts in the
// solid stream (they follow each other there).
constexpr std::uint32_t kSizes[] = {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) bytes,
#include TG_VERSION_TABLE
#undef TG_VERSION
};
constexpr std::uint64_t OffsetOf(std::size_t index) {
  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < index; ++i) offset += kSizes[i];
  return offset;
}

// A stream's method and decoded size, from its two words.
StreamMethod MethodIn(const std::uint32_t* words) { return static_cast<StreamMethod>(words[0]); }

#if TG_PAYLOADS_COMPRESSED
constexpr PayloadBlob kAssemblyStream{tg_payload_assemblies};
#define TG_STREAM_OF(symbol, index) \
  &kAssemblyStream, MethodIn(tg_stream_assemblies), tg_stream_assemblies[1], OffsetOf(index)
#else
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  constexpr PayloadBlob kStream_##symbol{tg_payload_##symbol};
#include TG_VERSION_TABLE
#undef TG_VERSION
#define TG_STREAM_OF(symbol, index) \
  &kStream_##symbol, StreamMethod::kStored, kStream_##symbol.byteCount(), 0
#endif

enum : std::size_t {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) kIndex_##symbol,
#include TG_VERSION_TABLE
#undef TG_VERSION
};

const Entry kAssemblies[] = {
#define TG_VERSION(symbol, label, sizeCode, otherSizeCode, file, bytes) \
  {label, {TG_STREAM_OF(symbol, kIndex_##symbol), bytes, tg_digest_##symbol}},
#include TG_VERSION_TABLE
#undef TG_VERSION
};

constexpr PayloadBlob kBeforeStream{tg_payload_before};
constexpr PayloadBlob kAfterStream{tg_payload_after};
const PayloadInfo kBeforeImage{&kBeforeStream, MethodIn(tg_stream_before), tg_stream_before[1], 0,
                               tg_stream_before[1], tg_digest_before};
const PayloadInfo kAfterImage{&kAfterStream, MethodIn(tg_stream_after), tg_stream_after[1], 0,
                              tg_stream_after[1], tg_digest_after};

StreamDecoder decoder = DecodeStreamPart;

const Entry* FindEntry(std::string_view label) {
  for (const Entry& entry : kAssemblies)
    if (entry.label == label) return &entry;
  return nullptr;
}

}  // namespace

std::uint32_t PayloadBlob::byteCount() const { return ReadLittleEndian32(blob + 4); }

std::string_view PayloadBlob::bytes() const {
  return {reinterpret_cast<const char*>(data()), byteCount()};
}

const PayloadInfo* FindPayload(std::string_view label) {
  const Entry* entry = FindEntry(label);
  return entry ? &entry->payload : nullptr;
}

const unsigned char* ExpectedPayloadDigest(std::string_view label) {
  const Entry* entry = FindEntry(label);
  return entry ? entry->payload.digest : nullptr;
}

void SetStreamDecoder(StreamDecoder chosen) { decoder = chosen ? chosen : DecodeStreamPart; }

Bytes DecodedPayload(const PayloadInfo& payload) {
  Bytes bytes;
  if (!decoder(payload.stream->bytes(), payload.method, payload.streamSize, payload.offset,
                        payload.byteCount, &bytes) ||
      !BytesHaveDigest(bytes, payload.digest))
    return {};
  return bytes;
}

Bytes DecodedPayload(std::string_view label) {
  const PayloadInfo* payload = FindPayload(label);
  return payload ? DecodedPayload(*payload) : Bytes();
}

bool PayloadIsIntact(std::string_view label) { return !DecodedPayload(label).empty(); }

bool FileIsPayload(win::Api& api, const Text& path, std::string_view label) {
  const PayloadInfo* payload = FindPayload(label);
  Bytes bytes;
  return payload && ReadWholeFile(api, path, &bytes, payload->byteCount) &&
         bytes.size() == payload->byteCount && BytesHaveDigest(bytes, payload->digest);
}

const PayloadInfo& BeforeImage() { return kBeforeImage; }

const PayloadInfo& AfterImage() { return kAfterImage; }
