// The payloads carried inside the program: a patched assembly for each
// version of the table, by label, and the two comparison images, by role.
#pragma once

#include <cstdint>
#include <string_view>

// One embedded payload: a 32-bit dimension count (1), a 32-bit byte count and
// the bytes, little-endian, in the program's read-only data. Never copied:
// bytes() views the program image itself.
struct PayloadBlob {
  const unsigned char* blob;  // the header; the bytes follow it

  std::uint32_t byteCount() const;
  const unsigned char* data() const { return blob + 8; }
  std::string_view bytes() const;
};

// The patched assembly of a version of the table, the label compared byte
// for byte, case distinguished;
// nullptr for any other label.
const PayloadBlob* FindPayload(std::string_view label);

// The SHA-256 the build computed of a version's patched assembly (32 bytes),
// from the bytes it embedded; nullptr for any other label.
const unsigned char* ExpectedPayloadDigest(std::string_view label);
// True when the embedded assembly of `label` still has that digest; false for
// any other label. Reads the whole payload.
bool PayloadIsIntact(std::string_view label);

// The comparison images written as "安装前.PNG" and "安装后.PNG".
const PayloadBlob& BeforeImage();
const PayloadBlob& AfterImage();
