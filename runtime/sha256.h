// SHA-256 (FIPS 180-4), for checking the embedded payloads.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using Sha256Digest = std::array<unsigned char, 32>;

Sha256Digest Sha256(std::string_view bytes);

// True when `bytes` hash to the 32 bytes at `expected`; false for nullptr.
bool BytesHaveDigest(std::string_view bytes, const unsigned char* expected);
