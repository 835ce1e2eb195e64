// The simulated code pages: iconv behind the machine's conversions.
#include "platform/sim/code_pages.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <tuple>

#include "platform/sim/model.h"

namespace sim {

namespace {

iconv_t Cd(void* cd) { return static_cast<iconv_t>(cd); }
const auto kNoCd = reinterpret_cast<iconv_t>(-1);

}  // namespace

Recoder::Recoder(const char* to, const char* from) : cd_(iconv_open(to, from)) {}

Recoder::~Recoder() {
  if (ok()) iconv_close(Cd(cd_));
}

bool Recoder::ok() const { return Cd(cd_) != kNoCd; }

bool Recoder::Append(const char* in, std::size_t size, std::string& out) {
  if (!ok()) return false;
  iconv(Cd(cd_), nullptr, nullptr, nullptr, nullptr);
  // One character fits the buffer on the stack; a whole text takes the heap.
  char small[32];
  std::string large;
  const std::size_t room = size * 4 + 8;
  if (room > sizeof small) large.resize(room);
  char* buffer = room > sizeof small ? large.data() : small;
  const std::size_t total = room > sizeof small ? room : sizeof small;
  char* src = const_cast<char*>(in);
  char* dst = buffer;
  std::size_t inLeft = size;
  std::size_t outLeft = total;
  if (iconv(Cd(cd_), &src, &inLeft, &dst, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
    return false;
  out.append(buffer, total - outLeft);
  return true;
}

std::string Recode(const char* to, const char* from, const std::string& text) {
  Recoder recoder(to, from);
  std::string out;
  if (!recoder.Append(text.data(), text.size(), out)) out.clear();
  return out;
}

bool IsHighSurrogate(win::WCHAR unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLowSurrogate(win::WCHAR unit) { return unit >= 0xDC00 && unit < 0xE000; }

const char* CodePageName(win::UINT codePage) {
  switch (codePage) {
    case 936: return "CP936";
    case 54936: return "GB18030";
    case 1252: return "CP1252";
    case 437: return "CP437";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
  }
  return nullptr;
}

Windows936& Windows936::Get() {
  static Windows936 table;
  return table;
}

Windows936::Windows936() : units_(0x10000, 0), cells_(0x10000, 0) {
  Recoder cp936("UTF-16LE", "CP936");
  // The cells glibc leaves out, by area: user-defined areas 1 (0xAAA1...),
  // 2 (0xF8A1...) and 3 (0xA140...), then the others in order.
  std::vector<std::uint16_t> missing[4];
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const auto cell = static_cast<std::uint16_t>(lead << 8 | trail);
      std::string out;
      if (cp936.Append(bytes, 2, out) && out.size() == 2) {
        units_[cell] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                             static_cast<unsigned char>(out[1]) << 8);
        continue;
      }
      const int area = lead >= 0xAA && lead <= 0xAF && trail >= 0xA1   ? 0
                       : lead >= 0xF8 && trail >= 0xA1                ? 1
                       : lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0 ? 2
                                                                       : 3;
      missing[area].push_back(cell);
    }
  }
  char16_t next = 0xE000;
  for (const auto& area : missing)
    for (std::uint16_t cell : area) units_[cell] = next++;
  for (std::size_t cell = 0; cell < units_.size(); ++cell)
    if (units_[cell] != 0) cells_[units_[cell]] = static_cast<std::uint16_t>(cell);
}

std::string NarrowPath(const win::WCHAR* wide) {
  std::string out;
  for (; *wide; ++wide) {
    char32_t code = wide[0];
    if (IsHighSurrogate(wide[0]) && IsLowSurrogate(wide[1])) {
      code = 0x10000 + ((wide[0] - 0xD800u) << 10) + (wide[1] - 0xDC00u);
      ++wide;
    }
    unsigned char bytes[4];
    const int n = gb18030::Encode(Windows936::Get(), code, bytes);
    if (n > 0) {
      out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += '\xFF';
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    }
  }
  return out;
}

std::u16string WidenPath(const std::string& text) {
  std::u16string wide;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    const int n = gb18030::Decode(Windows936::Get(), bytes + i, text.size() - i, &code);
    if (n == 0 && bytes[i] == 0xFF && i + 5 <= text.size() &&
        std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i + 1),
                    text.begin() + static_cast<std::ptrdiff_t>(i + 5),
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
      code = static_cast<char32_t>(std::stoul(text.substr(i + 1, 4), nullptr, 16));
      i += 5;
    } else if (n == 0) {
      // A text that does not convert is widened byte by byte.
      wide.clear();
      for (char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
      return wide;
    } else {
      i += static_cast<std::size_t>(n);
    }
    if (code >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

Recoder* Recoders::Get(win::UINT codePage, bool toWide) {
  const auto key = std::make_pair(codePage, toWide);
  auto it = open_.find(key);
  if (it != open_.end()) return &it->second;
  const char* name = CodePageName(codePage);
  if (!name) return nullptr;
  it = open_.emplace(std::piecewise_construct, std::forward_as_tuple(key),
                     std::forward_as_tuple(toWide ? "UTF-16LE" : name, toWide ? name : "UTF-16LE"))
           .first;
  if (it->second.ok()) return &it->second;
  open_.erase(it);
  return nullptr;
}

// ---------------------------------------------------------------- kernel32

// Conversions run one character at a time, so that a character the code page
// lacks becomes its default character ("?") and an invalid byte sequence
// becomes U+003F, as the platform's conversions do: 936 through Windows'
// table, 54936 as the real backend converts it (failing instead), the others
// through iconv.
int Model::WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount,
                                 char* text, int textSize) {
  return ToText(codePage, flags, wide, wideCount, text, textSize);
}

int Model::ToText(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* text,
                    int textSize) {
  if (!converters_) converters_ = std::make_unique<Recoders>();
  Recoder* recoder = converters_->Get(codePage, false);
  if (!wide || textSize < 0 || flags != 0 || !recoder) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::size_t count = 0;
  if (wideCount < 0) {
    while (wide[count]) ++count;
    ++count;
  } else {
    count = static_cast<std::size_t>(wideCount);
  }
  std::string out;
  Windows936& table = Windows936::Get();
  for (std::size_t i = 0; i < count; ++i) {
    char32_t code = wide[i];
    if (codePage == 54936) {
      // Every character has bytes, pairs too; a lone surrogate has none.
      if (IsHighSurrogate(wide[i]) && i + 1 < count && IsLowSurrogate(wide[i + 1])) {
        code = 0x10000 + ((wide[i] - 0xD800u) << 10) + (wide[i + 1] - 0xDC00u);
        ++i;
      }
      unsigned char bytes[4];
      const int n = gb18030::Encode(table, code, bytes);
      if (n == 0) {
        lastError_ = win::ERROR_NO_UNICODE_TRANSLATION;
        return 0;
      }
      out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
      continue;
    }
    if (codePage == 936 && code >= 0x80) {
      // Unit by unit, as the platform does: each half of a surrogate pair
      // becomes a default character of its own.
      const std::uint16_t cell = code == 0x20AC ? 0x80 : table.CellOf(static_cast<char16_t>(code));
      if (cell == 0) {
        out += '?';
      } else {
        if (cell > 0xFF) out += static_cast<char>(cell >> 8);
        out += static_cast<char>(cell & 0xFF);
      }
      continue;
    }
    const char in[2] = {static_cast<char>(wide[i] & 0xFF), static_cast<char>(wide[i] >> 8)};
    if (!recoder->Append(in, 2, out)) out += '?';
  }
  if (textSize == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<std::size_t>(textSize)) {
    lastError_ = win::ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

int Model::MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int textCount,
                                 WCHAR* wide, int wideSize) {
  return ToWide(codePage, flags, text, textCount, wide, wideSize);
}

int Model::ToWide(UINT codePage, DWORD flags, const char* text, int textCount, WCHAR* wide,
                    int wideSize) {
  if (!converters_) converters_ = std::make_unique<Recoders>();
  Recoder* recoder = converters_->Get(codePage, true);
  if (!text || wideSize < 0 || flags != 0 || !recoder) {
    lastError_ = win::ERROR_INVALID_PARAMETER;
    return 0;
  }
  std::size_t count =
      textCount < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(textCount);
  std::string out;
  Windows936& table = Windows936::Get();
  auto put = [&out](char32_t code) {
    auto unit = [&out](char32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8 & 0xFF);
    };
    if (code < 0x10000) {
      unit(code);
    } else {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  };
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < count;) {
    const unsigned char b = bytes[i];
    if (codePage == 54936) {
      // Bytes that are no character fail whole: no other name stands in.
      char32_t code = 0;
      const int n = gb18030::Decode(table, bytes + i, count - i, &code);
      if (n == 0) {
        lastError_ = win::ERROR_NO_UNICODE_TRANSLATION;
        return 0;
      }
      put(code);
      i += static_cast<std::size_t>(n);
      continue;
    }
    if (codePage == 936 && b >= 0x80) {
      // An invalid byte sequence becomes U+003F, one byte at a time.
      const char16_t unit = b == 0x80 ? u'\u20AC'
                            : i + 1 < count ? table.Unit(static_cast<std::uint16_t>(b << 8 | bytes[i + 1]))
                                            : 0;
      put(unit != 0 ? unit : u'?');
      i += unit != 0 && b != 0x80 ? 2 : 1;
      continue;
    }
    std::size_t len = 1;
    if (codePage == 65001) len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (i + len > count || !recoder->Append(text + i, len, out)) {
      out += '?';
      out += '\0';
      len = 1;
    }
    i += len;
  }
  std::size_t units = out.size() / 2;
  if (wideSize == 0) return static_cast<int>(units);
  if (units > static_cast<std::size_t>(wideSize)) {
    lastError_ = win::ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  for (std::size_t u = 0; u < units; ++u)
    wide[u] = static_cast<WCHAR>(static_cast<unsigned char>(out[2 * u]) |
                                 static_cast<unsigned char>(out[2 * u + 1]) << 8);
  return static_cast<int>(units);
}

}  // namespace sim
