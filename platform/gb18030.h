// The code page paths are converted with (54936): GB18030-2022, except that
// "€" is code page 936's single byte 0x80 (GB18030's 0xA2 0xE3 reads as "€"
// too). Every other character code page 936 has keeps 936's bytes, and every
// code point but a lone surrogate has bytes that read back as itself.
//
// Both backends convert with these functions: the real one because Wine
// lacks the code page, the simulated one to convert exactly as it does. The
// two-byte cells come from the system's code page 936 (Microsoft's table),
// except the ones below; the four-byte codes are counted off here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gb18030 {

// The two-byte cells where GB18030-2022 holds a character that Microsoft's
// code page 936 has not: there 936 has a code point of the private use area,
// which takes a four-byte code instead. Those of 2005 (0xA8BC) and 2022
// (0xA6D9..., 0xFE59...) moved a character off a four-byte code, which the
// private use code point takes over.
struct Cell {
  std::uint16_t bytes;
  char16_t character;  // GB18030's
  char16_t private936;  // code page 936's
};
inline constexpr Cell kCellsBeyond936[] = {
    {0xA2E3, 0x20AC, 0xE76C}, {0xA6D9, 0xFE10, 0xE78D}, {0xA6DA, 0xFE12, 0xE78E}, {0xA6DB, 0xFE11, 0xE78F},
    {0xA6DC, 0xFE13, 0xE790}, {0xA6DD, 0xFE14, 0xE791}, {0xA6DE, 0xFE15, 0xE792}, {0xA6DF, 0xFE16, 0xE793},
    {0xA6EC, 0xFE17, 0xE794}, {0xA6ED, 0xFE18, 0xE795}, {0xA6F3, 0xFE19, 0xE796}, {0xA8BC, 0x1E3F, 0xE7C7},
    {0xA8BF, 0x01F9, 0xE7C8}, {0xA989, 0x303E, 0xE7E7}, {0xA98A, 0x2FF0, 0xE7E8}, {0xA98B, 0x2FF1, 0xE7E9},
    {0xA98C, 0x2FF2, 0xE7EA}, {0xA98D, 0x2FF3, 0xE7EB}, {0xA98E, 0x2FF4, 0xE7EC}, {0xA98F, 0x2FF5, 0xE7ED},
    {0xA990, 0x2FF6, 0xE7EE}, {0xA991, 0x2FF7, 0xE7EF}, {0xA992, 0x2FF8, 0xE7F0}, {0xA993, 0x2FF9, 0xE7F1},
    {0xA994, 0x2FFA, 0xE7F2}, {0xA995, 0x2FFB, 0xE7F3}, {0xFE50, 0x2E81, 0xE815}, {0xFE54, 0x2E84, 0xE819},
    {0xFE55, 0x3473, 0xE81A}, {0xFE56, 0x3447, 0xE81B}, {0xFE57, 0x2E88, 0xE81C}, {0xFE58, 0x2E8B, 0xE81D},
    {0xFE59, 0x9FB4, 0xE81E}, {0xFE5A, 0x359E, 0xE81F}, {0xFE5B, 0x361A, 0xE820}, {0xFE5C, 0x360E, 0xE821},
    {0xFE5D, 0x2E8C, 0xE822}, {0xFE5E, 0x2E97, 0xE823}, {0xFE5F, 0x396E, 0xE824}, {0xFE60, 0x3918, 0xE825},
    {0xFE61, 0x9FB5, 0xE826}, {0xFE62, 0x39CF, 0xE827}, {0xFE63, 0x39DF, 0xE828}, {0xFE64, 0x3A73, 0xE829},
    {0xFE65, 0x39D0, 0xE82A}, {0xFE66, 0x9FB6, 0xE82B}, {0xFE67, 0x9FB7, 0xE82C}, {0xFE68, 0x3B4E, 0xE82D},
    {0xFE69, 0x3C6E, 0xE82E}, {0xFE6A, 0x3CE0, 0xE82F}, {0xFE6B, 0x2EA7, 0xE830}, {0xFE6D, 0x9FB8, 0xE832},
    {0xFE6E, 0x2EAA, 0xE833}, {0xFE6F, 0x4056, 0xE834}, {0xFE70, 0x415F, 0xE835}, {0xFE71, 0x2EAE, 0xE836},
    {0xFE72, 0x4337, 0xE837}, {0xFE73, 0x2EB3, 0xE838}, {0xFE74, 0x2EB6, 0xE839}, {0xFE75, 0x2EB7, 0xE83A},
    {0xFE77, 0x43B1, 0xE83C}, {0xFE78, 0x43AC, 0xE83D}, {0xFE79, 0x2EBB, 0xE83E}, {0xFE7A, 0x43DD, 0xE83F},
    {0xFE7B, 0x44D6, 0xE840}, {0xFE7C, 0x4661, 0xE841}, {0xFE7D, 0x464C, 0xE842}, {0xFE7E, 0x9FB9, 0xE843},
    {0xFE80, 0x4723, 0xE844}, {0xFE81, 0x4729, 0xE845}, {0xFE82, 0x477C, 0xE846}, {0xFE83, 0x478D, 0xE847},
    {0xFE84, 0x2ECA, 0xE848}, {0xFE85, 0x4947, 0xE849}, {0xFE86, 0x497A, 0xE84A}, {0xFE87, 0x497D, 0xE84B},
    {0xFE88, 0x4982, 0xE84C}, {0xFE89, 0x4983, 0xE84D}, {0xFE8A, 0x4985, 0xE84E}, {0xFE8B, 0x4986, 0xE84F},
    {0xFE8C, 0x499F, 0xE850}, {0xFE8D, 0x499B, 0xE851}, {0xFE8E, 0x49B7, 0xE852}, {0xFE8F, 0x49B6, 0xE853},
    {0xFE90, 0x9FBA, 0xE854}, {0xFE92, 0x4CA3, 0xE856}, {0xFE93, 0x4C9F, 0xE857}, {0xFE94, 0x4CA0, 0xE858},
    {0xFE95, 0x4CA1, 0xE859}, {0xFE96, 0x4C77, 0xE85A}, {0xFE97, 0x4CA2, 0xE85B}, {0xFE98, 0x4D13, 0xE85C},
    {0xFE99, 0x4D14, 0xE85D}, {0xFE9A, 0x4D15, 0xE85E}, {0xFE9B, 0x4D16, 0xE85F}, {0xFE9C, 0x4D17, 0xE860},
    {0xFE9D, 0x4D18, 0xE861}, {0xFE9E, 0x4D19, 0xE862}, {0xFE9F, 0x4DAE, 0xE863}, {0xFEA0, 0x9FBB, 0xE864},
};

// The four-byte codes of the basic plane, in order: ranges of consecutive
// code points starting at these (index, unit) pairs, each up to the next.
// The code points between two ranges have two-byte codes in GB18030-2000.
struct FourByteRange {
  std::uint32_t index;
  char16_t unit;
};
inline constexpr FourByteRange kFourByteRanges[] = {
    {0, 0x0080}, {36, 0x00A5}, {38, 0x00A9}, {45, 0x00B2}, {50, 0x00B8}, {81, 0x00D8},
    {89, 0x00E2}, {95, 0x00EB}, {96, 0x00EE}, {100, 0x00F4}, {103, 0x00F8}, {104, 0x00FB},
    {105, 0x00FD}, {109, 0x0102}, {126, 0x0114}, {133, 0x011C}, {148, 0x012C}, {172, 0x0145},
    {175, 0x0149}, {179, 0x014E}, {208, 0x016C}, {306, 0x01CF}, {307, 0x01D1}, {308, 0x01D3},
    {309, 0x01D5}, {310, 0x01D7}, {311, 0x01D9}, {312, 0x01DB}, {313, 0x01DD}, {341, 0x01FA},
    {428, 0x0252}, {443, 0x0262}, {544, 0x02C8}, {545, 0x02CC}, {558, 0x02DA}, {741, 0x03A2},
    {742, 0x03AA}, {749, 0x03C2}, {750, 0x03CA}, {805, 0x0402}, {819, 0x0450}, {820, 0x0452},
    {7922, 0x2011}, {7924, 0x2017}, {7925, 0x201A}, {7927, 0x201E}, {7934, 0x2027}, {7943, 0x2031},
    {7944, 0x2034}, {7945, 0x2036}, {7950, 0x203C}, {8062, 0x20AD}, {8148, 0x2104}, {8149, 0x2106},
    {8152, 0x210A}, {8164, 0x2117}, {8174, 0x2122}, {8236, 0x216C}, {8240, 0x217A}, {8262, 0x2194},
    {8264, 0x219A}, {8374, 0x2209}, {8380, 0x2210}, {8381, 0x2212}, {8384, 0x2216}, {8388, 0x221B},
    {8390, 0x2221}, {8392, 0x2224}, {8393, 0x2226}, {8394, 0x222C}, {8396, 0x222F}, {8401, 0x2238},
    {8406, 0x223E}, {8416, 0x2249}, {8419, 0x224D}, {8424, 0x2253}, {8437, 0x2262}, {8439, 0x2268},
    {8445, 0x2270}, {8482, 0x2296}, {8485, 0x229A}, {8496, 0x22A6}, {8521, 0x22C0}, {8603, 0x2313},
    {8936, 0x246A}, {8946, 0x249C}, {9046, 0x254C}, {9050, 0x2574}, {9063, 0x2590}, {9066, 0x2596},
    {9076, 0x25A2}, {9092, 0x25B4}, {9100, 0x25BE}, {9108, 0x25C8}, {9111, 0x25CC}, {9113, 0x25D0},
    {9131, 0x25E6}, {9162, 0x2607}, {9164, 0x260A}, {9218, 0x2641}, {9219, 0x2643},
    {11329, 0x2E82}, {11331, 0x2E85}, {11334, 0x2E89}, {11336, 0x2E8D}, {11346, 0x2E98},
    {11361, 0x2EA8}, {11363, 0x2EAB}, {11366, 0x2EAF}, {11370, 0x2EB4}, {11372, 0x2EB8},
    {11375, 0x2EBC}, {11389, 0x2ECB}, {11682, 0x2FFC}, {11686, 0x3004}, {11687, 0x3018},
    {11692, 0x301F}, {11694, 0x302A}, {11714, 0x303F}, {11716, 0x3094}, {11723, 0x309F},
    {11725, 0x30F7}, {11730, 0x30FF}, {11736, 0x312A}, {11982, 0x322A}, {11989, 0x3232},
    {12102, 0x32A4}, {12336, 0x3390}, {12348, 0x339F}, {12350, 0x33A2}, {12384, 0x33C5},
    {12393, 0x33CF}, {12395, 0x33D3}, {12397, 0x33D6}, {12510, 0x3448}, {12553, 0x3474},
    {12851, 0x359F}, {12962, 0x360F}, {12973, 0x361B}, {13738, 0x3919}, {13823, 0x396F},
    {13919, 0x39D1}, {13933, 0x39E0}, {14080, 0x3A74}, {14298, 0x3B4F}, {14585, 0x3C6F},
    {14698, 0x3CE1}, {15583, 0x4057}, {15847, 0x4160}, {16318, 0x4338}, {16434, 0x43AD},
    {16438, 0x43B2}, {16481, 0x43DE}, {16729, 0x44D7}, {17102, 0x464D}, {17122, 0x4662},
    {17315, 0x4724}, {17320, 0x472A}, {17402, 0x477D}, {17418, 0x478E}, {17859, 0x4948},
    {17909, 0x497B}, {17911, 0x497E}, {17915, 0x4984}, {17916, 0x4987}, {17936, 0x499C},
    {17939, 0x49A0}, {17961, 0x49B8}, {18664, 0x4C78}, {18703, 0x4CA4}, {18814, 0x4D1A},
    {18962, 0x4DAF}, {19043, 0x9FA6}, {33469, 0xE76C}, {33470, 0xE7C8}, {33471, 0xE7E7},
    {33484, 0xE815}, {33485, 0xE819}, {33490, 0xE81F}, {33497, 0xE827}, {33501, 0xE82D},
    {33505, 0xE833}, {33513, 0xE83C}, {33520, 0xE844}, {33536, 0xE856}, {33550, 0xE865},
    {37845, 0xF92D}, {37921, 0xF97A}, {37948, 0xF996}, {38029, 0xF9E8}, {38038, 0xF9F2},
    {38064, 0xFA10}, {38065, 0xFA12}, {38066, 0xFA15}, {38069, 0xFA19}, {38075, 0xFA22},
    {38076, 0xFA25}, {38078, 0xFA2A}, {39108, 0xFE32}, {39109, 0xFE45}, {39113, 0xFE53},
    {39114, 0xFE58}, {39115, 0xFE67}, {39116, 0xFE6C}, {39265, 0xFF5F}, {39394, 0xFFE6},
};
inline constexpr std::uint32_t kBasicPlaneIndices = 39420;
inline constexpr std::uint32_t kSupplementaryIndex = 189000;  // 0x90 0x30 0x81 0x30

inline bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
inline bool IsDigit(unsigned char b) { return b >= 0x30 && b <= 0x39; }

// The system's code page 936: the unit of a two-byte cell (0 when none), the
// two-byte cell of a unit (0 when none; a best fit is none).
class TwoByteTable {
 public:
  virtual char16_t Unit(std::uint16_t cell) = 0;
  virtual std::uint16_t CellOf(char16_t unit) = 0;

 protected:
  ~TwoByteTable() = default;
};

namespace detail {

inline const Cell* ByCharacter(char32_t code) {
  for (const Cell& c : kCellsBeyond936)
    if (c.character == code) return &c;
  return nullptr;
}
inline const Cell* ByPrivate(char32_t code) {
  for (const Cell& c : kCellsBeyond936)
    if (c.private936 == code) return &c;
  return nullptr;
}
inline const Cell* ByBytes(std::uint16_t bytes) {
  for (const Cell& c : kCellsBeyond936)
    if (c.bytes == bytes) return &c;
  return nullptr;
}

// The linear four-byte index of a basic-plane code point; false for one
// between ranges.
inline bool LinearIndex(char32_t code, std::uint32_t* index) {
  constexpr std::size_t n = sizeof kFourByteRanges / sizeof kFourByteRanges[0];
  for (std::size_t i = 0; i < n; ++i) {
    const FourByteRange& r = kFourByteRanges[i];
    const std::uint32_t next = i + 1 < n ? kFourByteRanges[i + 1].index : kBasicPlaneIndices;
    if (code >= r.unit && code - r.unit < next - r.index) {
      *index = r.index + (code - r.unit);
      return true;
    }
  }
  return false;
}

inline char16_t LinearUnit(std::uint32_t index) {
  const FourByteRange* range = kFourByteRanges;
  for (const FourByteRange& r : kFourByteRanges)
    if (r.index <= index) range = &r;
  return static_cast<char16_t>(range->unit + (index - range->index));
}

// A cell of the system's table that reads back as `code`; 0 when none.
inline std::uint16_t SystemCell(TwoByteTable& table, char32_t code) {
  const std::uint16_t cell = table.CellOf(static_cast<char16_t>(code));
  if (!IsLead(static_cast<unsigned char>(cell >> 8)) || ByBytes(cell) != nullptr) return 0;
  return table.Unit(cell) == code ? cell : 0;
}

inline int PutFour(std::uint32_t index, unsigned char* out) {
  out[3] = static_cast<unsigned char>(0x30 + index % 10);
  index /= 10;
  out[2] = static_cast<unsigned char>(0x81 + index % 126);
  index /= 126;
  out[1] = static_cast<unsigned char>(0x30 + index % 10);
  out[0] = static_cast<unsigned char>(0x81 + index / 10);
  return 4;
}

}  // namespace detail

// The bytes of one code point into `out` (room for 4): their count, 0 for a
// code point without bytes (a surrogate, or beyond U+10FFFF).
inline int Encode(TwoByteTable& table, char32_t code, unsigned char* out) {
  using namespace detail;
  if (code < 0x80) {
    out[0] = static_cast<unsigned char>(code);
    return 1;
  }
  if (code == 0x20AC) {
    out[0] = 0x80;
    return 1;
  }
  if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) return 0;
  if (code >= 0x10000) return PutFour(kSupplementaryIndex + (code - 0x10000), out);
  std::uint16_t cell = 0;
  std::uint32_t index = 0;
  if (const Cell* c = ByCharacter(code)) {
    cell = c->bytes;
  } else if (const Cell* p = ByPrivate(code)) {
    // The four-byte code its character left, else its own.
    if (!LinearIndex(p->character, &index) && !LinearIndex(code, &index)) return 0;
    return PutFour(index, out);
  } else {
    cell = SystemCell(table, code);
  }
  if (cell != 0) {
    out[0] = static_cast<unsigned char>(cell >> 8);
    out[1] = static_cast<unsigned char>(cell & 0xFF);
    return 2;
  }
  return LinearIndex(code, &index) ? PutFour(index, out) : 0;
}

// The code point the bytes at `in` (`left` of them) begin with: the count of
// bytes it takes, 0 for bytes that are no character here.
inline int Decode(TwoByteTable& table, const unsigned char* in, std::size_t left, char32_t* code) {
  using namespace detail;
  if (left == 0) return 0;
  if (in[0] < 0x80) {
    *code = in[0];
    return 1;
  }
  if (in[0] == 0x80) {
    *code = 0x20AC;
    return 1;
  }
  if (!IsLead(in[0]) || left < 2) return 0;
  if (IsDigit(in[1])) {
    if (left < 4 || !IsLead(in[2]) || !IsDigit(in[3])) return 0;
    const std::uint32_t index =
        (((in[0] - 0x81u) * 10 + (in[1] - 0x30u)) * 126 + (in[2] - 0x81u)) * 10 + (in[3] - 0x30u);
    if (index < kBasicPlaneIndices) {
      const char16_t unit = LinearUnit(index);
      const Cell* moved = ByCharacter(unit);
      *code = moved != nullptr ? moved->private936 : unit;
      return 4;
    }
    if (index < kSupplementaryIndex || index - kSupplementaryIndex > 0xFFFFF) return 0;
    *code = 0x10000 + (index - kSupplementaryIndex);
    return 4;
  }
  if (in[1] < 0x40 || in[1] == 0x7F || in[1] == 0xFF) return 0;
  const auto cell = static_cast<std::uint16_t>(in[0] << 8 | in[1]);
  if (const Cell* c = ByBytes(cell)) {
    *code = c->character;
    return 2;
  }
  const char16_t unit = table.Unit(cell);
  if (unit == 0 || SystemCell(table, unit) != cell) return 0;
  *code = unit;
  return 2;
}

}  // namespace gb18030
