// DevicePathToDrivePath with a fuzzed drive table.
//
// Input: flags, a drive count, per drive a letter byte and its counted target
// list (UTF-16LE), then the path (UTF-16LE). Flag bit 0 starts the path with
// the first drive's device name and a backslash, so that hits are common.
#include <cctype>
#include <map>

#include "discovery/image_path.h"
#include "fuzz_input.h"
#include "platform/sim/machine.h"

namespace {

constexpr std::size_t kOfferedUnits = 260;

sim::Machine& Machine() {
  static sim::Machine* machine = new sim::Machine();
  return *machine;
}

std::u16string Units(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  return units;
}

WideText Bytes16(std::u16string_view units) {
  WideText bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

// The first drive, A to Z, whose device name with a backslash begins the
// path gives its letter; \??\X:\ loses its first four units.
WideText Reference(const std::map<char, std::u16string>& drives, const WideText& path) {
  const std::u16string units = Units(path);
  if (units.size() >= 7 && units.compare(0, 4, u"\\??\\") == 0 &&
      ((units[4] >= u'A' && units[4] <= u'Z') || (units[4] >= u'a' && units[4] <= u'z')) &&
      units[5] == u':' && units[6] == u'\\')
    return path.substr(8);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const auto it = drives.find(letter);
    if (it == drives.end()) continue;
    // What QueryDosDeviceW writes: the list, terminated when it has no zero.
    std::u16string list = it->second;
    if (list.find(u'\0') == std::u16string::npos) list.append(2, u'\0');
    if (list.size() < 3 || list.size() > kOfferedUnits) continue;
    const WideText prefix = Bytes16(list.substr(0, list.size() - 2) + u"\\");
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    return Bytes16(std::u16string{static_cast<char16_t>(letter), u':', u'\\'}) +
           path.substr(prefix.size());
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Machine& machine = Machine();
  FuzzInput input(data, size);
  const std::uint8_t flags = input.Byte();
  const int count = input.Byte() % 6;
  std::map<char, std::u16string> drives;
  std::u16string firstDevice;
  for (int i = 0; i < count; ++i) {
    const char letter = static_cast<char>('A' + input.Byte() % 26);
    std::u16string target = Units(input.Counted());
    // A long name now and then, near the 260 units offered.
    if (input.Byte() & 1) target.append(250, u'x');
    if (i == 0) firstDevice = target.substr(0, target.find(u'\0'));
    drives[letter] = target;
  }
  WideText path = input.Rest();
  if (flags & 1) path = Bytes16(firstDevice + u"\\") + path;
  machine.drives.targets = drives;

  const WideText result = DevicePathToDrivePath(machine, path);
  FUZZ_CHECK(result == Reference(drives, path));
  if (result != path) {
    // Letter, colon, backslash, then what followed the matched prefix.
    FUZZ_CHECK(result.size() >= 6);
    const std::u16string head = Units(result.substr(0, 6));
    FUZZ_CHECK(head[0] < 0x80 && (std::isalpha(static_cast<int>(head[0])) != 0));
    FUZZ_CHECK(head[1] == u':' && head[2] == u'\\');
    const std::size_t rest = result.size() - 6;
    FUZZ_CHECK(rest < path.size());
    FUZZ_CHECK(path.compare(path.size() - rest, rest, result, 6, rest) == 0);
  }
  machine.faults.calls.clear();
  return 0;
}
