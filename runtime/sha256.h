// SHA-256 (FIPS 180-4), for checking the embedded payloads.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using Sha256Digest = std::array<unsigned char, 32>;

Sha256Digest Sha256(std::string_view bytes);

// How Sha256 hashes: ComputeSha256, unless a test that runs the program
// hundreds of times over the same bytes hands in one that keeps what it
// computed (nullptr: ComputeSha256 again). ComputeSha256 always computes.
using Sha256Function = Sha256Digest (*)(std::string_view bytes);
void SetSha256Function(Sha256Function hash);
Sha256Digest ComputeSha256(std::string_view bytes);

// True when `bytes` hash to the 32 bytes at `expected`; false for nullptr.
bool BytesHaveDigest(std::string_view bytes, const unsigned char* expected);
