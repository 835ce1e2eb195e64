// The simulated code pages: iconv behind the machine's conversions.
#include "platform/sim/code_pages.h"

#include <iconv.h>

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

// Code page 936 first (its euro sign is 0x80, GB18030's is 0xA2E3), then
// GB18030 for what 936 lacks: as the real backend converts.
std::string NarrowPath(const win::WCHAR* wide) {
  static Recoder cp936("CP936", "UTF-16LE");
  static Recoder gb18030("GB18030", "UTF-16LE");
  std::string out;
  for (; *wide; ++wide) {
    const bool pair = IsHighSurrogate(wide[0]) && IsLowSurrogate(wide[1]);
    const char units[4] = {static_cast<char>(wide[0] & 0xFF), static_cast<char>(wide[0] >> 8),
                           static_cast<char>(pair ? wide[1] & 0xFF : 0),
                           static_cast<char>(pair ? wide[1] >> 8 : 0)};
    if (!(!pair && cp936.Append(units, 2, out)) && !gb18030.Append(units, pair ? 4 : 2, out))
      out += '?';
    if (pair) ++wide;
  }
  return out;
}

std::u16string WidenPath(const std::string& text) {
  static Recoder cp936("UTF-16LE", "CP936");
  static Recoder gb18030("UTF-16LE", "GB18030");
  std::string bytes;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = b >= 0x81 && b <= 0xFE ? 2 : 1;
    if (len == 2 && i + 1 < text.size() && text[i + 1] >= 0x30 && text[i + 1] <= 0x39) len = 4;
    if (i + len > text.size() ||
        !((len < 4 && cp936.Append(text.data() + i, len, bytes)) ||
          gb18030.Append(text.data() + i, len, bytes))) {
      // A text that does not convert is widened byte by byte.
      std::u16string wide;
      for (char c : text) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
      return wide;
    }
    i += len;
  }
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
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

// Conversions run through iconv, one character at a time, so that a
// character the code page lacks becomes its default character ("?") and an
// invalid byte sequence becomes U+003F, as the platform's conversions do.
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
  // GB18030 is 936 where 936 has the character (as the real backend has it).
  Recoder* first = codePage == 54936 ? converters_->Get(936, false) : nullptr;
  std::string out;
  // Unit by unit, as the platform does: each half of a surrogate pair, which
  // the code page cannot hold, becomes a default character of its own; GB18030
  // holds every character, pairs too.
  for (std::size_t i = 0; i < count; ++i) {
    const bool pair = codePage == 54936 && i + 1 < count && IsHighSurrogate(wide[i]) &&
                      IsLowSurrogate(wide[i + 1]);
    char in[4] = {static_cast<char>(wide[i] & 0xFF), static_cast<char>(wide[i] >> 8), 0, 0};
    if (pair) {
      in[2] = static_cast<char>(wide[i + 1] & 0xFF);
      in[3] = static_cast<char>(wide[i + 1] >> 8);
    }
    if (!(first && !pair && first->Append(in, 2, out)) && !recoder->Append(in, pair ? 4 : 2, out))
      out += '?';
    if (pair) ++i;
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
  Recoder* first = codePage == 54936 ? converters_->Get(936, true) : nullptr;
  std::string out;
  for (std::size_t i = 0; i < count;) {
    auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = 1;
    if ((codePage == 936 || codePage == 54936) && b >= 0x81 && b <= 0xFE) len = 2;
    // GB18030's four-byte characters: a digit where the second byte stands.
    if (codePage == 54936 && len == 2 && i + 1 < count && text[i + 1] >= 0x30 && text[i + 1] <= 0x39)
      len = 4;
    if (codePage == 65001) len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    if (i + len > count ||
        !((first && len < 4 && first->Append(text + i, len, out)) || recoder->Append(text + i, len, out))) {
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
