// The payloads carried inside the program: a patched assembly for each
// version of the table, by label, and the two comparison images, by role.
// They are embedded as streams (install/payload_stream.h): the assemblies as
// one solid LZMA stream, each image as one of its own, or, when the build
// keeps the raw layout, each file stored as it is. A payload is decoded only
// when asked for, into memory the caller owns, and checked against the
// SHA-256 the build computed of the file.
#pragma once

#include <cstdint>
#include <string_view>

#include "install/payload_stream.h"
#include "platform/win_api.h"
#include "runtime/types.h"

// One embedded blob: a 32-bit dimension count (1), a 32-bit byte count and
// the bytes, little-endian, in the program's read-only data. Never copied:
// bytes() views the program image itself. The bytes are a stream: a file as
// it is, or compressed.
struct PayloadBlob {
  const unsigned char* blob;  // the header; the bytes follow it

  std::uint32_t byteCount() const;
  const unsigned char* data() const { return blob + 8; }
  std::string_view bytes() const;
};

// What the program knows of one payload without decoding it.
struct PayloadInfo {
  const PayloadBlob* stream;    // the embedded stream that holds it
  StreamMethod method;          // how the stream is held
  std::uint64_t streamSize;     // the whole stream's decoded size
  std::uint64_t offset;         // where it starts in the stream once decoded
  std::uint32_t byteCount;      // the file's size
  const unsigned char* digest;  // its SHA-256, 32 bytes
};

// The patched assembly of a version of the table, the label compared byte
// for byte, case distinguished; nullptr for any other label.
const PayloadInfo* FindPayload(std::string_view label);

// The SHA-256 the build computed of a version's patched assembly (32 bytes);
// nullptr for any other label.
const unsigned char* ExpectedPayloadDigest(std::string_view label);

// A payload decoded and checked: its bytes, or empty when its stream does not
// decode to bytes of its digest (a damaged program). Only the stream that
// holds it is decoded, and only as far as its end.
Bytes DecodedPayload(const PayloadInfo& payload);
// The patched assembly of `label`, decoded and checked; empty for any other
// label too.
Bytes DecodedPayload(std::string_view label);
// True when DecodedPayload(label) gives its bytes (it decodes them).
bool PayloadIsIntact(std::string_view label);

// How the catalogue decodes a stream part: DecodeStreamPart, unless a test
// that runs the program hundreds of times hands in one that keeps what it
// decoded (nullptr: DecodeStreamPart again).
using StreamDecoder = bool (*)(std::string_view stream, StreamMethod method, std::uint64_t streamSize,
                               std::uint64_t offset, std::uint32_t size, Bytes* out);
void SetStreamDecoder(StreamDecoder decoder);

// True when the file at `path` can be read and is the patched assembly of
// `label`, by its size and digest (nothing is decoded).
bool FileIsPayload(win::Api& api, const Text& path, std::string_view label);

// The comparison images written as "安装前.PNG" and "安装后.PNG"; decoded
// with DecodedPayload when they are written.
const PayloadInfo& BeforeImage();
const PayloadInfo& AfterImage();
