#include "discovery/game_lookup.h"

#include "runtime/handles.h"
#include "runtime/values.h"

namespace {

// Only this much of szExeFile takes part in the comparison.
constexpr std::size_t kComparedNameBytes = 256;

const char* TextOrNull(const std::optional<Text>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

win::HWND LocateWindow(win::Api& api, win::HWND parent, win::HWND childAfter,
                       const std::optional<Text>& className, const std::optional<Text>& title) {
  return api.FindWindowExA(parent, childAfter, TextOrNull(className), TextOrNull(title));
}

win::DWORD FindProcessIdByName(win::Api& api, std::string_view name) {
  UniqueFileHandle snapshot(api, api.CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;

  const Text sought = ToLowerAscii(name);
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (win::BOOL more = api.Process32First(snapshot.get(), &entry); more;
       more = api.Process32Next(snapshot.get(), &entry)) {
    if (ToLowerAscii(FixedCharsToText(entry.szExeFile, kComparedNameBytes)) == sought)
      return entry.th32ProcessID;
  }
  return 0;
}
