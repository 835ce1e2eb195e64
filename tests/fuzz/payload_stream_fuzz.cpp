// DecodeStreamPart on any input: never a crash, an overrun or a hang, and
// never bytes that pass the digest check wrongly.
//
// Input: a mode byte. Even: a stream as given, after a 32-bit offset and a
// 32-bit size (the stream's decoded size is what its header says, capped at
// 1 MiB). Odd: edits to a small valid stream (3-byte groups: a 16-bit
// position, a byte to XOR there; a position past the end cuts the stream to
// that position modulo its length plus one), decoded whole; bytes that have
// the original's digest are the original bytes.
#include "fuzz_input.h"
#include "install/payload_stream.h"
#include "runtime/sha256.h"
#include "tiny_lzma_stream.h"

namespace {

std::uint64_t HeaderSize(std::string_view stream) {
  std::uint64_t size = 0;
  for (std::size_t i = 13; i-- > 5;)
    size = size << 8 | static_cast<unsigned char>(i < stream.size() ? stream[i] : 0);
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  Bytes out;
  if ((input.Byte() & 1) == 0) {
    const auto offset = static_cast<std::uint32_t>(input.Int32());
    const auto count = static_cast<std::uint32_t>(input.Int32()) & 0xFFFFF;
    const std::string stream = input.Rest();
    const std::uint64_t streamSize = HeaderSize(stream) < (1u << 20) ? HeaderSize(stream) : 1u << 20;
    for (StreamMethod method : {StreamMethod::kLzma, StreamMethod::kStored}) {
      const bool decoded = DecodeStreamPart(stream, method, streamSize, offset, count, &out);
      FUZZ_CHECK(decoded ? out.size() == count : out.empty());
    }
    return 0;
  }
  static const std::string text = TinyText();
  std::string stream(kTinyStream);
  while (true) {
    const std::string edit = input.Take(3);
    if (edit.size() < 3) break;
    const std::size_t at = static_cast<unsigned char>(edit[0]) |
                           static_cast<std::size_t>(static_cast<unsigned char>(edit[1])) << 8;
    if (at >= stream.size()) {
      stream.resize(at % (stream.size() + 1));
      continue;
    }
    stream[at] = static_cast<char>(stream[at] ^ edit[2]);
  }
  const bool decoded = DecodeStreamPart(stream, StreamMethod::kLzma, text.size(), 0,
                                        static_cast<std::uint32_t>(text.size()), &out);
  FUZZ_CHECK(decoded ? out.size() == text.size() : out.empty());
  if (decoded && Sha256(out) == Sha256(text)) FUZZ_CHECK(out == text);
  return 0;
}
