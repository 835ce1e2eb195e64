// Conversions between 8-bit text and UTF-16LE WideText, and the few
// operations on WideText that platform calls need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// The code page paths are converted with: GB18030-2022, with code page
// 936's bytes for every character 936 has ("€" is 0x80), which holds every
// character, so that a path read from the system reaches the file and process
// calls unchanged (platform/gb18030.h). A lone surrogate has no bytes: its
// conversion fails. Texts that are shown stay 936 (ShownText).
inline constexpr std::int32_t kPathCodePage = 54936;

// `text` (GB18030) as code page 936 shows it: itself when every character
// is a 936 one, else with each other character as 936's default character.
// On a failed conversion, the text as it is.
Text ShownText(win::Api& api, const Text& text);

// The text before the first zero unit, in `codePage`; a character the code
// page lacks becomes its default character. Empty when nothing converts.
Text WideToText(win::Api& api, const WideText& wide, std::int32_t codePage);
// The text (up to its first zero byte) as UTF-16LE with its zero unit; the
// empty WideText, without any byte, for empty text or a failed conversion.
WideText TextToWide(win::Api& api, std::string_view text, std::int32_t codePage);
// The units before the first zero unit (a last odd byte dropped), with one
// zero unit added when `addTerminator`; empty when there is no such unit.
WideText TrimWideAtNul(const WideText& wide, bool addTerminator);
// A copy of a zero-terminated UTF-16 string with its zero unit; empty for a
// null address or an empty string.
WideText WideFromAddress(const win::WCHAR* address);

// The 16-bit units of a WideText (a last odd byte dropped), and back.
std::u16string WideToUnits(const WideText& wide);
WideText UnitsToWide(std::u16string_view units);

// A WideText handed to a platform call: aligned units that always end in a
// zero unit; get() is nullptr for the empty WideText.
class WideArg {
 public:
  explicit WideArg(const WideText& wide) : units_(WideToUnits(wide)), empty_(wide.empty()) {}
  const win::WCHAR* get() const { return empty_ ? nullptr : units_.c_str(); }

 private:
  std::u16string units_;
  bool empty_;
};
