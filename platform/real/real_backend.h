// What the real backend's files share: the Windows headers, the handle and
// text casts, the code-page layer's text buffer and the backend class.
//
// The seam's header comes first: <windows.h> defines macros (TRUE,
// ERROR_SUCCESS, WM_QUIT, ...) that would clash with the seam's own constants.
#pragma once

#include "platform/win_api.h"

#include <cstddef>
#include <cstdint>

#undef UNICODE
#undef _UNICODE
#include <windows.h>

namespace real {

template <class Fn>
Fn Lookup(const char* module, const char* name) {
  const auto address = reinterpret_cast<std::uintptr_t>(::GetProcAddress(::GetModuleHandleA(module), name));
  return reinterpret_cast<Fn>(address);
}

template <class T>
T To(std::uintptr_t value) {
  return reinterpret_cast<T>(value);
}

template <class T>
std::uintptr_t From(T* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

inline const wchar_t* Wide(const win::WCHAR* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(win::WCHAR* text) { return reinterpret_cast<wchar_t*>(text); }

// The program's text is code page 936 whatever the system's ANSI code page:
// each 8-bit operation converts its texts and calls the platform's UTF-16 twin.
// It converts with GB18030 (54936), which gives the same bytes as 936 for
// every character 936 has and holds every other one too: a path the system
// hands out (a folder named "Thistlegarden ♪", a user name in Korean) comes
// back to it unchanged.
constexpr ::UINT kTextCodePage = 54936;
constexpr ::DWORD kLongestPath = 32768;

// UTF-16 text for a W call: on the stack when it fits a path, else on the heap.
// Null and atoms (values below 0x10000) given for a text pass through as they are.
class WideText16 {
 public:
  WideText16() = default;
  explicit WideText16(const char* text, int count = -1);
  WideText16(const WideText16&) = delete;
  WideText16& operator=(const WideText16&) = delete;
  ~WideText16();

  // False when the text could not be converted (the last error says why).
  bool ok() const { return ok_; }
  wchar_t* get() { return passed_ ? atom_ : data(); }
  wchar_t* data() { return heap_ != nullptr ? heap_ : small_; }
  ::DWORD capacity() const { return capacity_; }

  // Room for `units` UTF-16 units; the content is lost when it grows.
  bool Reserve(::DWORD units);

 private:
  // `count` bytes of `text`, or up to its terminator when -1; terminated.
  bool Assign(const char* text, int count);

  wchar_t small_[MAX_PATH + 1];
  wchar_t* heap_ = nullptr;
  wchar_t* atom_ = nullptr;
  bool passed_ = false;
  ::DWORD capacity_ = MAX_PATH + 1;
  bool ok_ = true;
};

// The bytes `count` units of `wide` take in the program's 8-bit text.
int TextBytes(const wchar_t* wide, int count);

// Writes `count` units of `wide` into `out` as at most size - 1 bytes and a
// terminator, cut after a whole character; the bytes written before the
// terminator.
int PutText(const wchar_t* wide, int count, char* out, int size);

// What an A call that reports the room it needs answers: the text's bytes
// when `out` holds them, else the bytes needed with the terminator.
::DWORD PathAnswer(const wchar_t* wide, ::DWORD count, char* out, ::DWORD size);

// Runs a W call that answers like GetTempPathW, growing the buffer as asked;
// the units it wrote, 0 on failure.
template <class Call>
::DWORD FetchPath(WideText16& wide, Call call) {
  ::DWORD n = call(wide.data(), wide.capacity());
  while (n >= wide.capacity()) {
    if (!wide.Reserve(n + 1)) return 0;
    n = call(wide.data(), wide.capacity());
  }
  return n;
}

// Writes a W call's path into an A caller's buffer, answering as the A call would.
template <class Call>
::DWORD PathInto(char* buffer, ::DWORD size, Call call) {
  WideText16 wide;
  const ::DWORD n = FetchPath(wide, call);
  return n == 0 ? 0 : PathAnswer(wide.data(), n, buffer, size);
}

using MessageBoxTimeoutFn = int(WINAPI*)(::HWND, LPCWSTR, LPCWSTR, ::UINT, ::WORD, ::DWORD);
using RtlAdjustPrivilegeFn = ::LONG(NTAPI*)(::ULONG, ::BOOLEAN, ::BOOLEAN, ::BOOLEAN*);
using NtQueryInformationProcessFn = ::LONG(NTAPI*)(::HANDLE, ::ULONG, void*, ::ULONG, ::ULONG*);

// win::Api forwarded to Windows; each call lives in the file of its area
// in platform/calls.def (program: real_api.cpp).
class Backend final : public win::Api {
 public:
  Backend();

#define WIN_CALL(area, type, name, params, args, failure, fault, note) type name params override;
#include "platform/calls.def"
#undef WIN_CALL

 private:
  MessageBoxTimeoutFn messageBoxTimeout_;
  RtlAdjustPrivilegeFn adjustPrivilege_;
  NtQueryInformationProcessFn queryProcess_;
};

}  // namespace real
