#include "ui/message_box.h"

#include <string>

#include "runtime/system.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

constexpr std::int32_t kLongestSearch = 31536000;  // a year of milliseconds

Text ClassNameOf(win::Api& api, win::HWND window) {
  Text name(261, ' ');
  return TextLeft(name, api.GetClassNameA(window, name.data(), 260));
}

Text TitleOf(win::Api& api, win::HWND window, std::int32_t codePage) {
  const int length = api.GetWindowTextLengthW(window);
  if (length <= 0) return Text();
  std::u16string units(static_cast<std::size_t>(length) + 1, u'\0');
  api.GetWindowTextW(window, units.data(), length + 1);
  return WideToText(api, UnitsToWide(units), codePage);
}

}  // namespace

std::int32_t TimedMessageBox(win::Api& api, std::int32_t codePage, const Text& text,
                             std::optional<win::UINT> style, std::optional<Text> title,
                             std::optional<win::HWND> owner, std::optional<std::int32_t> timeout) {
  const win::HWND boxOwner =
      owner ? *owner
            : FindProcessWindow(api, codePage, api.GetCurrentProcessId(), std::nullopt,
                                std::nullopt, 1000);
  const Text caption = title ? *title : Text("友情提醒");
  return api.MessageBoxTimeoutA(boxOwner, text.c_str(), caption.c_str(), style.value_or(0), 0,
                                static_cast<win::DWORD>(timeout.value_or(5000))) -
         1;
}

win::HWND FindProcessWindow(win::Api& api, std::int32_t codePage, win::DWORD processId,
                            std::optional<Text> titleFilter, std::optional<Text> classFilter,
                            std::optional<std::int32_t> timeout, std::optional<bool> visibleOnly) {
  const bool onlyVisible = visibleOnly.value_or(true);
  const auto start = static_cast<std::int32_t>(api.GetTickCount());
  const std::int32_t limit = timeout && *timeout >= 0 ? *timeout : kLongestSearch;
  win::HWND previous = 0;
  for (;;) {
    const auto now = static_cast<std::int32_t>(api.GetTickCount());
    if ((static_cast<double>(now) - static_cast<double>(start)) - limit >= -0.0000001) return 0;

    const win::HWND window = api.FindWindowExA(0, previous, nullptr, nullptr);
    previous = window;
    if (window == 0) return 0;
    if (onlyVisible && !api.IsWindowVisible(window)) continue;

    win::DWORD owner = 0;
    api.GetWindowThreadProcessId(window, &owner);
    if (owner == processId && api.GetParent(window) == 0) {
      const Text className = ClassNameOf(api, window);
      const Text windowTitle = TitleOf(api, window, codePage);
      const bool classMatches = !classFilter || FindText(className, *classFilter) >= 1;
      const bool titleMatches = !titleFilter || FindText(windowTitle, *titleFilter) >= 1;
      if (classMatches && titleMatches) return window;
    }
    PumpPendingMessages(api);
  }
}
