// File operations, starting and ending processes, against the platform. Each
// case works in a fresh folder of its own under the temporary-files folder.
#include <gtest/gtest.h>

#include <string>

#include "conformance/scratch_folder.h"
#include "fsproc/file_ops.h"
#include "fsproc/process_ops.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

// The size of the file at `path`, or -1 when the look-up finds none.
long long SizeOrMissing(win::Api& api, const Text& path) {
  const FileLookup found = LookUpFile(api, path);
  return found.found() ? found.size : -1;
}

constexpr std::int32_t kCodePage = 936;
constexpr win::DWORD kErrorFileExists = 80;
constexpr win::DWORD kCreateSuspended = 0x4;

class FsprocConformanceTest : public ScratchFolderTest {
 protected:
  FsprocConformanceTest() : ScratchFolderTest("tg-fsproc-") {}

  bool IsDirectory(const Text& path) {
    const WideText wide = TextToWide(api(), path, kCodePage);
    return api().PathIsDirectoryW(WideArg(wide).get()) == 16;
  }
  win::BOOL PathIsDirectory(const Text& path) {
    const WideText wide = TextToWide(api(), path, kCodePage);
    return api().PathIsDirectoryW(WideArg(wide).get());
  }
};

// The executable name the process list gives for a process.
Text ExeNameOf(win::Api& api, win::DWORD processId) {
  const win::HANDLE snapshot = api.CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0);
  if (snapshot == win::INVALID_HANDLE_VALUE) return Text();
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  Text name;
  for (win::BOOL more = api.Process32First(snapshot, &entry); more;
       more = api.Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == processId) {
      name = FixedCharsToText(entry.szExeFile, sizeof entry.szExeFile);
      break;
    }
  }
  api.CloseHandle(snapshot);
  return name;
}

// Starts the line suspended, so that it lives until it is ended.
win::PROCESS_INFORMATION StartSuspended(win::Api& api, const Text& commandLine) {
  win::STARTUPINFOA startup{};
  startup.cb = 68;
  win::PROCESS_INFORMATION started{};
  std::string line = commandLine;
  if (!api.CreateProcessA(nullptr, line.data(), win::FALSE, kCreateSuspended, nullptr, &startup,
                          &started))
    started = {};
  return started;
}

Text ModulePath(win::Api& api) {
  char path[520] = {};
  api.GetModuleFileNameA(0, path, sizeof path);
  return path;
}

// ---------------------------------------------------------------- files

TEST_F(FsprocConformanceTest, SizesOfWrittenFiles) {
  const Text empty = root_ + "empty";
  const Text seven = root_ + "seven.bin";
  EXPECT_EQ(SizeOrMissing(api(), seven), -1) << seven;
  EXPECT_EQ(SizeOrMissing(api(), root_ + "no folder\\seven.bin"), -1)
      << root_ + "no folder\\seven.bin";

  EXPECT_TRUE(WriteBytesToFile(api(), empty, {""})) << empty << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), empty), 0) << empty;
  EXPECT_TRUE(WriteBytesToFile(api(), seven, {"abc", "defg"})) << seven << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), seven), 7) << seven;
  EXPECT_TRUE(WriteBytesToFile(api(), seven, {"xy"})) << seven << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), seven), 2) << seven;

  // A folder's own entry.
  win::WIN32_FIND_DATAA entry{};
  const win::HANDLE find = api().FindFirstFileA(root_.substr(0, root_.size() - 1).c_str(), &entry);
  ASSERT_NE(find, win::INVALID_HANDLE_VALUE) << root_ << ": " << LastError(api());
  EXPECT_TRUE(entry.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY)
      << "attributes 0x" << std::hex << entry.dwFileAttributes;
  EXPECT_TRUE(api().FindClose(find)) << LastError(api());
  // A name ending in a backslash matches nothing.
  EXPECT_EQ(api().FindFirstFileA(root_.c_str(), &entry), win::INVALID_HANDLE_VALUE) << root_;
}

TEST_F(FsprocConformanceTest, WritingIntoAMissingFolder) {
  EXPECT_FALSE(WriteBytesToFile(api(), root_ + "missing\\f.bin", {"abc"}))
      << root_ + "missing\\f.bin" << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(SizeOrMissing(api(), root_ + "missing"), -1) << root_ + "missing";
  EXPECT_FALSE(WriteBytesToFile(api(), "", {"abc"})) << LastError(api());
}

TEST_F(FsprocConformanceTest, CopyRemoveAndTheirErrors) {
  const Text source = root_ + "source.dll";
  const Text target = root_ + "target.dll";
  ASSERT_TRUE(WriteBytesToFile(api(), source, {"1234567"})) << source << ": " << LastError(api());
  ASSERT_TRUE(WriteBytesToFile(api(), target, {"ab"})) << target << ": " << LastError(api());

  EXPECT_FALSE(CopyFileTo(api(), source, target, true)) << target << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), kErrorFileExists);
  EXPECT_EQ(SizeOrMissing(api(), target), 2) << target;
  EXPECT_TRUE(CopyFileTo(api(), source, target)) << target << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), target), 7) << target;
  EXPECT_TRUE(CopyFileTo(api(), source, root_ + "fresh.dll", true))
      << root_ + "fresh.dll" << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), root_ + "fresh.dll"), 7) << root_ + "fresh.dll";

  EXPECT_FALSE(CopyFileTo(api(), root_ + "missing.dll", target))
      << target << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SizeOrMissing(api(), target), 7) << target;
  EXPECT_FALSE(CopyFileTo(api(), source, root_ + "no folder\\target.dll"))
      << root_ + "no folder\\target.dll" << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_PATH_NOT_FOUND);

  EXPECT_TRUE(RemoveFile(api(), target)) << target << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), target), -1) << target;
  EXPECT_FALSE(RemoveFile(api(), target)) << target << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(RemoveFile(api(), root_ + "no folder\\target.dll"))
      << root_ + "no folder\\target.dll" << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(RemoveFile(api(), root_.substr(0, root_.size() - 1)))
      << root_.substr(0, root_.size() - 1) << ": " << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_ACCESS_DENIED);
}

// A file held open with no sharing: opening it is a sharing violation,
// renaming over it an access denial; both are waited out for the time given,
// and no longer.
// A named mutex in the session's namespace: the second handle to it says it
// existed; once every handle is closed it is gone.
TEST_F(FsprocConformanceTest, ANamedMutexSaysWhetherItExisted) {
  const win::WCHAR name[] = u"Local\\ThistlegardenPatch.ConformanceCase";
  const win::HANDLE first = api().CreateMutexW(win::FALSE, name);
  ASSERT_NE(first, win::HANDLE{0}) << LastError(api());
  EXPECT_NE(api().GetLastError(), win::ERROR_ALREADY_EXISTS);
  const win::HANDLE second = api().CreateMutexW(win::FALSE, name);
  ASSERT_NE(second, win::HANDLE{0}) << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(api().CloseHandle(second));
  EXPECT_TRUE(api().CloseHandle(first));
  const win::HANDLE again = api().CreateMutexW(win::FALSE, name);
  ASSERT_NE(again, win::HANDLE{0}) << LastError(api());
  EXPECT_NE(api().GetLastError(), win::ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(api().CloseHandle(again));
}

TEST_F(FsprocConformanceTest, AHeldFileIsWaitedOutForALimitedTime) {
  const Text path = root_ + "held.dll";
  const Text beside = path + ".patch-new";
  ASSERT_TRUE(WriteBytesToFile(api(), path, {"held"})) << path << ": " << LastError(api());
  const win::HANDLE held =
      api().CreateFileA(path.c_str(), win::GENERIC_READ, 0, win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(held, win::INVALID_HANDLE_VALUE) << LastError(api());
  Bytes read;
  LockWait reading(api(), 200);
  EXPECT_FALSE(ReadWholeFile(api(), path, &read, 100, &reading));
  EXPECT_EQ(api().GetLastError(), win::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(reading.waited(), 200u);
  LockWait renaming(api(), 200);
  EXPECT_FALSE(WriteBesideAndSwap(api(), kCodePage, beside, path, {"new"}, true, &renaming));
  EXPECT_EQ(renaming.waited(), 200u);
  EXPECT_EQ(SizeOrMissing(api(), beside), -1);
  // Released, it is read and replaced at once.
  api().CloseHandle(held);
  LockWait free(api(), 200);
  EXPECT_TRUE(ReadWholeFile(api(), path, &read, 100, &free));
  EXPECT_TRUE(WriteBesideAndSwap(api(), kCodePage, beside, path, {"new"}, true, &free));
  EXPECT_EQ(free.waited(), 0u);
  EXPECT_TRUE(FileHolds(api(), path, "new"));
}

TEST_F(FsprocConformanceTest, RenamingOntoAnExistingName) {
  const Text path = root_ + "Assembly-CSharp.dll";
  const Text other = root_ + "Assembly-CSharp.dll.other";
  ASSERT_TRUE(WriteBytesToFile(api(), path, {"original"})) << path << ": " << LastError(api());
  ASSERT_TRUE(WriteBytesToFile(api(), other, {"x"})) << other << ": " << LastError(api());
  // Renaming onto an existing name fails unless replacing is asked for.
  const WideText from = TextToWide(api(), other, kCodePage);
  const WideText to = TextToWide(api(), path, kCodePage);
  EXPECT_FALSE(api().MoveFileExW(WideArg(from).get(), WideArg(to).get(), 0)) << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(SizeOrMissing(api(), path), 8) << path;
}

// Written beside, flushed and swapped in; read back. The new file never
// stays under its own name.
TEST_F(FsprocConformanceTest, ReplacingAFileThroughANewOneBesideIt) {
  const Text path = root_ + "Assembly-CSharp.dll";
  const Text beside = path + Text(kNewFileSuffix);
  ASSERT_TRUE(WriteBytesToFile(api(), path, {"original"}));
  const std::string payload(3 * 1024 * 1024 + 17, 'p');

  EXPECT_TRUE(WriteBesideAndSwap(api(), kCodePage, beside, path, {payload, "end"}, true));
  EXPECT_EQ(SizeOrMissing(api(), beside), -1);
  EXPECT_TRUE(FileHolds(api(), path, payload + "end"));
  EXPECT_FALSE(FileHolds(api(), path, payload));
  EXPECT_FALSE(FileHolds(api(), path, payload + "end!"));
  Bytes read;
  EXPECT_TRUE(ReadWholeFile(api(), path, &read, payload.size() + 3));
  EXPECT_TRUE(read == payload + "end");
  EXPECT_FALSE(ReadWholeFile(api(), path, &read, payload.size()));
  EXPECT_TRUE(read.empty());
  // A size expected beforehand that is not the file's changes nothing read,
  // nor the limit.
  for (const std::size_t expected : {std::size_t{10}, payload.size() + 3, payload.size() * 2}) {
    EXPECT_TRUE(ReadWholeFile(api(), path, &read, payload.size() + 3, nullptr, expected));
    EXPECT_TRUE(read == payload + "end") << expected;
  }
  EXPECT_FALSE(ReadWholeFile(api(), path, &read, payload.size(), nullptr, payload.size() + 3));
  EXPECT_TRUE(read.empty());
  EXPECT_FALSE(ReadWholeFile(api(), root_ + "missing.dll", &read, 100));
  EXPECT_FALSE(FileHolds(api(), root_ + "missing.dll", ""));

  // Without replacing, an existing target stays and the new file goes.
  EXPECT_FALSE(WriteBesideAndSwap(api(), kCodePage, beside, path, {"other"}, false));
  EXPECT_EQ(SizeOrMissing(api(), beside), -1);
  EXPECT_TRUE(FileHolds(api(), path, payload + "end"));
  const Text kept = root_ + "原版Assembly-CSharp-0.25c.dll";
  EXPECT_TRUE(WriteBesideAndSwap(api(), kCodePage, beside, kept, {"original"}, false));
  EXPECT_TRUE(FileHolds(api(), kept, "original"));

  // Into a missing folder nothing is made.
  EXPECT_FALSE(WriteBesideAndSwap(api(), kCodePage, root_ + "missing\\x.new", root_ + "missing\\x",
                                  {"abc"}, true));
  EXPECT_EQ(SizeOrMissing(api(), root_ + "missing"), -1);
}

// A file held open for writing cannot be read through another handle; one
// opened for reading is not written through.
TEST_F(FsprocConformanceTest, ReadingAndFlushingHandles) {
  const Text path = root_ + "data.bin";
  ASSERT_TRUE(WriteBytesToFile(api(), path, {"0123456789"}));
  const win::HANDLE file = api().CreateFileA(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ,
                                             win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
  char buffer[8] = {};
  win::DWORD got = 0;
  EXPECT_TRUE(api().ReadFile(file, buffer, 6, &got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buffer, got), "012345");
  EXPECT_TRUE(api().ReadFile(file, buffer, 8, &got));
  EXPECT_EQ(std::string(buffer, got), "6789");
  EXPECT_TRUE(api().ReadFile(file, buffer, 8, &got));
  EXPECT_EQ(got, 0u);
  win::DWORD written = 7;
  EXPECT_FALSE(api().WriteFile(file, "x", 1, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(api().FlushFileBuffers(file));
  EXPECT_TRUE(api().CloseHandle(file));
  EXPECT_EQ(SizeOrMissing(api(), path), 10);
}

// ---------------------------------------------------------------- folders

// A name code page 936 cannot hold, given in GB18030, is the file of that
// name: made, found, read and renamed as such.
TEST_F(FsprocConformanceTest, NamesBeyond936) {
  const Text folder = root_ + "Thistlegarden \x81\x37\xAC\x38";  // "♪"
  EXPECT_TRUE(MakeDirectoryTree(api(), folder, kPathCodePage)) << LastError(api());
  const Text path = folder + "\\Assembly-CSharp.dll";
  ASSERT_TRUE(WriteBytesToFile(api(), path, {"original"})) << LastError(api());
  EXPECT_EQ(LookUpFile(api(), path), (FileLookup{FileLookup::kFound, 8}));
  // The same name in UTF-16 names the same file.
  const WideText wide = TextToWide(api(), path, kPathCodePage);
  EXPECT_NE(WideToUnits(wide).find(u"Thistlegarden \u266A\\"), std::u16string::npos);
  EXPECT_NE(api().GetFileAttributesW(WideArg(wide).get()), 0xFFFFFFFFu) << LastError(api());
  // A name with "?" in its place is another (no) file.
  EXPECT_NE(LookUpFile(api(), root_ + "Thistlegarden ?\\Assembly-CSharp.dll").state, FileLookup::kFound);
  EXPECT_TRUE(WriteBesideAndSwap(api(), kPathCodePage, path + ".patch-new", path, {"patched"}, true))
      << LastError(api());
  EXPECT_TRUE(FileHolds(api(), path, "patched"));
}

// A folder ending in "€" (0x80) and one named with characters GB18030 holds
// in two bytes that 936 lacks ("ǹ〾"): each is the folder of that name, not
// its parent or another.
TEST_F(FsprocConformanceTest, EuroAndTwoByteCharactersBeyond936) {
  const struct {
    Text name;
    std::u16string wide;
  } cases[] = {{"Thistlegarden\x80", u"Thistlegarden\u20AC"},
               {"Thistlegarden \xA8\xBF\xA9\x89", u"Thistlegarden \u01F9\u303E"}};
  for (const auto& c : cases) {
    const Text folder = root_ + c.name;
    EXPECT_TRUE(MakeDirectoryTree(api(), folder + "\\Managed", kPathCodePage)) << LastError(api());
    const Text path = folder + "\\Managed\\Assembly-CSharp.dll";
    ASSERT_TRUE(WriteBytesToFile(api(), path, {"original"})) << LastError(api());
    const WideText wide = TextToWide(api(), path, kPathCodePage);
    EXPECT_NE(WideToUnits(wide).find(c.wide + u"\\Managed\\"), std::u16string::npos);
    EXPECT_NE(api().GetFileAttributesW(WideArg(wide).get()), 0xFFFFFFFFu) << LastError(api());
    EXPECT_EQ(LookUpFile(api(), root_ + "Managed\\Assembly-CSharp.dll").state, FileLookup::kMissing);
    EXPECT_TRUE(WriteBesideAndSwap(api(), kPathCodePage, path + ".patch-new", path, {"patched"}, true))
        << LastError(api());
    EXPECT_TRUE(FileHolds(api(), path, "patched"));
    // The name the system gives back is the same bytes.
    win::WIN32_FIND_DATAA found{};
    const win::HANDLE find = api().FindFirstFileA(folder.c_str(), &found);
    ASSERT_NE(find, win::INVALID_HANDLE_VALUE) << LastError(api());
    EXPECT_EQ(Text(found.cFileName), c.name);
    api().FindClose(find);
  }
}

TEST_F(FsprocConformanceTest, DirectoryTrees) {
  const Text chinese = root_ + "补丁程序\\补丁对比图\\第三层";
  EXPECT_TRUE(MakeDirectoryTree(api(), chinese, kCodePage)) << chinese << ": " << LastError(api());
  EXPECT_EQ(PathIsDirectory(chinese), 16) << chinese;
  EXPECT_TRUE(IsDirectory(root_ + "补丁程序")) << root_ + "补丁程序";
  EXPECT_TRUE(WriteBytesToFile(api(), chinese + "\\安装前.PNG", {"png"}))
      << chinese + "\\安装前.PNG" << ": " << LastError(api());
  EXPECT_EQ(SizeOrMissing(api(), chinese + "\\安装前.PNG"), 3) << chinese + "\\安装前.PNG";
  // Existing levels are passed over.
  EXPECT_TRUE(MakeDirectoryTree(api(), chinese, kCodePage)) << chinese << ": " << LastError(api());

  Text slashed = root_ + "a/b/c";
  for (char& c : slashed)
    if (c == '\\') c = '/';
  EXPECT_TRUE(MakeDirectoryTree(api(), slashed, kCodePage)) << slashed << ": " << LastError(api());
  EXPECT_TRUE(IsDirectory(root_ + "a\\b\\c")) << root_ + "a\\b\\c";

  EXPECT_TRUE(MakeDirectoryTree(api(), root_ + "x\\y\\", kCodePage))
      << root_ + "x\\y\\" << ": " << LastError(api());
  EXPECT_TRUE(IsDirectory(root_ + "x\\y")) << root_ + "x\\y";

  // A file in the way.
  ASSERT_TRUE(WriteBytesToFile(api(), root_ + "file", {"f"}))
      << root_ + "file" << ": " << LastError(api());
  EXPECT_FALSE(MakeDirectoryTree(api(), root_ + "file\\sub", kCodePage))
      << root_ + "file\\sub" << ": " << LastError(api());
  EXPECT_EQ(PathIsDirectory(root_ + "file"), 0) << root_ + "file";
  EXPECT_EQ(PathIsDirectory(root_ + "missing"), 0) << root_ + "missing";
}

TEST_F(FsprocConformanceTest, CreatingOneDirectory) {
  const WideText made = TextToWide(api(), root_ + "one", kCodePage);
  EXPECT_TRUE(api().CreateDirectoryW(WideArg(made).get())) << LastError(api());
  EXPECT_FALSE(api().CreateDirectoryW(WideArg(made).get())) << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_ALREADY_EXISTS);
  const WideText orphan = TextToWide(api(), root_ + "none\\two", kCodePage);
  EXPECT_FALSE(api().CreateDirectoryW(WideArg(orphan).get())) << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_PATH_NOT_FOUND);
}

TEST_F(FsprocConformanceTest, WellKnownFolders) {
  for (std::int32_t kind : {9, 10, 11}) {
    const Text folder = SpecialFolderPath(api(), kind);
    ASSERT_FALSE(folder.empty()) << "kind " << kind << ": " << LastError(api());
    EXPECT_EQ(folder.back(), '\\') << "kind " << kind << ": " << folder;
    EXPECT_NE(folder.substr(folder.size() - 2), "\\\\") << "kind " << kind << ": " << folder;
    EXPECT_TRUE(IsDirectory(folder)) << "kind " << kind << ": " << folder;
  }
  EXPECT_EQ(SpecialFolderPath(api(), 0), "");
  EXPECT_EQ(SpecialFolderPath(api(), 12), "");

  // Too small a buffer: the size needed, terminator included.
  char buffer[260] = {};
  const win::DWORD length = api().GetTempPathA(sizeof buffer, buffer);
  ASSERT_GT(length, 1u) << LastError(api());
  EXPECT_EQ(api().GetTempPathA(length, buffer), length + 1) << "buffer of " << length;
  EXPECT_EQ(api().GetTempPathA(length + 1, buffer), length) << "buffer of " << length + 1;
  const win::UINT windows = api().GetWindowsDirectoryA(buffer, sizeof buffer);
  ASSERT_GT(windows, 1u) << LastError(api());
  EXPECT_EQ(api().GetWindowsDirectoryA(buffer, 2), windows + 1) << "buffer of 2";
}

// ---------------------------------------------------------------- processes

TEST_F(FsprocConformanceTest, RunningCommandLines) {
  EXPECT_TRUE(RunCommandLine(api(), "cmd.exe /c exit 3", true)) << LastError(api());
  EXPECT_FALSE(RunCommandLine(api(), root_ + "no such program.exe"))
      << root_ + "no such program.exe" << ": " << LastError(api());
  EXPECT_FALSE(RunCommandLine(api(), "tg_no_such_program_here.exe /c")) << LastError(api());
  EXPECT_EQ(api().GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST_F(FsprocConformanceTest, EndingProcesses) {
  EXPECT_FALSE(EndProcessById(api(), 0x7FFFFFF0u)) << LastError(api());

  const win::PROCESS_INFORMATION started = StartSuspended(api(), "cmd.exe");
  ASSERT_NE(started.hProcess, 0u) << "cmd.exe: " << LastError(api());
  EXPECT_EQ(ExeNameOf(api(), started.dwProcessId), "cmd.exe") << "process " << started.dwProcessId;
  EXPECT_TRUE(EndProcessById(api(), started.dwProcessId))
      << "process " << started.dwProcessId << ": " << LastError(api());
  EXPECT_EQ(api().WaitForSingleObject(started.hProcess, 10000), win::WAIT_OBJECT_0)
      << "process " << started.dwProcessId << ": " << LastError(api());
  // Windows refuses to end an ended process whose handle is still open, but
  // Wine accepts; and Wine keeps the ID openable for a moment after the last
  // handle is closed. Once the ID is gone, ending it fails.
  api().CloseHandle(started.hThread);
  api().CloseHandle(started.hProcess);
  for (int tries = 0; tries < 50; ++tries) {
    const win::HANDLE process =
        api().OpenProcess(win::PROCESS_TERMINATE, win::FALSE, started.dwProcessId);
    if (process == 0) break;
    api().CloseHandle(process);
    api().Sleep(100);
  }
  EXPECT_FALSE(EndProcessById(api(), started.dwProcessId))
      << "process " << started.dwProcessId << " after it ended";
}

// An unquoted line is tried word by word: "<root>tg dir\run.exe" starts
// "<root>tg.exe" when that exists. Quoting names the program exactly.
TEST_F(FsprocConformanceTest, UnquotedPathsWithBlanks) {
  const Text self = ModulePath(api());
  ASSERT_TRUE(MakeDirectoryTree(api(), root_ + "tg dir", kCodePage))
      << root_ + "tg dir" << ": " << LastError(api());
  const Text wanted = root_ + "tg dir\\run.exe";
  ASSERT_TRUE(CopyFileTo(api(), self, wanted)) << wanted << ": " << LastError(api());

  auto started = [&](const Text& line) {
    const win::PROCESS_INFORMATION info = StartSuspended(api(), line);
    if (info.hProcess == 0) return "(not started, " + LastError(api()) + ")";
    const Text name = ExeNameOf(api(), info.dwProcessId);
    api().TerminateProcess(info.hProcess, 0);
    api().WaitForSingleObject(info.hProcess, 10000);
    api().CloseHandle(info.hThread);
    api().CloseHandle(info.hProcess);
    return name;
  };
  EXPECT_EQ(started(wanted + " --gtest_list_tests"), "run.exe") << wanted + " --gtest_list_tests";
  // Without the extension, ".exe" is added.
  EXPECT_EQ(started(root_ + "tg dir\\run"), "run.exe") << root_ + "tg dir\\run";

  ASSERT_TRUE(CopyFileTo(api(), self, root_ + "tg.exe"))
      << root_ + "tg.exe" << ": " << LastError(api());
  EXPECT_EQ(started(wanted), "tg.exe") << wanted;
  EXPECT_EQ(started("\"" + wanted + "\""), "run.exe") << "\"" + wanted + "\"";
  EXPECT_EQ(started("\"" + wanted + "\" --gtest_list_tests"), "run.exe")
      << "\"" + wanted + "\" --gtest_list_tests";
}

}  // namespace
