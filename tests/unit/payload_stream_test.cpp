// Decoding the embedded streams, whole and damaged: a stream that does not
// decode is refused, and no damage gives bytes that pass the digest check.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/tiny_lzma_stream.h"
#include "install/payload_catalogue.h"
#include "install/payload_stream.h"
#include "runtime/sha256.h"
#include "unit/scenario.h"

namespace {

bool Decode(std::string_view stream, std::uint64_t streamSize, std::uint64_t offset, std::uint32_t size,
            Bytes* out, StreamMethod method = StreamMethod::kLzma) {
  return DecodeStreamPart(stream, method, streamSize, offset, size, out);
}

// What a damaged stream may give: nothing, or bytes whose digest is not the
// original's. Bytes that have it are the original bytes.
void ExpectNoWrongBytesPass(bool decoded, const Bytes& out, const std::string& original) {
  if (decoded && Sha256(out) == Sha256(original)) {
    EXPECT_TRUE(out == original);
  }
  if (!decoded) {
    EXPECT_TRUE(out.empty());
  }
}

TEST(PayloadStreamTest, DecodesAWholeStreamAndAnyPartOfIt) {
  const std::string text = TinyText();
  ASSERT_EQ(text.size(), 2850u);
  Bytes out;
  ASSERT_TRUE(Decode(kTinyStream, text.size(), 0, 2850, &out));
  EXPECT_EQ(out, text);
  for (std::uint64_t offset : {0u, 1u, 1000u, 2849u}) {
    ASSERT_TRUE(Decode(kTinyStream, text.size(), offset, 1, &out)) << offset;
    EXPECT_EQ(out, text.substr(offset, 1));
  }
  ASSERT_TRUE(Decode(kTinyStream, text.size(), 2000, 850, &out));
  EXPECT_EQ(out, text.substr(2000));
  // Stored bytes are taken as they are.
  ASSERT_TRUE(Decode(text, text.size(), 14, 13, &out, StreamMethod::kStored));
  EXPECT_EQ(out, text.substr(14, 13));
}

TEST(PayloadStreamTest, RefusesWhatIsNotAStreamOfThatForm) {
  const std::string text = TinyText();
  Bytes out = "left over";
  // A part beyond the stream, an unknown method, a stored stream of another size.
  EXPECT_FALSE(Decode(kTinyStream, 2850, 2850, 1, &out));
  EXPECT_FALSE(Decode(kTinyStream, 2850, 2000, 851, &out));
  EXPECT_FALSE(Decode(kTinyStream, 2850, UINT64_MAX, 2, &out));
  EXPECT_FALSE(Decode(kTinyStream, 2850, 0, 10, &out, static_cast<StreamMethod>(2)));
  EXPECT_FALSE(Decode(text.substr(1), 2850, 0, 10, &out, StreamMethod::kStored));
  EXPECT_TRUE(out.empty());
  // The header: properties beyond what the decoder takes, a dictionary beyond
  // the limit, more literal bits than allowed, a size other than the stream's.
  auto withHeader = [](std::size_t at, unsigned char byte) {
    std::string changed(kTinyStream);
    changed[at] = static_cast<char>(byte);
    return changed;
  };
  EXPECT_FALSE(Decode(withHeader(0, 225), 2850, 0, 2850, &out));
  EXPECT_FALSE(Decode(withHeader(4, 0x02), 2850, 0, 2850, &out));  // 32 MiB + 64 KiB
  EXPECT_FALSE(Decode(withHeader(0, 4 + 9 * 1 + 45 * 2), 2850, 0, 2850, &out));  // lc 4, lp 1
  EXPECT_FALSE(Decode(withHeader(5, 0x23), 2850, 0, 2850, &out));
  EXPECT_FALSE(Decode(kTinyStream.substr(0, kLzmaHeaderBytes - 1), 2850, 0, 1, &out));
  EXPECT_TRUE(out.empty());
}

TEST(PayloadStreamTest, ATruncatedStreamIsRefusedWhereverItIsCut) {
  Bytes out;
  for (std::size_t keep = 0; keep < kTinyStream.size(); ++keep)
    EXPECT_FALSE(Decode(kTinyStream.substr(0, keep), 2850, 0, 2850, &out)) << keep << " bytes kept";
  // A stream that goes on past its end mark is not the stream either.
  EXPECT_FALSE(Decode(std::string(kTinyStream) + '\0', 2850, 0, 2850, &out));
}

// The header says more bytes than the stream holds; asked for them, the end
// mark comes first.
TEST(PayloadStreamTest, AStreamThatClaimsMoreThanItHoldsIsRefused) {
  Bytes out;
  for (std::uint64_t claimed : {2851u, 4096u, 1u << 30}) {
    std::string changed(kTinyStream);
    for (int i = 0; i < 8; ++i) changed[5 + i] = static_cast<char>(claimed >> (8 * i) & 0xFF);
    EXPECT_FALSE(Decode(changed, claimed, claimed - 1, 1, &out)) << claimed;
    EXPECT_FALSE(Decode(changed, 2850, 0, 2850, &out)) << claimed;
  }
}

TEST(PayloadStreamTest, NoFlippedByteGivesWrongBytesThatPassTheDigest) {
  const std::string text = TinyText();
  for (std::size_t at = 0; at < kTinyStream.size(); ++at) {
    for (int mask : {0x01, 0x80, 0xFF}) {
      SCOPED_TRACE(testing::Message() << "byte " << at << " ^ " << mask);
      std::string changed(kTinyStream);
      changed[at] = static_cast<char>(changed[at] ^ mask);
      Bytes out;
      const bool decoded = Decode(changed, 2850, 0, 2850, &out);
      ExpectNoWrongBytesPass(decoded, out, text);
      // The body is range-coded: a changed byte there never decodes whole.
      if (at >= kLzmaHeaderBytes) {
        EXPECT_FALSE(decoded && out == text);
      }
    }
  }
}

// The streams the program carries: every payload decodes to its digest, and
// damage to the solid stream of the assemblies is refused.
TEST(PayloadStreamTest, EveryEmbeddedPayloadDecodes) {
  for (const scenario::Version& version : scenario::kVersions) {
    const PayloadInfo& payload = *FindPayload(version.label);
    Bytes out;
    ASSERT_TRUE(DecodeStreamPart(payload.stream->bytes(), payload.method, payload.streamSize,
                                 payload.offset, payload.byteCount, &out))
        << version.label;
    EXPECT_TRUE(BytesHaveDigest(out, payload.digest)) << version.label;
  }
  for (const PayloadInfo* image : {&BeforeImage(), &AfterImage()}) {
    Bytes out;
    ASSERT_TRUE(DecodeStreamPart(image->stream->bytes(), image->method, image->streamSize, 0,
                                 image->byteCount, &out));
    EXPECT_TRUE(BytesHaveDigest(out, image->digest));
  }
}

TEST(PayloadStreamTest, DamageToTheEmbeddedAssembliesIsRefused) {
  const PayloadInfo& first = *FindPayload(scenario::kVersions[0].label);
  if (first.method != StreamMethod::kLzma) GTEST_SKIP() << "the build keeps the raw layout";
  const std::string_view stream = first.stream->bytes();
  const std::string& original = scenario::PayloadBytes(scenario::kVersions[0].label);
  ASSERT_FALSE(original.empty());
  const auto decodeFirst = [&](std::string_view changed, std::uint64_t streamSize) {
    Bytes out;
    const bool decoded = DecodeStreamPart(changed, first.method, streamSize, 0, first.byteCount, &out);
    ExpectNoWrongBytesPass(decoded, out, original);
    return decoded && BytesHaveDigest(out, first.digest);
  };
  EXPECT_TRUE(decodeFirst(stream, first.streamSize));
  // Truncated: within the first assembly's part.
  EXPECT_FALSE(decodeFirst(stream.substr(0, stream.size() / 8), first.streamSize));
  // A flipped byte in the header (the properties, the size) and in the body.
  for (std::size_t at : {std::size_t{0}, std::size_t{5}, std::size_t{12}, std::size_t{20}, std::size_t{1000},
                         stream.size() / 10}) {
    std::string changed(stream);
    changed[at] = static_cast<char>(changed[at] ^ 0x5A);
    EXPECT_FALSE(decodeFirst(changed, first.streamSize)) << "byte " << at;
  }
  // Claims more than it holds: the last assembly's end lies past the stream.
  const PayloadInfo& last = *FindPayload(scenario::kVersions[std::size(scenario::kVersions) - 1].label);
  std::string longer(stream);
  const std::uint64_t claimed = first.streamSize + 4096;
  for (int i = 0; i < 8; ++i) longer[5 + i] = static_cast<char>(claimed >> (8 * i) & 0xFF);
  Bytes out;
  EXPECT_FALSE(DecodeStreamPart(longer, first.method, claimed, last.offset + last.byteCount, 4096, &out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
