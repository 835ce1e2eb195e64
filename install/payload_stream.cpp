#include "install/payload_stream.h"

#include <new>

// The SDK's Types.h includes <windows.h> on Windows for one type the decoder
// does not use; its structures are the same without it.
#pragma push_macro("_WIN32")
#undef _WIN32
#include <lzma-sdk/LzmaDec.h>
#pragma pop_macro("_WIN32")

namespace {

void* Allocate(void*, size_t size) { return ::operator new(size); }
void Release(void*, void* address) { ::operator delete(address); }
ISzAlloc kAllocator = {Allocate, Release};

// The decoder's state, freed however the decoding ends.
class Decoder {
 public:
  Decoder() { LzmaDec_Construct(&state_); }
  ~Decoder() { LzmaDec_Free(&state_, &kAllocator); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  CLzmaDec* get() { return &state_; }

 private:
  CLzmaDec state_;
};

std::uint64_t ReadLittleEndian64(const unsigned char* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

bool DecodeLzmaPart(std::string_view stream, std::uint64_t streamSize, std::uint64_t offset,
                    std::uint32_t size, Bytes* out) {
  if (stream.size() < kLzmaHeaderBytes) return false;
  const auto* in = reinterpret_cast<const unsigned char*>(stream.data());
  CLzmaProps props;
  if (LzmaProps_Decode(&props, in, LZMA_PROPS_SIZE) != SZ_OK || props.lc + props.lp > kMostLiteralBits ||
      props.dicSize > kLargestDictionary || ReadLittleEndian64(in + LZMA_PROPS_SIZE) != streamSize)
    return false;
  Decoder decoder;
  if (LzmaDec_Allocate(decoder.get(), in, LZMA_PROPS_SIZE, &kAllocator) != SZ_OK) return false;
  LzmaDec_Init(decoder.get());
  in += kLzmaHeaderBytes;
  SizeT left = stream.size() - kLzmaHeaderBytes;
  const bool toTheEnd = offset + size == streamSize;

  // Decodes `count` bytes into `to`; false when the stream does not hold
  // them or, with `last`, does not end right after them. Each round uses
  // input or makes output, so the loop ends.
  const auto decode = [&](unsigned char* to, SizeT count, bool last) {
    for (bool first = true; count > 0 || (first && last); first = false) {
      SizeT made = count, used = left;
      ELzmaStatus status;
      if (LzmaDec_DecodeToBuf(decoder.get(), to, &made, in, &used,
                              last ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status) != SZ_OK)
        return false;
      in += used;
      left -= used;
      to += made;
      count -= made;
      if (count == 0) return !last || (status == LZMA_STATUS_FINISHED_WITH_MARK && left == 0);
      // The end mark before the end, or nothing more to decode: the stream is short.
      if (status == LZMA_STATUS_FINISHED_WITH_MARK || (made == 0 && used == 0)) return false;
    }
    return true;
  };

  unsigned char skipped[16384];
  for (std::uint64_t before = offset; before > 0;) {
    const SizeT step = before < sizeof(skipped) ? static_cast<SizeT>(before) : sizeof(skipped);
    if (!decode(skipped, step, false)) return false;
    before -= step;
  }
  out->resize(size);
  return decode(reinterpret_cast<unsigned char*>(out->data()), size, toTheEnd);
}

}  // namespace

bool DecodeStreamPart(std::string_view stream, StreamMethod method, std::uint64_t streamSize,
                      std::uint64_t offset, std::uint32_t size, Bytes* out) {
  out->clear();
  bool decoded = false;
  if (offset <= streamSize && size <= streamSize - offset) {
    if (method == StreamMethod::kStored) {
      decoded = stream.size() == streamSize;
      if (decoded) out->assign(stream.substr(static_cast<std::size_t>(offset), size));
    } else if (method == StreamMethod::kLzma) {
      decoded = DecodeLzmaPart(stream, streamSize, offset, size, out);
    }
  }
  if (!decoded) out->clear();
  return decoded;
}
