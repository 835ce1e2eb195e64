// Under AddressSanitizer every block of more than 128 KiB is a mapping of
// its own, unmapped when freed: each run of a sweep faulted its megabytes
// (the assembly, the payload, the disk's copies) in afresh, page by page,
// shadow and all. Here a freed large block of the test program is kept,
// poisoned, and handed out again for a block of exactly its size (a sweep's
// runs ask for the same sizes again and again). Small blocks, aligned and
// array allocations go to the sanitizer as before.
//
// What still reports: an access to a kept block (as use-after-poison), an
// access past a block's end, a block deleted twice, one freed by the other
// family (new/free, new[]), one deleted with another size, a leak. What is
// shorter: the time a large block stays poisoned after its delete, until a
// block of its size is asked for again, often in the next run (the
// sanitizer's quarantine kept it longer). A leak check asked for in the
// middle of a run counts the kept blocks too; the one at exit does not.
#if defined(__SANITIZE_ADDRESS__)

#include <dlfcn.h>
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

// The sanitizer's allocator interface (GCC ships no header of it).
extern "C" int __sanitizer_get_ownership(const volatile void* block);
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);

namespace {

constexpr std::size_t kLarge = std::size_t{1} << 17;
constexpr std::size_t kMaxKept = 64;
constexpr std::size_t kMaxKeptBytes = std::size_t{192} << 20;
// What the sanitizer writes over the start of a new block (max_malloc_fill_size).
constexpr std::size_t kFillPrefix = 4096;
constexpr unsigned char kFillByte = 0xbe;

// Addresses are held inverted: to the leak checker a kept block is no root
// (what only its old bytes point to is still a leak) and a block handed out
// and lost is still a leak.
std::uintptr_t Hidden(void* block) { return ~reinterpret_cast<std::uintptr_t>(block); }
void* Shown(std::uintptr_t hidden) { return reinterpret_cast<void*>(~hidden); }

struct Kept {
  std::uintptr_t block;
  std::size_t size;
};

// Oldest first. Given back at exit, before the leak check.
Kept kept[kMaxKept];
std::size_t keptCount = 0;
std::size_t keptBytes = 0;
bool closing = false;
std::mutex keptLock;

[[noreturn]] void Fatal(const char* what, void* block) {
  std::fprintf(stderr, "==large block== ERROR: %s %p\n", what, block);
  __sanitizer_print_stack_trace();
  std::abort();
}

// The sanitizer's own operators: small blocks, and the large ones' memory.
template <typename Function>
Function Next(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (!found) Fatal("no next operator", nullptr);
  return reinterpret_cast<Function>(found);
}

void* NextNew(std::size_t size) {
  static const auto next = Next<void* (*)(std::size_t)>("_Znwm");
  return next(size);
}

void* NextNewNothrow(std::size_t size) noexcept {
  static const auto next = Next<void* (*)(std::size_t, const std::nothrow_t&)>("_ZnwmRKSt9nothrow_t");
  return next(size, std::nothrow);
}

void NextDelete(void* block) noexcept {
  static const auto next = Next<void (*)(void*)>("_ZdlPv");
  next(block);
}

void NextSizedDelete(void* block, std::size_t size) noexcept {
  static const auto next = Next<void (*)(void*, std::size_t)>("_ZdlPvm");
  next(block, size);
}

// Takes kept[i] out of the list, unpoisoned.
void* TakeOut(std::size_t i) {
  void* block = Shown(kept[i].block);
  ASAN_UNPOISON_MEMORY_REGION(block, kept[i].size);
  keptBytes -= kept[i].size;
  std::memmove(kept + i, kept + i + 1, (keptCount - i - 1) * sizeof(Kept));
  --keptCount;
  return block;
}

void* TakeKept(std::size_t size) {
  std::lock_guard<std::mutex> hold(keptLock);
  for (std::size_t i = keptCount; i-- > 0;) {
    if (kept[i].size != size) continue;
    void* block = TakeOut(i);
    std::memset(block, kFillByte, kFillPrefix);
    // Reports name where it was taken again, not where it was made.
    __asan_update_allocation_context(block);
    return block;
  }
  return nullptr;
}

// Keeps `block` of `size` bytes; gives back the oldest one that no longer
// fits, or nothing (or `block` itself, at exit).
void* Keep(void* block, std::size_t size) {
  std::lock_guard<std::mutex> hold(keptLock);
  if (closing) return block;
  ASAN_POISON_MEMORY_REGION(block, size);
  kept[keptCount++] = {Hidden(block), size};
  keptBytes += size;
  if (keptCount < kMaxKept && keptBytes <= kMaxKeptBytes) return nullptr;
  return TakeOut(0);
}

// The large blocks handed out and not deleted, by their hidden address.
std::map<std::uintptr_t, std::size_t>& HandedOut() {
  static auto* handedOut = new std::map<std::uintptr_t, std::size_t>;
  return *handedOut;
}

// A large block, kept or new; nothing when there is no memory.
void* NewLarge(std::size_t size) noexcept {
  void* block = TakeKept(size);
  if (!block) block = NextNewNothrow(size);
  if (!block) return nullptr;
  std::lock_guard<std::mutex> hold(keptLock);
  HandedOut().emplace(Hidden(block), size);
  return block;
}

// True when `block` is a large one of this file's and was taken care of;
// `size` is what the caller says it asked for (0: not said).
bool DeleteLarge(void* block, std::size_t size) noexcept {
  if (!block || (size != 0 && size < kLarge)) return false;
  if (size == 0 && (!__sanitizer_get_ownership(block) || __sanitizer_get_allocated_size(block) < kLarge))
    return false;
  std::size_t asked = 0;
  {
    std::lock_guard<std::mutex> hold(keptLock);
    const auto found = HandedOut().find(Hidden(block));
    if (found == HandedOut().end()) {
      for (std::size_t i = 0; i < keptCount; ++i)
        if (kept[i].block == Hidden(block)) Fatal("attempting double-free on", block);
      return false;
    }
    asked = found->second;
    HandedOut().erase(found);
  }
  if (size != 0 && size != asked) Fatal("new-delete-type-mismatch on", block);
  if (void* given = Keep(block, asked)) NextDelete(given);
  return true;
}

// Registered after the sanitizer's leak check, so run before it.
struct GiveBackAtExit {
  ~GiveBackAtExit() {
    for (;;) {
      void* block = nullptr;
      {
        std::lock_guard<std::mutex> hold(keptLock);
        closing = true;
        if (keptCount == 0) return;
        block = TakeOut(keptCount - 1);
      }
      NextDelete(block);
    }
  }
} giveBackAtExit;

}  // namespace

void* operator new(std::size_t size) {
  if (size < kLarge) return NextNew(size);
  if (void* block = NewLarge(size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return size < kLarge ? NextNewNothrow(size) : NewLarge(size);
}

void operator delete(void* block) noexcept {
  if (!DeleteLarge(block, 0)) NextDelete(block);
}

void operator delete(void* block, std::size_t size) noexcept {
  if (!DeleteLarge(block, size)) NextSizedDelete(block, size);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
  if (!DeleteLarge(block, 0)) NextDelete(block);
}

#endif
