#include "discovery/image_path.h"

#include <algorithm>
#include <cstring>

#include "runtime/handles.h"
#include "runtime/text_encoding.h"
#include "runtime/values.h"

namespace {

// Units QueryDosDeviceW may fill; the buffer holds one more, always zero.
constexpr win::DWORD kTargetUnits = 260;

win::WCHAR Unit(const WideText& wide, std::size_t index) {
  return static_cast<win::WCHAR>(static_cast<unsigned char>(wide[2 * index]) |
                                 static_cast<unsigned char>(wide[2 * index + 1]) << 8);
}

bool IsAsciiLetter(win::WCHAR c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// \??\X:\... , the form Wine reports image names in.
bool HasDosDrivePrefix(const WideText& path) {
  return path.size() >= 14 && Unit(path, 0) == u'\\' && Unit(path, 1) == u'?' &&
         Unit(path, 2) == u'?' && Unit(path, 3) == u'\\' && IsAsciiLetter(Unit(path, 4)) &&
         Unit(path, 5) == u':' && Unit(path, 6) == u'\\';
}

// The name in an image-name buffer the second query filled: the record's
// characters, which must lie inside the buffer, plus one zero unit.
WideText ImageNameFromRecord(const void* buffer, win::ULONG size) {
  if (size < sizeof(win::UNICODE_STRING)) return WideText();
  win::UNICODE_STRING record{};
  std::memcpy(&record, buffer, sizeof(record));
  const auto maximum = static_cast<std::int16_t>(record.MaximumLength);
  if (maximum <= 0 || record.Buffer == nullptr) return WideText();

  const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
  const auto chars = reinterpret_cast<std::uintptr_t>(record.Buffer);
  if (chars < begin || chars >= begin + size) return WideText();
  std::size_t bytes = std::min<std::size_t>({record.Length, static_cast<std::size_t>(maximum),
                                             begin + size - chars});
  bytes &= ~std::size_t{1};
  if (bytes == 0) return WideText();
  WideText name(reinterpret_cast<const char*>(chars), bytes);
  name.append(2, '\0');
  return name;
}

// Both NtQueryInformationProcess calls: the size, then the name.
WideText ReadImageFileName(win::Api& api, win::HANDLE process) {
  win::ULONG length = 0;
  if (api.NtQueryInformationProcess(process, win::ProcessImageFileName, nullptr, 0, &length) !=
      win::STATUS_INFO_LENGTH_MISMATCH)
    return WideText();
  const win::ULONG size = length;
  UniqueHeap buffer(api, api.HeapAlloc(api.GetProcessHeap(), win::HEAP_ZERO_MEMORY, size));
  if (!buffer) return WideText();
  if (api.NtQueryInformationProcess(process, win::ProcessImageFileName, buffer.get(), size,
                                    &length) != win::STATUS_SUCCESS)
    return WideText();
  return ImageNameFromRecord(buffer.get(), size);
}

}  // namespace

WideText QueryProcessImageName(win::Api& api, win::DWORD processId) {
  win::HANDLE process = 0;
  if (processId == 0) {
    process = api.GetCurrentProcess();
  } else {
    win::BOOL wasEnabled = win::FALSE;
    api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::TRUE, win::FALSE, &wasEnabled);
    process = api.OpenProcess(win::PROCESS_QUERY_INFORMATION, win::FALSE, processId);
    api.RtlAdjustPrivilege(win::SE_DEBUG_PRIVILEGE, win::FALSE, win::FALSE, &wasEnabled);
    if (process == 0) return WideText();
  }
  UniqueHandle owner(api, process);
  const WideText name = ReadImageFileName(api, process);
  owner.reset();
  return DevicePathToDrivePath(api, name);
}

WideText DevicePathToDrivePath(win::Api& api, const WideText& path) {
  if (HasDosDrivePrefix(path)) return path.substr(8);

  win::WCHAR target[kTargetUnits + 1] = {};
  win::WCHAR drive[3] = {u'@', u':', 0};  // '@' comes just before 'A'
  for (int pass = 0; pass < 26; ++pass) {
    ++drive[0];
    const win::DWORD count = api.QueryDosDeviceW(drive, target, kTargetUnits);
    // A device name, its zero and the list's zero need at least 3 units;
    // anything shorter, or more than was offered, maps nothing.
    if (count < 3 || count > kTargetUnits) continue;
    target[count - 2] = u'\\';
    const WideText prefix = UnitsToWide(std::u16string_view(target, count - 1));
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    const win::WCHAR drivePath[3] = {drive[0], u':', u'\\'};
    return UnitsToWide(std::u16string_view(drivePath, 3)) + path.substr(prefix.size());
  }
  return path;
}

Text GetProcessImagePath(win::Api& api, win::DWORD processId, std::int32_t codePage) {
  return WideToText(api, QueryProcessImageName(api, processId), codePage);
}

Text GetOpenProcessImagePath(win::Api& api, win::HANDLE process, std::int32_t codePage) {
  return WideToText(api, DevicePathToDrivePath(api, ReadImageFileName(api, process)), codePage);
}

Text PathFolderPart(std::string_view path) {
  Text text = TextLeft(path, TextLength(path));
  if (!text.empty() && text.back() == '\\') text.pop_back();
  const std::int32_t last = FindTextBackward(text, "\\");
  return last < 1 ? Text() : TextLeft(text, last);
}
