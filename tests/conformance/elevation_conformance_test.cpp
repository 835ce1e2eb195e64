// What the elevated part relies on: the program's own path and command
// line; a child's parent and the start times of both, read from the
// processes; the drive types; folders held open without following links
// while the files in them are worked on; the token's elevation.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/elevation.h"
#include "conformance/harness.h"
#include "conformance/scratch_folder.h"
#include "runtime/handles.h"
#include "runtime/text_encoding.h"

namespace {

using ElevationConformanceTest = HarnessTest;

constexpr win::DWORD kCreateSuspended = 0x4;

std::uint64_t Started(win::Api& api, win::HANDLE process) {
  win::FILETIME t[4] = {};
  if (!api.GetProcessTimes(process, &t[0], &t[1], &t[2], &t[3])) return 0;
  return (std::uint64_t{t[0].dwHighDateTime} << 32) | t[0].dwLowDateTime;
}

// A child started by this process names it as its parent, started no
// earlier than it, and can be opened to query and wait on while it runs.
TEST_F(ElevationConformanceTest, AChildsParentAndStartTimes) {
  char path[1024] = {};
  ASSERT_GT(api().GetModuleFileNameA(0, path, sizeof path), 0u);
  std::string line = std::string("\"") + path + "\" --gtest_list_tests";
  win::STARTUPINFOA startup{};
  startup.cb = 68;
  win::PROCESS_INFORMATION child{};
  ASSERT_TRUE(api().CreateProcessA(nullptr, line.data(), win::FALSE, kCreateSuspended, nullptr, &startup, &child))
      << LastError(api());
  UniqueHandle process(api(), child.hProcess), thread(api(), child.hThread);
  win::PROCESS_BASIC_INFORMATION info{};
  win::ULONG length = 0;
  ASSERT_EQ(api().NtQueryInformationProcess(child.hProcess, win::ProcessBasicInformation, &info, sizeof info,
                                            &length),
            win::STATUS_SUCCESS);
  EXPECT_EQ(info.UniqueProcessId, child.dwProcessId);
  EXPECT_EQ(info.InheritedFromUniqueProcessId, api().GetCurrentProcessId());
  const std::uint64_t own = Started(api(), api().GetCurrentProcess());
  ASSERT_NE(own, 0u) << LastError(api());
  {
    UniqueHandle opened(api(), api().OpenProcess(win::PROCESS_QUERY_LIMITED_INFORMATION | win::SYNCHRONIZE,
                                                 win::FALSE, child.dwProcessId));
    ASSERT_TRUE(opened) << LastError(api());
    EXPECT_EQ(api().WaitForSingleObject(opened.get(), 0), win::WAIT_TIMEOUT);
    EXPECT_GE(Started(api(), opened.get()), own);
    EXPECT_EQ(Started(api(), opened.get()), Started(api(), child.hProcess));
  }
  EXPECT_TRUE(api().TerminateProcess(child.hProcess, 1)) << LastError(api());
  EXPECT_EQ(api().WaitForSingleObject(child.hProcess, 10000), win::WAIT_OBJECT_0);
}

// The token answers whether an administrator's rights are in force.
TEST_F(ElevationConformanceTest, TheTokensElevationIsRead) {
  win::HANDLE token = 0;
  ASSERT_TRUE(api().OpenProcessToken(api().GetCurrentProcess(), win::TOKEN_QUERY, &token)) << LastError(api());
  UniqueHandle owned(api(), token);
  win::TOKEN_ELEVATION elevation{2};
  win::DWORD length = 0;
  ASSERT_TRUE(api().GetTokenInformation(token, win::TokenElevation, &elevation, sizeof elevation, &length))
      << LastError(api());
  EXPECT_EQ(length, sizeof elevation);
  EXPECT_LE(elevation.TokenIsElevated, 1u);
  std::printf("token elevated: %u\n", static_cast<unsigned>(elevation.TokenIsElevated));
  EXPECT_EQ(RunsElevated(api()), elevation.TokenIsElevated != 0);
  // What the desktop's shell reads: a run restarts the game with no more.
  static const char* const kShell[] = {"none", "elevated", "not elevated"};
  std::printf("the desktop's shell: %s\n", kShell[static_cast<int>(DesktopShellRights(api()))]);
}

// The program name comes first, in quotes, and an empty line gives it alone.
TEST_F(ElevationConformanceTest, TheProgramsOwnPathAndCommandLine) {
  win::WCHAR path[1024] = {};
  const win::DWORD n = api().GetModuleFileNameW(0, path, 1024);
  ASSERT_GT(n, 3u) << LastError(api());
  ASSERT_LT(n, 1024u);
  // The same path as the 8-bit call gives, converted.
  char narrow[2048] = {};
  ASSERT_GT(api().GetModuleFileNameA(0, narrow, sizeof narrow), 0u);
  EXPECT_TRUE(WideToUnits(TrimWideAtNul(TextToWide(api(), narrow, kPathCodePage), false)) ==
              std::u16string(path, n));

  const win::WCHAR* line = api().GetCommandLineW();
  ASSERT_NE(line, nullptr);
  int count = 0;
  win::WCHAR** argv = api().CommandLineToArgvW(line, &count);
  ASSERT_NE(argv, nullptr) << LastError(api());
  EXPECT_GE(count, 1);
  api().LocalFree(argv);

  argv = api().CommandLineToArgvW(u"", &count);
  ASSERT_NE(argv, nullptr);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(std::u16string(argv[0]) == std::u16string(path, n));
  api().LocalFree(argv);
}

// The drive the temporary files lie on is a local one; a letter nobody has
// is no drive at all.
TEST_F(ElevationConformanceTest, DriveTypes) {
  const Text temp = SpecialFolderPath(api(), 11);
  ASSERT_GE(temp.size(), 3u);
  const win::WCHAR root[4] = {static_cast<win::WCHAR>(temp[0]), u':', u'\\', 0};
  const win::UINT type = api().GetDriveTypeW(root);
  EXPECT_TRUE(type == win::DRIVE_FIXED || type == win::DRIVE_RAMDISK) << temp << ": " << type;
  std::printf("%c: drive type %u\n", temp[0], type);
  EXPECT_EQ(api().GetDriveTypeW(u"\\\\server\\share\\"), win::DRIVE_NO_ROOT_DIR);
}

class HeldFolderTest : public ScratchFolderTest {
 protected:
  HeldFolderTest() : ScratchFolderTest("tg-held-") {}
  std::u16string Wide(const Text& path) {
    return WideToUnits(TrimWideAtNul(TextToWide(api(), path, kCodePage), false));
  }
};

// A folder held open as the elevated part holds each on its way: it opens
// as a folder, not a link; the files in it are created, swapped and removed
// as ever; the folder itself cannot be renamed away meanwhile; a plain open
// without backup semantics is no way to open a folder.
TEST_F(HeldFolderTest, AFolderHeldOpenStaysWhereItIs) {
  const Text folder = root_ + "Managed";
  ASSERT_TRUE(MakeDirectoryTree(api(), folder, kCodePage));
  const std::u16string wide = Wide(folder);
  const win::DWORD share = win::FILE_SHARE_READ | win::FILE_SHARE_WRITE;
  const win::DWORD access = win::FILE_LIST_DIRECTORY | win::FILE_READ_ATTRIBUTES;
  EXPECT_EQ(api().CreateFileW(wide.c_str(), access, share, win::OPEN_EXISTING, 0), win::INVALID_HANDLE_VALUE);
  UniqueFileHandle held(api(), api().CreateFileW(wide.c_str(), access, share, win::OPEN_EXISTING,
                                                 win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
  ASSERT_TRUE(held) << LastError(api());
  win::BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_TRUE(api().GetFileInformationByHandle(held.get(), &info)) << LastError(api());
  EXPECT_TRUE(info.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(info.dwFileAttributes & win::FILE_ATTRIBUTE_REPARSE_POINT);

  const Text assembly = folder + "\\Assembly-CSharp.dll";
  EXPECT_TRUE(WriteBytesToFile(api(), assembly, {"old"})) << LastError(api());
  EXPECT_TRUE(WriteBesideAndSwap(api(), kCodePage, assembly + ".patch-new", assembly, {"new"}, true))
      << LastError(api());
  EXPECT_TRUE(FileHolds(api(), assembly, "new"));
  EXPECT_TRUE(RemoveFile(api(), assembly)) << LastError(api());

  const std::u16string away = Wide(root_ + "Elsewhere");
  EXPECT_FALSE(api().MoveFileExW(wide.c_str(), away.c_str(), 0));
  EXPECT_EQ(api().GetLastError(), win::ERROR_SHARING_VIOLATION);
  held.reset();
  EXPECT_TRUE(api().MoveFileExW(wide.c_str(), away.c_str(), 0)) << LastError(api());
}

// Acting as the account of a process's token, the program may change a
// folder that account made; a folder it may not change refuses each of
// those rights with access denied (not shown here: a temporary folder is
// the account's own). The thread reverts to its own rights.
TEST_F(HeldFolderTest, AFolderItsOwnAccountMayChange) {
  const Text folder = root_ + "Managed";
  ASSERT_TRUE(MakeDirectoryTree(api(), folder, kCodePage));
  const std::u16string wide = Wide(folder);
  win::HANDLE token = 0;
  ASSERT_TRUE(api().OpenProcessToken(api().GetCurrentProcess(), win::TOKEN_QUERY | win::TOKEN_DUPLICATE, &token))
      << LastError(api());
  UniqueHandle owned(api(), token);
  ASSERT_TRUE(api().ImpersonateLoggedOnUser(token)) << LastError(api());
  for (const win::DWORD right : {win::FILE_ADD_FILE, win::FILE_ADD_SUBDIRECTORY, win::FILE_DELETE_CHILD,
                                 win::FILE_WRITE_ATTRIBUTES, win::WRITE_DAC}) {
    UniqueFileHandle probe(api(), api().CreateFileW(wide.c_str(), right,
                                                    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
                                                    win::OPEN_EXISTING,
                                                    win::FILE_FLAG_BACKUP_SEMANTICS | win::FILE_FLAG_OPEN_REPARSE_POINT));
    EXPECT_TRUE(probe) << right << ": " << LastError(api());
  }
  EXPECT_TRUE(api().RevertToSelf()) << LastError(api());
}

}  // namespace
