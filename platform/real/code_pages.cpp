// The 8-bit <-> UTF-16 layer. The program's text is code page 936 (read as
// GB18030, its superset, so that no path is lost), but
// Windows reads an A call's text in the system's ANSI code page, which may be
// any other: every A call converts its texts itself and calls the W twin. A
// cut text must end on a whole character, and a path may outgrow MAX_PATH.
#include "platform/real/real_backend.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace real {

namespace {

// GB18030 (54936), which Wine's conversions lack: one- and two-byte
// characters are code page 936's; the four-byte ones are counted off in
// order. In the basic plane they run through the characters that have no
// two-byte code, in ranges that start at these (index, unit) pairs; from
// 0x90308130 on they are the supplementary planes, in order.
struct FourByteRange {
  ::DWORD index;
  wchar_t unit;
};
constexpr FourByteRange kFourByteRanges[] = {
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
constexpr ::DWORD kBasicPlaneIndices = 39420;
constexpr ::DWORD kSupplementaryIndex = 189000;  // 0x90308130

constexpr ::UINT kGb18030 = 54936;

::DWORD FourByteIndex(const unsigned char* b) {
  return (((b[0] - 0x81u) * 10 + (b[1] - 0x30u)) * 126 + (b[2] - 0x81u)) * 10 + (b[3] - 0x30u);
}

bool IsFourByte(const unsigned char* b, std::size_t left) {
  return left >= 4 && b[0] >= 0x81 && b[0] <= 0xFE && b[1] >= 0x30 && b[1] <= 0x39 &&
         b[2] >= 0x81 && b[2] <= 0xFE && b[3] >= 0x30 && b[3] <= 0x39;
}

// The units of one four-byte character (0: none such).
int FourByteUnits(const unsigned char* b, wchar_t* units) {
  const ::DWORD index = FourByteIndex(b);
  if (index < kBasicPlaneIndices) {
    const FourByteRange* range = kFourByteRanges;
    for (const FourByteRange& r : kFourByteRanges)
      if (r.index <= index) range = &r;
    units[0] = static_cast<wchar_t>(range->unit + (index - range->index));
    return 1;
  }
  if (index < kSupplementaryIndex || index - kSupplementaryIndex > 0xFFFFF) return 0;
  const ::DWORD code = index - kSupplementaryIndex;
  units[0] = static_cast<wchar_t>(0xD800 + (code >> 10));
  units[1] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
  return 2;
}

// The four bytes of a character code page 936 lacks; false for a unit in
// no range (a lone surrogate).
bool ToFourBytes(::DWORD code, unsigned char* b) {
  ::DWORD index = 0;
  if (code >= 0x10000) {
    index = kSupplementaryIndex + (code - 0x10000);
  } else {
    if (code < 0x80 || (code >= 0xD800 && code < 0xE000)) return false;
    const FourByteRange* range = nullptr;
    for (const FourByteRange& r : kFourByteRanges)
      if (r.unit <= code) range = &r;
    if (range == nullptr) return false;
    index = range->index + (code - range->unit);
  }
  b[3] = static_cast<unsigned char>(0x30 + index % 10);
  index /= 10;
  b[2] = static_cast<unsigned char>(0x81 + index % 126);
  index /= 126;
  b[1] = static_cast<unsigned char>(0x30 + index % 10);
  b[0] = static_cast<unsigned char>(0x81 + index / 10);
  return true;
}

// What fits, or the room needed when `size` is 0; 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
template <class Unit>
int Deliver(const std::basic_string<Unit>& out, Unit* buffer, int size) {
  if (size == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<std::size_t>(size)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (std::size_t i = 0; i < out.size(); ++i) buffer[i] = out[i];
  return static_cast<int>(out.size());
}

int Gb18030ToWide(const char* text, int count, wchar_t* wide, int size) {
  if (text == nullptr || size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t n = count < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(count);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::wstring out;
  for (std::size_t i = 0; i < n;) {
    wchar_t units[2] = {};
    if (IsFourByte(bytes + i, n - i) && FourByteUnits(bytes + i, units) > 0) {
      out.append(units, units[1] != 0 ? 2 : 1);
      i += 4;
      continue;
    }
    const std::size_t len = bytes[i] >= 0x81 && bytes[i] <= 0xFE && i + 1 < n ? 2 : 1;
    if (bytes[i] < 0x80) {
      out += static_cast<wchar_t>(bytes[i]);
    } else if (::MultiByteToWideChar(936, 0, text + i, static_cast<int>(len), units, 2) == 1) {
      out += units[0];
    } else {
      out += L'?';
    }
    i += len;
  }
  return Deliver(out, wide, size);
}

int WideToGb18030(const wchar_t* wide, int count, char* text, int size) {
  if (wide == nullptr || size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t n = count < 0 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(count);
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const wchar_t unit = wide[i];
    if (unit < 0x80) {
      out += static_cast<char>(unit);
      continue;
    }
    unsigned char four[4];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      const ::DWORD code = 0x10000 + ((unit - 0xD800u) << 10) + (wide[i + 1] - 0xDC00u);
      ToFourBytes(code, four);
      out.append(reinterpret_cast<const char*>(four), 4);
      ++i;
      continue;
    }
    char two[2];
    BOOL defaulted = FALSE;
    const int got = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &unit, 1, two, 2, nullptr,
                                          &defaulted);
    if (got > 0 && !defaulted) {
      out.append(two, static_cast<std::size_t>(got));
    } else if (ToFourBytes(unit, four)) {
      out.append(reinterpret_cast<const char*>(four), 4);
    } else {
      out += '?';
    }
  }
  return Deliver(out, text, size);
}

// The system's conversions, with GB18030 done here.
int ToUnits(::UINT codePage, ::DWORD flags, const char* text, int count, wchar_t* wide, int size) {
  if (codePage == kGb18030 && flags == 0) return Gb18030ToWide(text, count, wide, size);
  return ::MultiByteToWideChar(codePage, flags, text, count, wide, size);
}

int ToBytes(::UINT codePage, ::DWORD flags, const wchar_t* wide, int count, char* text, int size) {
  if (codePage == kGb18030 && flags == 0) return WideToGb18030(wide, count, text, size);
  return ::WideCharToMultiByte(codePage, flags, wide, count, text, size, nullptr, nullptr);
}

}  // namespace


WideText16::WideText16(const char* text, int count) {
  if (reinterpret_cast<std::uintptr_t>(text) >> 16 == 0) {
    passed_ = true;
    atom_ = reinterpret_cast<wchar_t*>(const_cast<char*>(text));
    return;
  }
  ok_ = Assign(text, count);
}

WideText16::~WideText16() {
  if (heap_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, heap_);
}

bool WideText16::Reserve(::DWORD units) {
  if (units <= capacity_) return true;
  void* grown = ::HeapAlloc(::GetProcessHeap(), 0, units * sizeof(wchar_t));
  if (grown == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (heap_ != nullptr) ::HeapFree(::GetProcessHeap(), 0, heap_);
  heap_ = static_cast<wchar_t*>(grown);
  capacity_ = units;
  return true;
}

bool WideText16::Assign(const char* text, int count) {
  int n = count == 0 ? 0
                     : ToUnits(kTextCodePage, 0, text, count, small_,
                                             static_cast<int>(capacity_ - 1));
  if (n == 0 && count != 0) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    n = ToUnits(kTextCodePage, 0, text, count, nullptr, 0);
    if (n <= 0 || !Reserve(static_cast<::DWORD>(n) + 1)) return false;
    n = ToUnits(kTextCodePage, 0, text, count, heap_, n);
  }
  data()[n] = L'\0';
  return true;
}

int TextBytes(const wchar_t* wide, int count) {
  return count > 0 ? ToBytes(kTextCodePage, 0, wide, count, nullptr, 0) : 0;
}

int PutText(const wchar_t* wide, int count, char* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  int n = 0;
  // Every unit takes at least one byte.
  for (int units = count < size - 1 ? count : size - 1; units > 0 && n == 0; --units) {
    if (units < count && wide[units - 1] >= 0xD800 && wide[units - 1] < 0xDC00) continue;
    n = ToBytes(kTextCodePage, 0, wide, units, out, size - 1);
  }
  out[n] = '\0';
  return n;
}

::DWORD PathAnswer(const wchar_t* wide, ::DWORD count, char* out, ::DWORD size) {
  const auto bytes = static_cast<::DWORD>(TextBytes(wide, static_cast<int>(count)));
  if (out == nullptr || bytes >= size) return bytes + 1;
  PutText(wide, static_cast<int>(count), out, static_cast<int>(size));
  return bytes;
}

int Backend::WideCharToMultiByte(win::UINT codePage, win::DWORD flags, const win::WCHAR* wide,
                               int wideCount, char* text, int textSize) {
  return ToBytes(codePage, flags, Wide(wide), wideCount, text, textSize);
}

int Backend::MultiByteToWideChar(win::UINT codePage, win::DWORD flags, const char* text, int textCount,
                               win::WCHAR* wide, int wideSize) {
  return ToUnits(codePage, flags, text, textCount, Wide(wide), wideSize);
}

}  // namespace real
