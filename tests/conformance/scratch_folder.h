// A conformance case that works in a fresh folder of its own under the
// temporary-files folder, removed with all it holds at the end (on Windows).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "conformance/harness.h"
#include "fsproc/file_ops.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

#ifdef _WIN32
#include <filesystem>
#include <system_error>
#endif

class ScratchFolderTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kCodePage = 936;

  explicit ScratchFolderTest(const char* prefix) : prefix_(prefix) {}

  void SetUp() override {
    const Text temp = SpecialFolderPath(api(), 11);
    ASSERT_FALSE(temp.empty()) << LastError(api());
    root_ = temp + prefix_ + ValueToText(static_cast<std::int32_t>(api().GetCurrentProcessId())) +
            "-" + ValueToText(static_cast<std::int32_t>(api().GetTickCount() & 0x7FFFFFFF));
    ASSERT_TRUE(MakeDirectoryTree(api(), root_, kCodePage)) << root_ << ": " << LastError(api());
    root_ += "\\";
  }

  void TearDown() override {
#ifdef _WIN32
    if (root_.empty()) return;
    const std::u16string units = WideToUnits(TrimWideAtNul(TextToWide(api(), root_, kCodePage), false));
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(units), error);
    EXPECT_FALSE(error) << error.message();
#endif
  }

  win::Api& api() { return harness_->api(); }

  std::unique_ptr<Harness> harness_ = MakeHarness();
  Text root_;  // ends in "\"

 private:
  const char* prefix_;
};
