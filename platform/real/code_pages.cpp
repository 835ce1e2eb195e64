// The 8-bit <-> UTF-16 layer. The program's text is code page 936, but
// Windows reads an A call's text in the system's ANSI code page, which may be
// any other: every A call converts its texts itself and calls the W twin. A
// cut text must end on a whole character, and a path may outgrow MAX_PATH.
#include "platform/real/real_backend.h"

namespace real {

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
                     : ::MultiByteToWideChar(kTextCodePage, 0, text, count, small_,
                                             static_cast<int>(capacity_ - 1));
  if (n == 0 && count != 0) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    n = ::MultiByteToWideChar(kTextCodePage, 0, text, count, nullptr, 0);
    if (n <= 0 || !Reserve(static_cast<::DWORD>(n) + 1)) return false;
    n = ::MultiByteToWideChar(kTextCodePage, 0, text, count, heap_, n);
  }
  data()[n] = L'\0';
  return true;
}

int TextBytes(const wchar_t* wide, int count) {
  return count > 0 ? ::WideCharToMultiByte(kTextCodePage, 0, wide, count, nullptr, 0, nullptr,
                                           nullptr)
                   : 0;
}

int PutText(const wchar_t* wide, int count, char* out, int size) {
  if (out == nullptr || size <= 0) return 0;
  int n = 0;
  // Every unit takes at least one byte.
  for (int units = count < size - 1 ? count : size - 1; units > 0 && n == 0; --units) {
    if (units < count && wide[units - 1] >= 0xD800 && wide[units - 1] < 0xDC00) continue;
    n = ::WideCharToMultiByte(kTextCodePage, 0, wide, units, out, size - 1, nullptr, nullptr);
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
  return ::WideCharToMultiByte(codePage, flags, Wide(wide), wideCount, text, textSize, nullptr,
                               nullptr);
}

int Backend::MultiByteToWideChar(win::UINT codePage, win::DWORD flags, const char* text, int textCount,
                               win::WCHAR* wide, int wideSize) {
  return ::MultiByteToWideChar(codePage, flags, text, textCount, Wide(wide), wideSize);
}

}  // namespace real
