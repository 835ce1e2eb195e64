// The assembly replacement with each of its platform calls failed in turn,
// on the platform's own files: the simulated disk, or real files under Wine.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "conformance/scratch_folder.h"
#include "fsproc/assembly_replacement.h"
#include "platform/faulting_api.h"
#include "runtime/sha256.h"

namespace {


class AssemblyFaultSweepTest : public ScratchFolderTest {
 protected:
  AssemblyFaultSweepTest() : ScratchFolderTest("tg-sweep-") {}

  // A game folder of its own holding the original; its assembly's path.
  Text LayOut(long run) {
    const Text folder = root_ + ValueToText(static_cast<std::int32_t>(run)) + "\\";
    EXPECT_TRUE(MakeDirectoryTree(api(), folder, kCodePage)) << folder << ": " << LastError(api());
    EXPECT_TRUE(WriteBytesToFile(api(), folder + "Assembly-CSharp.dll", {kOriginal}));
    return folder;
  }

  bool Replace(win::Api& through, const Text& folder) {
    const Text path = folder + "Assembly-CSharp.dll";
    const FileLookup identified = LookUpFile(api(), path);
    return static_cast<bool>(WritePatchedAssembly(through, kCodePage, patches_, folder, path,
                                                  "1.0", identified, kPayload));
  }

  static constexpr std::string_view kOriginal = "original assembly, as the player has it";
  static constexpr std::string_view kPayload = "patched assembly, shorter";
  const Sha256Digest digest_ = Sha256(kPayload);
  const PatchDigest payloads_[1] = {{kPayload.size(), digest_.data()}};
  static const unsigned char* DigestOf(std::string_view label) {
    static const Sha256Digest digest = Sha256(kPayload);
    return label == "1.0" ? digest.data() : nullptr;
  }
  const PatchedAssemblies patches_{payloads_, "kept-", ".dll.bak", "kept.dll.new", ".aside", "kept.record", DigestOf};
};

TEST_F(AssemblyFaultSweepTest, EachFailedCallLeavesTheAssemblyWholeAndTheReportTrue) {
  win::FaultingApi clean(api());
  ASSERT_TRUE(Replace(clean, LayOut(0)));
  const long failable = clean.failableCalls;
  ASSERT_GT(failable, 10);

  for (long n = 1; n <= failable; ++n) {
    const Text folder = LayOut(n);
    win::FaultingApi faulting(api());
    faulting.FailAtCall(n);
    const bool reported = Replace(faulting, folder);
    ASSERT_EQ(faulting.failed.size(), 1u) << n;
    SCOPED_TRACE("call " + std::to_string(n) + ", " + faulting.failed[0]);

    Bytes now;
    ASSERT_TRUE(ReadWholeFile(api(), folder + "Assembly-CSharp.dll", &now, 1 << 20))
        << LastError(api());
    const bool patched = now == kPayload;
    EXPECT_TRUE(patched || now == kOriginal) << now;
    EXPECT_EQ(reported, patched);
    // Nothing is replaced that is not kept, nor without the record of it.
    if (patched) {
      EXPECT_TRUE(FileHolds(api(), folder + "kept-1.0.dll.bak", kOriginal));
      const auto record = ReadKeptRecord(api(), folder + "kept.record");
      ASSERT_TRUE(record.has_value());
      EXPECT_EQ(*record, (std::vector<KeptEntry>{{"1.0", Sha256(kOriginal), "1.0", Sha256(kPayload)}}));
    }
  }
}

}  // namespace
