// The 8-bit <-> UTF-16 layer. The program's text is code page 936 (read as
// GB18030, its superset, so that no path is lost: platform/gb18030.h), but
// Windows reads an A call's text in the system's ANSI code page, which may be
// any other: every A call converts its texts itself and calls the W twin. A
// cut text must end on a whole character, and a path may outgrow MAX_PATH.
#include "platform/real/real_backend.h"

#include "platform/gb18030.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace real {

namespace {

constexpr ::UINT kGb18030 = 54936;

// The system's code page 936, for the two-byte cells of 54936.
class System936 final : public gb18030::TwoByteTable {
 public:
  char16_t Unit(std::uint16_t cell) override {
    const char bytes[2] = {static_cast<char>(cell >> 8), static_cast<char>(cell & 0xFF)};
    wchar_t unit = 0;
    return ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes, 2, &unit, 1) == 1
               ? static_cast<char16_t>(unit)
               : 0;
  }
  std::uint16_t CellOf(char16_t unit) override {
    const wchar_t wide = unit;
    unsigned char two[2] = {};
    BOOL defaulted = FALSE;
    const int got = ::WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide, 1,
                                          reinterpret_cast<char*>(two), 2, nullptr, &defaulted);
    return got == 2 && !defaulted ? static_cast<std::uint16_t>(two[0] << 8 | two[1]) : 0;
  }
};

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

// Bytes that are no character (a cut one, say) and a lone surrogate fail
// with ERROR_NO_UNICODE_TRANSLATION: no other name stands in for them.
int Gb18030ToWide(const char* text, int count, wchar_t* wide, int size) {
  if (text == nullptr || size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t n = count < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(count);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  System936 system;
  std::wstring out;
  for (std::size_t i = 0; i < n;) {
    char32_t code = 0;
    const int used = gb18030::Decode(system, bytes + i, n - i, &code);
    if (used == 0) {
      ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    if (code >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
    i += static_cast<std::size_t>(used);
  }
  return Deliver(out, wide, size);
}

int WideToGb18030(const wchar_t* wide, int count, char* text, int size) {
  if (wide == nullptr || size < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t n = count < 0 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(count);
  System936 system;
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    char32_t code = static_cast<char16_t>(wide[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000)
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00u);
    unsigned char bytes[4];
    const int got = gb18030::Encode(system, code, bytes);
    if (got == 0) {
      ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(got));
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
    // A text that holds no bytes for a unit is no text: not a shorter one.
    if (n == 0 && ::GetLastError() == ERROR_NO_UNICODE_TRANSLATION) break;
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
