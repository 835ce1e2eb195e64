#include "discovery/game_lookup.h"

#include <algorithm>

#include "runtime/handles.h"
#include "runtime/values.h"

namespace {

// Only this much of szExeFile takes part in the comparison.
constexpr std::size_t kComparedNameBytes = 256;
// More top-level windows of one title than any desktop has: the walk stops
// there even if the windows keep changing under it.
constexpr int kMostWindows = 4096;

const char* TextOrNull(const std::optional<Text>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

win::HWND LocateWindow(win::Api& api, win::HWND parent, win::HWND childAfter,
                       const std::optional<Text>& className, const std::optional<Text>& title) {
  return api.FindWindowExA(parent, childAfter, TextOrNull(className), TextOrNull(title));
}

std::vector<win::DWORD> FindProcessIdsByName(win::Api& api, std::string_view name) {
  std::vector<win::DWORD> found;
  UniqueFileHandle snapshot(api, api.CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;

  const Text sought = ToLowerAscii(name);
  win::PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (win::BOOL more = api.Process32First(snapshot.get(), &entry); more;
       more = api.Process32Next(snapshot.get(), &entry)) {
    if (ToLowerAscii(FixedCharsToText(entry.szExeFile, kComparedNameBytes)) == sought)
      found.push_back(entry.th32ProcessID);
  }
  return found;
}

FoundGame FindGame(win::Api& api, const Text& title, std::string_view exeName) {
  const std::vector<win::DWORD> games = FindProcessIdsByName(api, exeName);
  FoundGame found;
  if (games.empty()) return found;
  win::HWND window = 0;
  for (int n = 0; n < kMostWindows; ++n) {
    window = LocateWindow(api, 0, window, std::nullopt, title);
    if (window == 0) break;
    win::DWORD owner = 0;
    if (api.GetWindowThreadProcessId(window, &owner) == 0 || owner == 0) continue;
    if (std::find(games.begin(), games.end(), owner) != games.end()) return {window, owner};
  }
  found.processId = games.front();
  return found;
}
