// TrimWideAtNul, WideToText and TextToWide on the simulated Windows.
//
// Input: flags (bit 0 addTerminator), then bytes taken both as a WideText
// and as an 8-bit text.
#include <iconv.h>

#include "fuzz_input.h"
#include "platform/sim/machine.h"
#include "runtime/text_encoding.h"

namespace {

constexpr std::int32_t kCodePage = 936;

sim::Machine& Machine() {
  static sim::Machine* machine = new sim::Machine();
  return *machine;
}

bool Convert(const char* to, const char* from, std::string_view in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = buffer.data();
  std::size_t dstLeft = buffer.size();
  const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) &&
                  srcLeft == 0;
  iconv_close(cd);
  buffer.resize(buffer.size() - dstLeft);
  *out = buffer;
  return ok;
}

// Every character of the text is one that code page 936 maps both ways.
bool RoundTrips(std::string_view text) {
  std::string wide, back;
  return Convert("UTF-16LE", "CP936", text, &wide) && Convert("CP936", "UTF-16LE", wide, &back) &&
         back == text;
}

bool HasZeroUnit(std::string_view wide) {
  for (std::size_t i = 0; i + 1 < wide.size(); i += 2)
    if (wide[i] == 0 && wide[i + 1] == 0) return true;
  return false;
}

void CheckTrim(const WideText& wide, bool addTerminator) {
  const WideText trimmed = TrimWideAtNul(wide, addTerminator);
  if (trimmed.empty()) {
    // Only when there is no whole unit before the first zero unit.
    FUZZ_CHECK(wide.size() < 2 || (wide[0] == 0 && wide[1] == 0));
    return;
  }
  FUZZ_CHECK(trimmed.size() % 2 == 0);
  const std::size_t body = trimmed.size() - (addTerminator ? 2 : 0);
  FUZZ_CHECK(body >= 2 && body <= wide.size());
  FUZZ_CHECK(trimmed.compare(0, body, wide, 0, body) == 0);
  FUZZ_CHECK(!HasZeroUnit(trimmed.substr(0, body)));
  if (addTerminator) FUZZ_CHECK(trimmed.compare(body, 2, std::string(2, '\0')) == 0);
  // It stopped at a zero unit or at the last whole unit.
  FUZZ_CHECK(body + 1 >= wide.size() || (wide[body] == 0 && wide[body + 1] == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Machine& machine = Machine();
  FuzzInput input(data, size);
  const bool addTerminator = input.Byte() & 1;
  const std::string bytes = input.Rest();

  CheckTrim(bytes, addTerminator);

  // The conversion ends at the first zero unit; an odd last byte is the low
  // half of a unit.
  const Text text = WideToText(machine, bytes, kCodePage);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  WideText even = bytes;
  if (even.size() % 2 == 1) even += '\0';
  FUZZ_CHECK(WideToText(machine, TrimWideAtNul(even, true), kCodePage) == text);
  FUZZ_CHECK(text.empty() == (even.size() < 2 || (even[0] == 0 && even[1] == 0)));

  // Text to UTF-16: one zero unit, at the end, and back again unchanged.
  const std::string_view clipped = ClipText(bytes);
  const WideText wide = TextToWide(machine, bytes, kCodePage);
  FUZZ_CHECK(wide.empty() == clipped.empty());
  if (!wide.empty()) {
    FUZZ_CHECK(wide.size() % 2 == 0 && wide.size() >= 4);
    FUZZ_CHECK(wide.compare(wide.size() - 2, 2, std::string(2, '\0')) == 0);
    FUZZ_CHECK(!HasZeroUnit(wide.substr(0, wide.size() - 2)));
    FUZZ_CHECK(TrimWideAtNul(wide, true) == wide);
    if (RoundTrips(clipped)) FUZZ_CHECK(WideToText(machine, wide, kCodePage) == clipped);
  }

  FUZZ_CHECK(machine.OpenHandleCount() == 0);
  machine.faults.calls.clear();
  return 0;
}
