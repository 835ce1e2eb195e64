// The embedded payloads and the paths the run writes them to.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "install/output_layout.h"
#include "install/payload_catalogue.h"
#include "install/payload_stream.h"
#include "unit/scenario.h"

namespace {

std::uint32_t Le16(std::string_view d, std::size_t at) {
  return static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8;
}
std::uint32_t Le32(std::string_view d, std::size_t at) { return Le16(d, at) | Le16(d, at + 2) << 16; }
std::uint32_t Be32(std::string_view d, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(d[at + i]);
  return value;
}

std::uint32_t Crc32(std::string_view d) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : d) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Empty when `d` is a 32-bit PE DLL whose COM descriptor holds a CLI header.
std::string PeProblem(std::string_view d) {
  if (d.size() < 0x40 || d.substr(0, 2) != "MZ") return "no MZ header";
  std::size_t pe = Le32(d, 0x3C);
  if (pe + 24 + 96 + 16 * 8 > d.size() || d.substr(pe, 4) != std::string_view("PE\0\0", 4))
    return "no PE signature";
  if (Le16(d, pe + 4) != 0x014C) return "not i386";
  if (!(Le16(d, pe + 22) & 0x2000)) return "not a DLL";
  std::size_t optional = pe + 24;
  if (Le16(d, optional) != 0x10B) return "not PE32";
  if (Le32(d, optional + 92) <= 14) return "no COM descriptor directory";
  std::uint32_t rva = Le32(d, optional + 96 + 14 * 8);
  if (rva == 0 || Le32(d, optional + 96 + 14 * 8 + 4) == 0) return "empty COM descriptor";
  std::size_t sections = optional + Le16(d, pe + 20);
  for (std::uint32_t i = 0; i < Le16(d, pe + 6); ++i) {
    std::size_t s = sections + 40 * i;
    if (s + 40 > d.size()) return "truncated section table";
    std::uint32_t address = Le32(d, s + 12), rawSize = Le32(d, s + 16), rawOffset = Le32(d, s + 20);
    if (rva < address || rva - address + 72 > rawSize) continue;
    std::size_t cli = rawOffset + (rva - address);
    if (cli + 72 > d.size()) return "CLI header past the end";
    return Le32(d, cli) == 72 ? "" : "CLI header size is not 72";
  }
  return "COM descriptor outside every section";
}

// Empty when `d` is one whole 1296 x 759 RGBA PNG: every chunk's CRC holds and
// IEND ends exactly at the last byte.
std::string PngProblem(std::string_view d) {
  if (d.substr(0, 8) != "\x89PNG\r\n\x1a\n") return "no PNG signature";
  std::size_t at = 8;
  int chunks = 0, dataChunks = 0;
  while (at + 12 <= d.size()) {
    std::uint32_t length = Be32(d, at);
    if (length > d.size() - at - 12) return "chunk runs past the end";
    std::string_view kind = d.substr(at + 4, 4), body = d.substr(at + 8, length);
    if (Crc32(d.substr(at + 4, 4 + length)) != Be32(d, at + 8 + length))
      return "bad CRC in " + std::string(kind);
    if (chunks++ == 0) {
      if (kind != "IHDR" || length != 13) return "IHDR is not first";
      if (Be32(body, 0) != 1296 || Be32(body, 4) != 759) return "not 1296 x 759";
      if (body[8] != 8 || body[9] != 6) return "not 8-bit RGBA";
    }
    if (kind == "IDAT") ++dataChunks;
    at += 12 + length;
    if (kind == "IEND") break;
  }
  if (dataChunks == 0) return "no image data";
  if (d.substr(at - 8, 4) != "IEND" || at != d.size()) return "does not end with IEND";
  return "";
}

std::uint64_t Le64(std::string_view d, std::size_t at) {
  return Le32(d, at) | static_cast<std::uint64_t>(Le32(d, at + 4)) << 32;
}

// The blob holds its stream whole, 4-byte aligned; a stream's header names
// its decoded size.
void ExpectStream(const PayloadInfo& payload) {
  const std::string_view stream = payload.stream->bytes();
  EXPECT_EQ(Le32(std::string_view(reinterpret_cast<const char*>(payload.stream->blob), 8), 0), 1u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(payload.stream->blob) % 4, 0u);
  if (payload.method == StreamMethod::kStored) {
    EXPECT_EQ(stream.size(), payload.streamSize);
  } else {
    ASSERT_EQ(payload.method, StreamMethod::kLzma);
    ASSERT_GT(stream.size(), kLzmaHeaderBytes);
    EXPECT_EQ(Le64(stream, 5), payload.streamSize);
    EXPECT_LT(stream.size(), payload.streamSize);
  }
}

TEST(PayloadCatalogue, EachAssemblyIsItsVersionsPe32DotNetDll) {
  std::vector<Bytes> seen;
  for (const scenario::Version& expected : scenario::kVersions) {
    SCOPED_TRACE(expected.label);
    const PayloadInfo* payload = FindPayload(expected.label);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->byteCount, expected.payloadBytes);
    const Bytes bytes = DecodedPayload(expected.label);
    EXPECT_EQ(bytes.size(), expected.payloadBytes);
    EXPECT_EQ(PeProblem(bytes), "");
    for (const Bytes& other : seen) EXPECT_TRUE(other != bytes);
    seen.push_back(bytes);
  }
}

// The assemblies follow each other in one stream, in the table's order (or,
// in the raw layout, each is a stream of its own); each image is one.
TEST(PayloadCatalogue, StreamsHoldThePayloadsInTheTablesOrder) {
  const PayloadInfo* first = FindPayload(scenario::kVersions[0].label);
  ASSERT_NE(first, nullptr);
  std::uint64_t end = 0;
  for (const scenario::Version& version : scenario::kVersions) {
    SCOPED_TRACE(version.label);
    const PayloadInfo& payload = *FindPayload(version.label);
    ExpectStream(payload);
    if (TG_PAYLOADS_COMPRESSED) {
      EXPECT_EQ(payload.stream, first->stream);
      EXPECT_EQ(payload.offset, end);
      end += payload.byteCount;
      EXPECT_EQ(payload.method, StreamMethod::kLzma);
    } else {
      EXPECT_EQ(payload.offset, 0u);
      EXPECT_EQ(payload.streamSize, payload.byteCount);
      EXPECT_EQ(payload.method, StreamMethod::kStored);
    }
  }
  if (TG_PAYLOADS_COMPRESSED) {
    EXPECT_EQ(first->streamSize, end);
  }
  for (const PayloadInfo* image : {&BeforeImage(), &AfterImage()}) {
    ExpectStream(*image);
    EXPECT_EQ(image->offset, 0u);
    EXPECT_EQ(image->streamSize, image->byteCount);
    EXPECT_NE(image->stream, first->stream);
  }
  EXPECT_NE(BeforeImage().stream, AfterImage().stream);
}

TEST(PayloadCatalogue, ImagesAreWhole1296x759RgbaPngs) {
  const Bytes before = DecodedPayload(BeforeImage());
  const Bytes after = DecodedPayload(AfterImage());
  EXPECT_EQ(before.size(), 407'011u);
  EXPECT_EQ(after.size(), 462'645u);
  EXPECT_EQ(PngProblem(before), "");
  EXPECT_EQ(PngProblem(after), "");
  EXPECT_TRUE(before != after);
}

TEST(PayloadCatalogue, OnlyTheFiveLabelsExactlyHaveAPayload) {
  for (std::string_view label :
       {"", "0.00", "0.25B", "0.24G", "0.25", "0.25bb", " 0.25b", "0.25b ", "0.25d", "0.24f"})
    EXPECT_EQ(FindPayload(label), nullptr) << '"' << label << '"';
  EXPECT_EQ(FindPayload(std::string_view("0.25b\0", 6)), nullptr);
  // A label taken from a longer text compares by its own length.
  EXPECT_EQ(FindPayload(std::string_view("0.25bx").substr(0, 5)), FindPayload("0.25b"));
}

TEST(OutputLayout, PathsAreRootPlusFixedPartInCodePage936) {
  const Text temp = "C:\\Temp\\";
  const Text folder = temp + "Thistlegarden\xB2\xB9\xB6\xA1\xB3\xCC\xD0\xF2\\\xB2\xB9\xB6\xA1\xB6\xD4\xB1\xC8\xCD\xBC";
  EXPECT_EQ(GameAssemblyPath("D:\\Games\\TG\\"), "D:\\Games\\TG\\Thistlegarden_Data\\Managed\\Assembly-CSharp.dll");
  EXPECT_EQ(BackupPath(temp), temp + "Thistlegarden\xB2\xB9\xB6\xA1\xB3\xCC\xD0\xF2\\Assembly-CSharp.dll");
  EXPECT_EQ(ComparisonFolderPath(temp), folder);
  EXPECT_EQ(MarkerFilePath(temp),
            folder + "\\\xB8\xC3\xCE\xC4\xBC\xFE\xBC\xD0\xC3\xBB\xD3\xC3\xBF\xC9\xD2\xD4\xD6\xB1\xBD\xD3\xC9\xBE\xB3\xFD");
  EXPECT_EQ(BeforeImagePath(temp), folder + "\\\xB0\xB2\xD7\xB0\xC7\xB0.PNG");
  EXPECT_EQ(AfterImagePath(temp), folder + "\\\xB0\xB2\xD7\xB0\xBA\xF3.PNG");
  // With no temporary-files folder the fixed part stands alone.
  EXPECT_EQ(AfterImagePath(""), AfterImagePath(temp).substr(temp.size()));
}

}  // namespace
