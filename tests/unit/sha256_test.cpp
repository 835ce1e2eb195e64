// SHA-256 against published and independently computed vectors, and the
// payloads against the digests the build computed of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "install/payload_catalogue.h"
#include "install/versions.h"
#include "runtime/sha256.h"
#include "unit/scenario.h"

namespace {

std::string Hex(const Sha256Digest& digest) {
  std::string out;
  char pair[3];
  for (unsigned char b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

TEST(Sha256Test, KnownVectors) {
  // FIPS 180-4's examples.
  EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(Sha256(std::string(1'000'000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Lengths around the padding's edges (Python's hashlib).
  const std::pair<std::size_t, const char*> edges[] = {
      {55, "576a1bf8d4478657e6dc4af9398544765c2a92cde28478b019235cfed315fc09"},
      {56, "9b20501dfd1d99161c257950f3444f3e49230c351c5c8e0943ef369f85f5205d"},
      {63, "30b345906b493f06f69444b6521113511c242f30e29840462950035043682f1e"},
      {64, "d8bc63b4fc1156e5e7d95a418b9bf54cd3174bedbc2db40f74895349b229b3c0"},
      {65, "1ee23b0fbcaecc1aff4a9e8f1645f35ab2c8e13609cd73b68df8b5e3f63ce073"},
      {119, "7a6589821178918ca8d9edaba5abfc1e9b2669564f4469b66885379c1530b2c8"},
      {120, "655250427d56b1b0eeb8497d21428704273458a01772d6881b65c0abac0f8a98"}};
  for (const auto& [size, expected] : edges) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 & 0xFF);
    EXPECT_EQ(Hex(Sha256(bytes)), expected) << size << " bytes";
  }
}

TEST(PayloadDigestTest, EachAssemblyHasTheDigestTheBuildComputed) {
  for (const KnownVersion& version : kKnownVersions) {
    const Bytes payload = DecodedPayload(version.label);
    const unsigned char* digest = ExpectedPayloadDigest(version.label);
    ASSERT_FALSE(payload.empty()) << version.label;
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(digest, FindPayload(version.label)->digest);
    EXPECT_TRUE(BytesHaveDigest(payload, digest)) << version.label;
    EXPECT_TRUE(PayloadIsIntact(version.label)) << version.label;
    // Each its own.
    for (const KnownVersion& other : kKnownVersions) {
      if (std::string_view(other.label) == version.label) continue;
      EXPECT_FALSE(BytesHaveDigest(payload, ExpectedPayloadDigest(other.label)));
    }
  }
  EXPECT_EQ(ExpectedPayloadDigest("0.25d"), nullptr);
  EXPECT_FALSE(PayloadIsIntact("0.25d"));
  EXPECT_FALSE(BytesHaveDigest("", nullptr));
}

// One flipped bit anywhere, a byte missing or one more: not intact.
TEST(PayloadDigestTest, AnyChangeToTheBytesIsSeen) {
  const std::string_view label = kKnownVersions[0].label;
  const std::string original(scenario::PayloadBytes(label));
  const unsigned char* digest = ExpectedPayloadDigest(label);
  for (std::size_t at : {std::size_t{0}, original.size() / 2, original.size() - 1}) {
    std::string changed = original;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_FALSE(BytesHaveDigest(changed, digest)) << "bit 0 of byte " << at;
  }
  EXPECT_FALSE(BytesHaveDigest(std::string_view(original).substr(0, original.size() - 1), digest));
  EXPECT_FALSE(BytesHaveDigest(original + '\0', digest));
  EXPECT_TRUE(BytesHaveDigest(original, digest));
}

// What decoding and checking the largest payload costs, with the decoder and
// the hash the program uses (the tests' own keep what they computed):
// reported, not judged.
TEST(PayloadDigestTest, CostOfCheckingTheLargestPayload) {
  const PayloadInfo* largest = nullptr;
  const char* label = nullptr;
  for (const KnownVersion& version : kKnownVersions) {
    if (!largest || FindPayload(version.label)->byteCount > largest->byteCount) {
      largest = FindPayload(version.label);
      label = version.label;
    }
  }
  const std::clock_t start = std::clock();
  Bytes bytes;
  EXPECT_TRUE(DecodeStreamPart(largest->stream->bytes(), largest->method, largest->streamSize,
                               largest->offset, largest->byteCount, &bytes));
  const Sha256Digest digest = ComputeSha256(bytes);
  EXPECT_TRUE(std::equal(digest.begin(), digest.end(), largest->digest));
  const double spent = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("decoding and checking %s (%zu bytes): %.2f ms of CPU\n", label, bytes.size(), spent);
}

}  // namespace
