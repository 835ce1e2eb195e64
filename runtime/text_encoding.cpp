#include "runtime/text_encoding.h"

#include <algorithm>
#include <cstring>

namespace {

win::WCHAR UnitAt(const WideText& wide, std::size_t byte) {
  const auto low = static_cast<unsigned char>(wide[byte]);
  const auto high = byte + 1 < wide.size() ? static_cast<unsigned char>(wide[byte + 1]) : 0u;
  return static_cast<win::WCHAR>(low | high << 8);
}

}  // namespace

std::u16string WideToUnits(const WideText& wide) {
  std::u16string units(wide.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = UnitAt(wide, 2 * i);
  return units;
}

WideText UnitsToWide(std::u16string_view units) {
  WideText wide(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    wide[2 * i] = static_cast<char>(units[i] & 0xFF);
    wide[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return wide;
}

Text WideToText(win::Api& api, const WideText& wide, std::int32_t codePage) {
  // The copy ends in a zero unit whatever the input; an odd last byte is the
  // low half of a unit whose high half is zero.
  std::u16string units((wide.size() + 1) / 2 + 1, u'\0');
  for (std::size_t i = 0; 2 * i < wide.size(); ++i) units[i] = UnitAt(wide, 2 * i);
  if (units[0] == 0) return Text();

  const auto cp = static_cast<win::UINT>(codePage);
  const int size = api.WideCharToMultiByte(cp, 0, units.c_str(), -1, nullptr, 0);
  if (size <= 0) return Text();
  Text text(static_cast<std::size_t>(size), '\0');
  if (api.WideCharToMultiByte(cp, 0, units.c_str(), -1, text.data(), size) <= 0) return Text();
  text.resize(std::strlen(text.c_str()));
  return text;
}

WideText TextToWide(win::Api& api, std::string_view text, std::int32_t codePage) {
  const Text terminated(text.substr(0, text.find('\0')));
  if (terminated.empty()) return WideText();

  const auto cp = static_cast<win::UINT>(codePage);
  const int size = api.MultiByteToWideChar(cp, 0, terminated.c_str(), -1, nullptr, 0);
  if (size <= 0) return WideText();
  std::u16string units(static_cast<std::size_t>(size), u'\0');
  if (api.MultiByteToWideChar(cp, 0, terminated.c_str(), -1, units.data(), size) <= 0)
    return WideText();
  return UnitsToWide(units);
}

WideText TrimWideAtNul(const WideText& wide, bool addTerminator) {
  if (wide.size() < 2) return WideText();
  std::size_t cut = 0;
  while (cut + 2 <= wide.size() && (wide[cut] != 0 || wide[cut + 1] != 0)) cut += 2;
  if (cut == 0) return WideText();
  WideText trimmed = wide.substr(0, cut);
  if (addTerminator) trimmed.append(2, '\0');
  return trimmed;
}

WideText WideFromAddress(const win::WCHAR* address) {
  if (address == nullptr) return WideText();
  std::size_t length = 0;
  while (address[length] != 0) ++length;
  if (length == 0) return WideText();
  return UnitsToWide(std::u16string_view(address, length + 1));
}

Text ShownText(win::Api& api, const Text& text) {
  // Which two-byte characters 936 lacks is the system's to say: every text
  // beyond ASCII goes there and back.
  if (std::none_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; })) return text;
  const WideText wide = TextToWide(api, text, kPathCodePage);
  const Text shown = wide.empty() ? Text() : WideToText(api, wide, 936);
  return shown.empty() ? text : shown;
}
