// The release installer runs without exceptions. The standard library's
// throw helpers and the verbose terminate handler would otherwise pull in
// unwinding and the demangler: a failed allocation or a broken bound ends
// the process at once instead.
#include <cstdlib>
#include <new>

namespace std {
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { abort(); }
}  // namespace std

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) std::abort();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
