// DecodeStreamPart on any input: never a crash, an overrun or a hang, and
// never bytes that pass the digest check wrongly.
//
// Input: a mode byte. Even: a stream as given, after a 32-bit offset and a
// 32-bit size (the stream's decoded size is what its header says, capped at
// 1 MiB). Odd: edits to a small valid stream (3-byte groups: a 16-bit
// position, a byte to XOR there; a position past the end cuts the stream
// there), decoded whole; bytes that have the original's digest are the
// original bytes.
#include "fuzz_input.h"
#include "install/payload_stream.h"
#include "runtime/sha256.h"

namespace {

// 2,850 bytes of text as payload/pack_payloads.py writes a stream.
const std::string_view kTinyStream(
    "\x5d\x00\x00\x01\x00\x22\x0b\x00\x00\x00\x00\x00\x00\x00\x2a\x1a\x09\x27\x67\x2e\x80\x99\x76\x28\x55\x4c\x41\x1d\xd6\xe0\x09\x52"
    "\x17\x93\x73\xce\xe3\x9f\xed\x14\x49\x3d\x4c\x71\x70\x01\x44\x4b\xe5\x13\x00\x06\xa3\x12\x4b\x88\xf0\xe2\xc2\xc6\x4d\x10\xa9\x7c"
    "\x92\x22\xa1\xa2\x49\x1c\x15\x5c\xee\x78\x5f\x17\x86\x2a\xb6\xd9\x67\x6b\x73\xbb\x4c\xe6\x94\x5a\x9c\x69\xe2\xc6\x09\x29\x21\x3d"
    "\x62\xf4\xfb\x45\x3c\xae\xbe\x51\x68\xcb\x5b\x73\xec\xee\x8c\x27\x3e\x54\x8e\xa6\xcf\x64\x30\x8f\xb4\x3b\xa2\x8a\xa0\xb8\x48\xc3"
    "\x0e\x77\x20\xd2\xf6\xae\xe4\xea\x66\xf6\x86\x9c\x5f\xdf\xb1\xe7\xd3\xb1\x10\xb3\x18\xee\xe6\x57\x05\x1d\x7f\x60\x34\xd4\x1d\x47"
    "\x16\x4a\x05\x48\x27\x74\x80\xce\xa4\x83\xcc\xb0\xd6\xb8\x14\x1a\xd5\x18\x6c\x36\x16\x13\xb5\x27\x40\x0c\xbf\x36\x74\x9e\x08\x9a"
    "\xc5\x1b\xc6\xec\xa6\xd9\x92\xe7\xab\xea\xba\x57\x6e\x9c\x32\x4a\x20\x08\x00\x09\xf6\x89\x9d\x50\xf5\xaf\x0d\xdf\xa6\xf8\x13\x6f"
    "\x3e\x72\x01\x10\xde\xe0\x8b\x51\x33\x07\xe6\xce\x95\x66\x33\x0c\xf6\x2e\x42\x4b\x20\xf6\x59\xb3\xea\x72\x49\x78\xff\xff\xeb\xaa"
    "\x2a\xe0",
    258);

const std::string& TinyText() {
  static const std::string text = [] {
    std::string made;
    for (int i = 0; i < 150; ++i) {
      char number[8];
      std::snprintf(number, sizeof number, "%04d ", i);
      made += std::string("Thistlegarden ") + number;
    }
    return made;
  }();
  return text;
}

std::uint64_t HeaderSize(std::string_view stream) {
  std::uint64_t size = 0;
  for (std::size_t i = 13; i-- > 5;) size = size << 8 | static_cast<unsigned char>(i < stream.size() ? stream[i] : 0);
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
  std::string stream(kTinyStream);
  while (true) {
    const std::string edit = input.Take(3);
    if (edit.size() < 3) break;
    const std::size_t at = static_cast<unsigned char>(edit[0]) | static_cast<std::size_t>(static_cast<unsigned char>(edit[1])) << 8;
    if (at >= stream.size()) {
      stream.resize(at % (stream.size() + 1));
      continue;
    }
    stream[at] = static_cast<char>(stream[at] ^ edit[2]);
  }
  const bool decoded = DecodeStreamPart(stream, StreamMethod::kLzma, TinyText().size(), 0,
                                        static_cast<std::uint32_t>(TinyText().size()), &out);
  FUZZ_CHECK(decoded ? out.size() == TinyText().size() : out.empty());
  if (decoded && Sha256(out) == Sha256(TinyText())) FUZZ_CHECK(out == TinyText());
  return 0;
}
