// Code page 936 names reach the disk as the right UTF-16 names whatever the
// system's ANSI code page.
#include <gtest/gtest.h>

#include <string>

#include "conformance/harness.h"

namespace {

// The seam's constants, named before <windows.h> turns the names into macros.
constexpr win::HANDLE kNoFile = win::INVALID_HANDLE_VALUE;
constexpr win::DWORD kNoAttributes = win::INVALID_FILE_ATTRIBUTES;
constexpr win::DWORD kRead = win::GENERIC_READ, kWrite = win::GENERIC_WRITE;
constexpr win::DWORD kCreate = win::CREATE_ALWAYS, kOpen = win::OPEN_EXISTING;
constexpr win::DWORD kNormal = win::FILE_ATTRIBUTE_NORMAL, kReplace = win::MOVEFILE_REPLACE_EXISTING;

}  // namespace

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string TempFolder(win::Api& api) {
  char buffer[600] = {};
  const win::DWORD n = api.GetTempPathA(sizeof buffer, buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

#ifdef _WIN32
std::wstring WideTemp() {
  wchar_t buffer[600] = {};
  GetTempPathW(600, buffer);
  return buffer;
}
bool ExistsW(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
#endif

TEST(CodePageAnyTest, FilesAndFoldersWithChineseNames) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string temp = TempFolder(api);
  ASSERT_FALSE(temp.empty()) << LastError(api);
  const std::string folder = temp + "补丁 对比图";
  // The folder through its UTF-16 name, the files through the 8-bit calls.
  const int units = api.MultiByteToWideChar(936, 0, folder.c_str(), -1, nullptr, 0);
  std::u16string created(static_cast<std::size_t>(units), u'\0');
  api.MultiByteToWideChar(936, 0, folder.c_str(), -1, created.data(), units);
  api.CreateDirectoryW(created.c_str());
  ASSERT_NE(api.GetFileAttributesW(created.c_str()), kNoAttributes)
      << folder << " (" << units << " units): " << LastError(api);

  const std::string file = folder + "\\欧尼酱 补丁.txt";
  win::HANDLE h = api.CreateFileA(file.c_str(), kWrite, 0, kCreate,
                                  kNormal);
  ASSERT_NE(h, kNoFile) << file << ": " << LastError(api);
  win::DWORD written = 0;
  EXPECT_TRUE(api.WriteFile(h, "abc", 3, &written)) << LastError(api);
  EXPECT_TRUE(api.CloseHandle(h)) << LastError(api);

  win::WIN32_FIND_DATAA found{};
  win::HANDLE find = api.FindFirstFileA(file.c_str(), &found);
  ASSERT_NE(find, kNoFile) << file << ": " << LastError(api);
  EXPECT_EQ(std::string(found.cFileName), "欧尼酱 补丁.txt");
  EXPECT_EQ(found.nFileSizeLow, 3u);
  api.FindClose(find);

  const std::string copy = folder + "\\副本 补丁.txt";
  const std::string moved = folder + "\\移动 补丁.txt";
  EXPECT_TRUE(api.CopyFileA(file.c_str(), copy.c_str(), 0)) << copy << ": " << LastError(api);
  auto wide = [&api](const std::string& path) {
    std::u16string name(path.size() + 1, u'\0');
    const int n = api.MultiByteToWideChar(936, 0, path.c_str(), -1, name.data(),
                                          static_cast<int>(name.size()));
    name.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return name;
  };
  EXPECT_TRUE(api.MoveFileExW(wide(copy).c_str(), wide(moved).c_str(), kReplace))
      << moved << ": " << LastError(api);
#ifdef _WIN32
  if (!harness->simulated()) {
    const std::wstring base = WideTemp() + L"补丁 对比图\\";
    EXPECT_TRUE(ExistsW(base + L"欧尼酱 补丁.txt")) << "the written file, by its UTF-16 name";
    EXPECT_TRUE(ExistsW(base + L"移动 补丁.txt")) << "the moved file, by its UTF-16 name";
    EXPECT_FALSE(ExistsW(base + L"副本 补丁.txt")) << "the copy is still there after the move";
  }
#endif
  EXPECT_TRUE(api.DeleteFileA(file.c_str())) << file << ": " << LastError(api);
  EXPECT_TRUE(api.DeleteFileA(moved.c_str())) << moved << ": " << LastError(api);
  EXPECT_EQ(api.FindFirstFileA(file.c_str(), &found), kNoFile) << file << " after DeleteFileA";
#ifdef _WIN32
  if (!harness->simulated()) {
    const std::wstring base = WideTemp() + L"补丁 对比图";
    EXPECT_FALSE(ExistsW(base + L"\\欧尼酱 补丁.txt")) << "deleted, by its UTF-16 name";
    RemoveDirectoryW(base.c_str());
  }
#endif
}

TEST(CodePageAnyTest, PathsRoundTripAndAnswerInBytes) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string temp = TempFolder(api);
  ASSERT_FALSE(temp.empty());
  SCOPED_TRACE("GetTempPathA gave \"" + temp + "\"");
  EXPECT_EQ(temp.back(), '\\');
  // Too small a buffer: the bytes needed with the terminator.
  char small[2] = {};
  EXPECT_EQ(api.GetTempPathA(sizeof small, small), temp.size() + 1) << "buffer of 2";
  EXPECT_EQ(api.GetTempPathA(static_cast<win::DWORD>(temp.size()), small), temp.size() + 1)
      << "buffer of " << temp.size();

  char module[600] = {};
  const win::DWORD n = api.GetModuleFileNameA(0, module, sizeof module);
  ASSERT_GT(n, 0u) << LastError(api);
  EXPECT_EQ(std::string(module).size(), n) << module;
  // The name found on disk under the 8-bit name.
  win::HANDLE h = api.CreateFileA(module, kRead, 1, kOpen,
                                  kNormal);
  if (!harness->simulated()) {
    EXPECT_NE(h, kNoFile) << module << ": " << LastError(api);
  }
  if (h != kNoFile) api.CloseHandle(h);
#ifdef _WIN32
  if (!harness->simulated()) {
    wchar_t wide[600] = {};
    GetModuleFileNameW(nullptr, wide, 600);
    char expected[1200] = {};
    WideCharToMultiByte(936, 0, wide, -1, expected, sizeof expected, nullptr, nullptr);
    EXPECT_EQ(std::string(module), expected) << "GetModuleFileNameA against GetModuleFileNameW";
    wchar_t wideTemp[600] = {};
    GetTempPathW(600, wideTemp);
    WideCharToMultiByte(936, 0, wideTemp, -1, expected, sizeof expected, nullptr, nullptr);
    EXPECT_EQ(temp, expected) << "GetTempPathA against GetTempPathW";
  }
#endif
}

}  // namespace
