// Owners for platform handles and allocations: whatever a function opens is
// closed on every way out of it.
#pragma once

#include "platform/win_api.h"

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource(win::Api& api, Value value) : api_(&api), value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : api_(other.api_), value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = other.api_;
      value_ = other.release();
    }
    return *this;
  }

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }
  // Closes what is held (the result is not wanted) and holds `value` instead.
  void reset(Value value = Traits::Invalid()) {
    if (value == value_) return;
    if (valid()) Traits::Close(*api_, value_);
    value_ = value;
  }
  // Gives up ownership without closing.
  Value release() {
    const Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  // Closes what is held and reports whether the close succeeded; false when
  // nothing was held. Either way nothing is held afterwards.
  bool close() {
    if (!valid()) return false;
    return Traits::Close(*api_, release());
  }

 private:
  win::Api* api_;
  Value value_;
};

// A handle that CloseHandle closes; 0 means none.
struct HandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return 0; }
  static bool Close(win::Api& api, Value v) { return api.CloseHandle(v) != win::FALSE; }
};
// The same for calls that fail with INVALID_HANDLE_VALUE (snapshots, files).
struct FileHandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return win::INVALID_HANDLE_VALUE; }
  static bool Close(win::Api& api, Value v) { return api.CloseHandle(v) != win::FALSE; }
};
struct FindHandleTraits {
  using Value = win::HANDLE;
  static Value Invalid() { return win::INVALID_HANDLE_VALUE; }
  static bool Close(win::Api& api, Value v) { return api.FindClose(v) != win::FALSE; }
};
struct KeyTraits {
  using Value = win::HKEY;
  static Value Invalid() { return 0; }
  static bool Close(win::Api& api, Value v) { return api.RegCloseKey(v) == 0; }
};
struct HeapTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static bool Close(win::Api& api, Value v) {
    return api.HeapFree(api.GetProcessHeap(), 0, v) != win::FALSE;
  }
};
struct LocalTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static bool Close(win::Api& api, Value v) { return api.LocalFree(v) == nullptr; }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueKey = UniqueResource<KeyTraits>;
using UniqueHeap = UniqueResource<HeapTraits>;
using UniqueLocal = UniqueResource<LocalTraits>;
