// Owners for platform handles and allocations: whatever a function opens is
// closed on every way out of it.
#pragma once

#include "platform/win_api.h"

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource(win::Api& api, Value value) : api_(api), value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }
  void reset() {
    if (valid()) Traits::Close(api_, value_);
    value_ = Traits::Invalid();
  }

 private:
  win::Api& api_;
  Value value_;
};

// A handle that CloseHandle closes; 0 means none.
struct HandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return 0; }
  static void Close(win::Api& api, Value v) { api.CloseHandle(v); }
};
// The same for calls that fail with INVALID_HANDLE_VALUE (snapshots, files).
struct FileHandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return win::INVALID_HANDLE_VALUE; }
  static void Close(win::Api& api, Value v) { api.CloseHandle(v); }
};
struct FindHandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return win::INVALID_HANDLE_VALUE; }
  static void Close(win::Api& api, Value v) { api.FindClose(v); }
};
struct KeyTraits {
  using Value = win::HKEY;
  static Value Invalid() { return 0; }
  static void Close(win::Api& api, Value v) { api.RegCloseKey(v); }
};
struct HeapTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static void Close(win::Api& api, Value v) { api.HeapFree(api.GetProcessHeap(), 0, v); }
};
struct LocalTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static void Close(win::Api& api, Value v) { api.LocalFree(v); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueKey = UniqueResource<KeyTraits>;
using UniqueHeap = UniqueResource<HeapTraits>;
using UniqueLocal = UniqueResource<LocalTraits>;
