// FloorToInt on any double: the near-integer rule, then the low 32 bits.
//
// Input: 8 bytes, little-endian, taken as the double's bit pattern.
#include <cmath>
#include <cstring>

#include "fuzz_input.h"
#include "runtime/values.h"

namespace {

// Exact integer arithmetic wherever the double has a fraction (|x| < 2^52).
std::int32_t Reference(double x) {
  if (!std::isfinite(x)) return 0;
  std::int64_t floored = 0;
  if (std::fabs(x) >= 4503599627370496.0) {  // 2^52: no fraction left
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return 0;
    floored = static_cast<std::int64_t>(x);
  } else {
    const auto whole = static_cast<std::int64_t>(x);  // towards zero
    const double fraction = x - static_cast<double>(whole);  // exact
    if (fraction > 0.999999999999)
      floored = whole + 1;
    else if (fraction < -0.999999999999)
      floored = whole - 1;
    else
      floored = fraction < 0 ? whole - 1 : whole;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(floored)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double x = 0;
  std::memcpy(&x, data, sizeof x);
  FUZZ_CHECK(FloorToInt(x) == Reference(x));
  return 0;
}
