// The large blocks the sanitizer build keeps for reuse (large_blocks.cpp)
// still report every misuse the sanitizer reports.
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)

#include <sanitizer/lsan_interface.h>

#include <cstdlib>
#include <new>

// The misuses are on purpose.
#pragma GCC diagnostic ignored "-Wuse-after-free"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

constexpr std::size_t kSize = std::size_t{3} << 20;

char* Large() { return static_cast<char*>(::operator new(kSize)); }

void Touch(char* byte) { *static_cast<volatile char*>(byte) = 1; }

TEST(LargeBlockDeathTest, AnAccessAfterTheDeleteIsReported) {
  EXPECT_DEATH(
      {
        char* block = Large();
        ::operator delete(block);
        Touch(block + 10);
      },
      "use-after-poison");
}

TEST(LargeBlockDeathTest, AnAccessPastTheEndIsReported) {
  EXPECT_DEATH(Touch(Large() + kSize), "heap-buffer-overflow");
}

[[gnu::noinline]] char* TakenAgain() { return Large(); }

TEST(LargeBlockDeathTest, AReusedBlockStillEndsWhereItsSizeEnds) {
  char* first = Large();
  ::operator delete(first);
  char* again = TakenAgain();
  EXPECT_EQ(again, first);
  Touch(again);
  Touch(again + kSize - 1);
  // The report names where it was taken again.
  EXPECT_DEATH(Touch(again + kSize), "heap-buffer-overflow(.|\n)*allocated by(.|\n)*TakenAgain");
  ::operator delete(again);
}

TEST(LargeBlockDeathTest, ADeleteTwiceIsReported) {
  EXPECT_DEATH(
      {
        char* block = Large();
        ::operator delete(block);
        ::operator delete(block);
      },
      "double-free");
}

TEST(LargeBlockDeathTest, ADeleteOfAnotherSizeIsReported) {
  EXPECT_DEATH(::operator delete(Large(), kSize - 1), "new-delete-type-mismatch");
}

TEST(LargeBlockDeathTest, FreeingItWithFreeIsReported) {
  EXPECT_DEATH(std::free(Large()), "alloc-dealloc-mismatch");
}

TEST(LargeBlockDeathTest, DeletingWhatMallocGaveIsReported) {
  EXPECT_DEATH(::operator delete(std::malloc(kSize)), "alloc-dealloc-mismatch");
}

// Leaves large blocks nothing points to: several, since a register or a
// stale stack slot may still hold the last one's address when the check
// runs, and the leak checker then counts that one as reachable.
[[gnu::noinline]] void LeakOne() {
  for (int i = 0; i < 4; ++i) {
    char* volatile block = Large();
    Touch(block);
    block = nullptr;
  }
}

TEST(LargeBlockDeathTest, ALeakedBlockIsReported) {
  EXPECT_DEATH(
      {
        LeakOne();
        __lsan_do_leak_check();
        std::abort();
      },
      "detected memory leaks(.|\n)*LeakOne");
}

}  // namespace

#endif
