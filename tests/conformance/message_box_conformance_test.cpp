// The timed message box and the displayed program name against the platform.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "conformance/harness.h"
#include "discovery/displayed_name.h"
#include "runtime/text_encoding.h"
#include "ui/message_box.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/machine.h"
#endif

namespace {

constexpr std::int32_t kCodePage = 936;

// "HideFileExt" under the file manager's key of HKEY_CURRENT_USER, put back
// as it was when the object goes.
class HideFileExtSetting {
 public:
  explicit HideFileExtSetting(Harness& harness) : harness_(harness) {
#ifdef _WIN32
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
      keyExisted_ = true;
      DWORD size = sizeof saved_;
      if (RegQueryValueExW(key, L"HideFileExt", nullptr, &savedType_,
                           reinterpret_cast<BYTE*>(saved_), &size) == ERROR_SUCCESS) {
        valueExisted_ = true;
        savedSize_ = size;
      }
      RegCloseKey(key);
    }
#else
    saved_ = Machine().registry;
#endif
  }

  ~HideFileExtSetting() {
#ifdef _WIN32
    if (valueExisted_) {
      Write(savedType_, saved_, savedSize_);
    } else {
      Set(std::nullopt);
      if (!keyExisted_) RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
#else
    Machine().registry = saved_;
#endif
  }

  // std::nullopt removes the value.
  void Set(std::optional<std::uint32_t> value) {
#ifdef _WIN32
    if (value) {
      const DWORD data = *value;
      ASSERT_TRUE(Write(REG_DWORD, &data, sizeof data));
    } else {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
      RegDeleteValueW(key, L"HideFileExt");
      RegCloseKey(key);
    }
#else
    if (value)
      Machine().registry.SetDword(kKeyText, "HideFileExt", *value);
    else
      Machine().registry.Delete(kKeyText, "HideFileExt");
#endif
  }

 private:
#ifdef _WIN32
  static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
  bool Write(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return false;
    const bool ok = RegSetValueExW(key, L"HideFileExt", 0, type, static_cast<const BYTE*>(data),
                                   size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }
  bool keyExisted_ = false;
  bool valueExisted_ = false;
  DWORD savedType_ = 0;
  DWORD savedSize_ = 0;
  char saved_[64] = {};
#else
  static constexpr const char* kKeyText = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
  sim::Machine& Machine() { return static_cast<sim::Machine&>(harness_.api()); }
  sim::Registry saved_;
#endif
  [[maybe_unused]] Harness& harness_;
};

std::string OwnPath(win::Api& api) {
  char path[1024] = {};
  const auto n = api.GetModuleFileNameA(0, path, sizeof path);
  return std::string(path, n);
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

TEST(DisplayedNameConformance, OwnProgramNameEndsInExe) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const std::string path = OwnPath(api);
  ASSERT_FALSE(path.empty()) << LastError(api);
  const std::string name = FileName(path);
  ASSERT_EQ(name.substr(name.size() - 4), ".exe") << path;
  const std::string stem = name.substr(0, name.size() - 4);

  // The platform's own title, as the setting makes it.
  auto title = [&] {
    const WideArg wide(TextToWide(api, path, kCodePage));
    std::u16string buffer(1024, u'\0');
    EXPECT_EQ(api.GetFileTitleW(wide.get(), buffer.data(), 1024), 0)
        << path << ": " << LastError(api);
    return WideToText(api, UnitsToWide(buffer), kCodePage);
  };

  HideFileExtSetting setting(*harness);
  setting.Set(0);
  EXPECT_EQ(title(), name) << "HideFileExt 0";
  EXPECT_EQ(GetDisplayedProgramName(api, path, kCodePage), name) << "HideFileExt 0";

  // Set: Windows hides the extension and it is put back; Wine's title keeps
  // it, and then it is not put on twice. Either way the name is the file's.
  setting.Set(1);
  const std::string hidden = title();
  ASSERT_TRUE(hidden == stem || hidden == name) << "HideFileExt 1: title \"" << hidden << "\"";
  EXPECT_EQ(GetDisplayedProgramName(api, path, kCodePage), name) << "HideFileExt 1";

  // Absent: nothing is put back, whatever the platform's default.
  setting.Set(std::nullopt);
  EXPECT_EQ(GetDisplayedProgramName(api, path, kCodePage), title()) << "no HideFileExt";
}

TEST(MessageBoxConformance, BoxesCloseWhenTheirTimeRunsOut) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  const Text text = "这个提示两秒后自己关闭";
  // Two boxes in a row: the first one's timer must not cut the second short.
  for (std::int32_t timeout : {2000, 2500}) {
    SCOPED_TRACE("time-out " + std::to_string(timeout) + " ms");
    const win::DWORD start = api.GetTickCount();
    EXPECT_EQ(TimedMessageBox(api, kCodePage, text, 0u, std::nullopt, std::nullopt, timeout),
              31999)
        << LastError(api) << " after " << api.GetTickCount() - start << " ms";
    const win::DWORD elapsed = api.GetTickCount() - start;
    EXPECT_GE(elapsed, static_cast<win::DWORD>(timeout - 100)) << "closed too soon";
    EXPECT_LT(elapsed, 10000u) << "not closed by its time-out";
  }
}

#ifdef _WIN32
DWORD WINAPI PressCancelLater(void* caption) {
  Sleep(1500);
  for (int tries = 0; tries < 100; ++tries, Sleep(50)) {
    HWND box = FindWindowA("#32770", static_cast<const char*>(caption));
    if (box && PostMessageA(box, WM_COMMAND, IDCANCEL, 0)) return 0;
  }
  return 1;
}
#endif

TEST(MessageBoxConformance, ZeroTimeoutWaitsForTheUser) {
  auto harness = MakeHarness();
  auto& api = harness->api();
  static const char kCaption[] = "conformance zero time-out";
  const win::DWORD start = api.GetTickCount();
#ifdef _WIN32
  HANDLE presser = CreateThread(nullptr, 0, PressCancelLater, const_cast<char*>(kCaption), 0, nullptr);
  ASSERT_NE(presser, nullptr) << "CreateThread: " << GetLastError();
#else
  static_cast<sim::Machine&>(api).user.answers = {2};
#endif
  EXPECT_EQ(TimedMessageBox(api, kCodePage, "按取消", 0x21u, Text(kCaption), std::nullopt, 0), 1)
      << "Cancel pressed; " << LastError(api);
#ifdef _WIN32
  EXPECT_GE(api.GetTickCount() - start, 1400u) << "closed before Cancel was pressed";
  WaitForSingleObject(presser, INFINITE);
  CloseHandle(presser);
#else
  (void)start;
#endif
}

}  // namespace
