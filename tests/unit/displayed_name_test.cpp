// The displayed program name, the registry read behind it and the 64-bit probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "discovery/displayed_name.h"
#include "platform/sim/machine.h"

namespace {

constexpr std::int32_t kCodePage = 936;
const std::string kAdvanced = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
const std::string kGame = "C:\\Games\\Thistlegarden\\Thistlegarden.exe";

long Count(const sim::Machine& machine, const std::string& name) {
  return std::count(machine.faults.calls.begin(), machine.faults.calls.end(), name);
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string data;
  for (int b : bytes) data += static_cast<char>(b);
  return data;
}

struct DisplayedNameTest : ::testing::Test {
  DisplayedNameTest() { machine.files.AddFile(kGame, "MZ"); }
  Text Name(const std::string& path) { return GetDisplayedProgramName(machine, path, kCodePage); }
  void Hide(std::uint32_t value) { machine.registry.SetDword(kAdvanced, "HideFileExt", value); }
  sim::Machine machine;
};

TEST_F(DisplayedNameTest, ExtensionRestoredOnlyWhenTheSettingReadsOne) {
  struct Case {
    const char* what;
    bool present;
    sim::Registry::Value value;
    const char* expected;
  };
  const Case cases[] = {
      {"absent", false, {}, "Thistlegarden.exe"},
      {"0", true, {win::REG_DWORD, Bytes({0, 0, 0, 0})}, "Thistlegarden.exe"},
      {"1: hidden, then put back", true, {win::REG_DWORD, Bytes({1, 0, 0, 0})}, "Thistlegarden.exe"},
      // The file manager hides for any non-zero number; only 1 puts it back.
      {"2", true, {win::REG_DWORD, Bytes({2, 0, 0, 0})}, "Thistlegarden"},
      // The string "1" in UTF-16 reads as 49.
      {"string 1", true, {win::REG_SZ, Bytes({'1', 0, 0, 0})}, "Thistlegarden.exe"},
      // Longer than 4 bytes: reads as 0, whatever its first bytes are.
      {"8 bytes", true, {win::REG_BINARY, Bytes({1, 0, 0, 0, 0, 0, 0, 0})}, "Thistlegarden.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine.registry = sim::Registry{};
    if (c.present) machine.registry.Set(kAdvanced, "HideFileExt", c.value);
    EXPECT_EQ(Name(kGame), c.expected);
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
  }
}

TEST_F(DisplayedNameTest, ReadRegistryDwordTakesTheFirstFourBytesOfWhateverIsStored) {
  auto read = [&](const std::string& name, bool in64 = true) {
    machine.faults.calls.clear();
    return ReadRegistryDword(machine, win::HKEY_CURRENT_USER, kAdvanced, name, in64, kCodePage);
  };
  machine.registry.Set(kAdvanced, "Text", {win::REG_SZ, Bytes({'1', 0, 0, 0})});
  machine.registry.Set(kAdvanced, "Short", {win::REG_BINARY, Bytes({0x34, 0x12})});
  machine.registry.SetDword(kAdvanced, "Number", 0xA1B2C3D4u);
  machine.registry.Set(kAdvanced, "Long", {win::REG_BINARY, Bytes({1, 2, 3, 4, 5})});
  EXPECT_EQ(read("Text"), 49u);
  EXPECT_EQ(read("short"), 0x1234u);  // names compare without case
  EXPECT_EQ(read("Number"), 0xA1B2C3D4u);
  EXPECT_EQ(Count(machine, "RegQueryValueExW"), 2);

  // Data longer than the 4-byte result is never fetched.
  EXPECT_EQ(read("Long"), 0u);
  EXPECT_EQ(Count(machine, "RegQueryValueExW"), 1);
  EXPECT_EQ(read("Missing"), 0u);
  EXPECT_EQ(Count(machine, "RegQueryValueExW"), 1);
  EXPECT_EQ(ReadRegistryDword(machine, win::HKEY_CURRENT_USER, "Software\\Nowhere", "Number",
                              true, kCodePage),
            0u);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);

  // The second read failing gives 0, not what the first read saw.
  machine.faults.Fail(win::Call::RegQueryValueExW, 2);
  EXPECT_EQ(read("Number"), 0u);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST_F(DisplayedNameTest, RegistryViewFollowsTheSystemProbe) {
  // The file manager reads the system's native view; the program reads the
  // 64-bit view only when the probe says the system is 64-bit.
  struct Case {
    const char* what;
    bool in64;              // which single view holds HideFileExt = 1
    bool probeWorks;
    bool removeExport;
    const char* expected;
  };
  const Case cases[] = {
      {"64-bit view, 64-bit system", true, true, false, "Thistlegarden.exe"},
      {"64-bit view, export missing", true, true, true, "Thistlegarden"},
      {"64-bit view, probe fails", true, false, false, "Thistlegarden"},
      {"32-bit view, 64-bit system", false, true, false, "Thistlegarden.exe"},
      {"32-bit view, probe fails", false, false, false, "Thistlegarden.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine.registry = sim::Registry{};
    machine.registry.SetInView(c.in64, kAdvanced, "HideFileExt", {win::REG_DWORD, Bytes({1, 0, 0, 0})});
    machine.self.missingExports.clear();
    machine.faults.Clear();
    if (c.removeExport) machine.self.missingExports.insert("GetSystemWow64DirectoryA");
    if (!c.probeWorks) machine.faults.Fail(win::Call::GetSystemWow64DirectoryA);
    EXPECT_EQ(Name(kGame), c.expected);
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
  }
}

TEST_F(DisplayedNameTest, IsSystem64Bit) {
  EXPECT_TRUE(IsSystem64Bit(machine));

  machine.folders.wow64.clear();  // 32-bit Windows: the export exists but fails
  machine.faults.calls.clear();
  EXPECT_FALSE(IsSystem64Bit(machine));
  EXPECT_EQ(Count(machine, "GetSystemWow64DirectoryA"), 1);

  machine.folders.wow64 = "C:\\Windows\\SysWOW64";
  machine.self.missingExports.insert("GetSystemWow64DirectoryA");
  machine.faults.calls.clear();
  EXPECT_FALSE(IsSystem64Bit(machine));
  EXPECT_EQ(Count(machine, "GetSystemWow64DirectoryA"), 0);

  machine.self.missingExports.clear();
  machine.self.modules.erase("kernel32.dll");
  EXPECT_FALSE(IsSystem64Bit(machine));
}

TEST_F(DisplayedNameTest, PathsThatGetNothingAppended) {
  Hide(1);
  machine.files.AddDirectory("C:\\Games\\Thistlegarden.v2");
  machine.files.AddFile("C:\\Games\\Thistlegarden\\Thistlegarden", "MZ");

  // A folder: shown in full, and no registry read at all.
  machine.faults.calls.clear();
  EXPECT_EQ(Name("C:\\Games\\Thistlegarden.v2"), "Thistlegarden.v2");
  EXPECT_EQ(Count(machine, "RegOpenKeyExW"), 0);

  // A file without extension.
  EXPECT_EQ(Name("C:\\Games\\Thistlegarden\\Thistlegarden"), "Thistlegarden");

  // Attributes that cannot be read (a missing file, a character lost in the
  // conversion) count as a folder: the title keeps its extension hidden.
  EXPECT_EQ(Name("C:\\Games\\Elsewhere\\Thistlegarden.exe"), "Thistlegarden");
  EXPECT_EQ(Name("C:\\Games\\Thistlegarden\\Thistle?garden.exe"), "Thistle?garden");

  // No title at all: an empty path, a folder path ending in "\", a wildcard.
  machine.faults.calls.clear();
  EXPECT_EQ(Name(""), "");
  EXPECT_EQ(Name("C:\\Games\\"), "");
  EXPECT_EQ(Name("C:\\Games\\*.exe"), "");
  EXPECT_EQ(Count(machine, "GetFileAttributesW"), 0);
  EXPECT_EQ(machine.OpenHandleCount(), 0u);
}

TEST_F(DisplayedNameTest, ExtensionsTheFileManagerAlwaysOrNeverShows) {
  machine.files.AddFile("C:\\Games\\readme.txt", "");
  machine.files.AddFile("C:\\Games\\Thistlegarden.lnk", "");
  machine.files.AddFile("C:\\Games\\.profile", "");
  machine.registry.alwaysShowExtensions = {".txt"};

  Hide(0);
  EXPECT_EQ(Name("C:\\Games\\readme.txt"), "readme.txt");
  EXPECT_EQ(Name("C:\\Games\\Thistlegarden.lnk"), "Thistlegarden");
  EXPECT_EQ(Name("C:\\Games\\.profile"), ".profile");

  // An extension the title already shows is not put on twice: the game is
  // started again by this name.
  Hide(1);
  EXPECT_EQ(Name("C:\\Games\\readme.txt"), "readme.txt");
  EXPECT_EQ(Name("C:\\Games\\Thistlegarden.lnk"), "Thistlegarden.lnk");
  EXPECT_EQ(Name("C:\\Games\\.profile"), ".profile");
  EXPECT_EQ(Name("c:/games/readme.TXT"), "readme.TXT");
}

TEST_F(DisplayedNameTest, AppendStopsAtTheTitleBufferEnd) {
  // The buffer holds 32,768 units; a hidden ".exe" goes back on only when it
  // fits with its zero unit behind a title of n units: n + 5 <= 32,768.
  Hide(1);
  for (std::size_t n : {32763u, 32764u}) {
    SCOPED_TRACE(n);
    const std::string name = std::string(n, 'a') + ".exe";
    machine.files.AddFile("C:\\" + name, "");
    EXPECT_EQ(Name("C:\\" + name).size(), n == 32763u ? name.size() : n);
  }
  // One unit more than GetFileTitleW is told it may write: no title.
  machine.registry.alwaysShowExtensions = {".txt"};
  const std::string tooLong = std::string(32763, 'a') + ".txt";
  machine.files.AddFile("C:\\" + tooLong, "");
  EXPECT_TRUE(Name("C:\\" + tooLong).empty());
}

TEST_F(DisplayedNameTest, EveryFailureLeavesNothingOpen) {
  Hide(1);
  machine.faults.calls.clear();
  ASSERT_EQ(Name(kGame), "Thistlegarden.exe");
  const long calls = machine.faults.failableCalls;
  for (long n = 1; n <= calls; ++n) {
    sim::Machine m;
    m.files.AddFile(kGame, "MZ");
    m.registry.SetDword(kAdvanced, "HideFileExt", 1);
    m.faults.FailAtCall(n);
    const Text shown = GetDisplayedProgramName(m, kGame, kCodePage);
    ASSERT_EQ(m.faults.failed.size(), 1u) << n;
    SCOPED_TRACE(m.faults.failed[0]);
    EXPECT_TRUE(shown.empty() || shown == "Thistlegarden" || shown == "Thistlegarden.exe") << shown;
    EXPECT_EQ(m.OpenHandleCount(), m.faults.failed[0] == "RegCloseKey" ? 1u : 0u);
  }
}

}  // namespace
