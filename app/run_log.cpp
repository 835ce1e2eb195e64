#include "app/run_log.h"

#include <string>

#include "fsproc/file_ops.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

constexpr std::string_view kLogFolderPart = "Thistlegarden补丁程序\\";
constexpr std::string_view kLogName = "运行记录";
constexpr win::UINT kUtf8 = 65001;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

Text LogPath(const Text& folder, int n) {
  return ConcatTexts(folder, kLogName, ValueToText(n), ".txt");
}

// GB18030 text as UTF-8; empty when it does not convert.
Text ToUtf8(win::Api& api, const Text& text) {
  const std::u16string units = WideToUnits(TrimWideAtNul(TextToWide(api, text, kPathCodePage), false));
  if (units.empty()) return Text();
  const int count = static_cast<int>(units.size());
  const int size = api.WideCharToMultiByte(kUtf8, 0, units.data(), count, nullptr, 0);
  if (size <= 0) return Text();
  Text utf8(static_cast<std::size_t>(size), '\0');
  if (api.WideCharToMultiByte(kUtf8, 0, units.data(), count, utf8.data(), size) != size) return Text();
  return utf8;
}

Text Windows(win::Api& api) {
  win::OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (api.RtlGetVersion(&info) != win::STATUS_SUCCESS) return "未知";
  return ConcatTexts(ValueToText(static_cast<std::int32_t>(info.dwMajorVersion)), ".",
                     ValueToText(static_cast<std::int32_t>(info.dwMinorVersion)), ".",
                     ValueToText(static_cast<std::int32_t>(info.dwBuildNumber)));
}

Text TwoDigits(int n) { return n < 10 ? ConcatTexts("0", ValueToText(n)) : ValueToText(n); }

Text Now(win::Api& api) {
  win::SYSTEMTIME t{};
  api.GetLocalTime(&t);
  return ConcatTexts(ValueToText(t.wYear), "-", TwoDigits(t.wMonth), "-", TwoDigits(t.wDay), " ",
                     TwoDigits(t.wHour), ":", TwoDigits(t.wMinute), ":", TwoDigits(t.wSecond));
}

}  // namespace

RunLog::RunLog(win::Api& api) : api_(api) {
  Add("Thistlegarden补丁程序", TG_PRODUCT_VERSION);
  Add("时间", Now(api));
  Add("Windows", Windows(api));
}

void RunLog::Add(std::string_view label, const Text& value) {
  lines_.push_back(ConcatTexts(label, "：", value));
}

void RunLog::AddStep(std::string_view label, bool done, win::DWORD error) {
  if (done || error == 0) {
    Add(label, TruthToText(done));
    return;
  }
  const Text text = ErrorText(api_, error);
  Add(label, ConcatTexts("假（错误代码 ", std::to_string(error), text.empty() ? "" : "：", text, "）"));
}

Text RunLog::Save() {
  if (path_.empty()) {
    const Text folder = JoinPath(SpecialFolderPath(api_, kTemporaryFilesFolder), kLogFolderPart);
    MakeDirectoryTree(api_, folder, kPathCodePage);
    // The others move down one, each over the one below it; one that cannot
    // be replaced is stepped over, so that no record newer than it is lost
    // to it and the newest is always the first.
    for (int n = kKeptRunLogs - 1; n >= 1; --n) {
      const WideText from = TextToWide(api_, LogPath(folder, n), kPathCodePage);
      if (from.empty() || !LookUpFile(api_, LogPath(folder, n)).found()) continue;
      for (int to = n + 1; to <= kKeptRunLogs; ++to) {
        const WideText target = TextToWide(api_, LogPath(folder, to), kPathCodePage);
        if (!target.empty() &&
            api_.MoveFileExW(WideArg(from).get(), WideArg(target).get(), win::MOVEFILE_REPLACE_EXISTING))
          break;
      }
    }
    path_ = LogPath(folder, 1);
  }
  Text utf8 = kByteOrderMark;
  for (const Text& line : lines_) utf8 += ToUtf8(api_, line) + "\r\n";
  return WriteBytesToFile(api_, path_, {utf8}) ? ShownText(api_, path_) : Text();
}

Text ErrorText(win::Api& api, win::DWORD error) {
  win::WCHAR buffer[512] = {};
  const win::DWORD n = api.FormatMessageW(
      win::FORMAT_MESSAGE_FROM_SYSTEM | win::FORMAT_MESSAGE_IGNORE_INSERTS, error, buffer, 512);
  std::u16string units(buffer, n < 512 ? n : 0);
  while (!units.empty() && (units.back() == u'\r' || units.back() == u'\n' || units.back() == u' '))
    units.pop_back();
  return WideToText(api, UnitsToWide(units), kPathCodePage);
}
