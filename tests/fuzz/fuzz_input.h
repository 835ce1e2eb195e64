// Shared pieces of the fuzz targets: reading fields off the input, and the
// GBK walk the references are built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Reports a broken property; libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

// Fields taken off the front of the input; missing bytes read as zero.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : data_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t Byte() {
    if (data_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(data_.front());
    data_.remove_prefix(1);
    return b;
  }
  std::int16_t Int16() {
    const std::uint16_t low = Byte();
    return static_cast<std::int16_t>(low | static_cast<std::uint16_t>(Byte() << 8));
  }
  std::int32_t Int32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return static_cast<std::int32_t>(v);
  }
  // Up to n bytes.
  std::string Take(std::size_t n) {
    n = n < data_.size() ? n : data_.size();
    std::string taken(data_.substr(0, n));
    data_.remove_prefix(n);
    return taken;
  }
  // A length byte, then that many bytes.
  std::string Counted() { return Take(Byte()); }
  std::string Rest() { return Take(data_.size()); }

 private:
  std::string_view data_;
};

// A text ends at its first zero byte.
inline std::string_view ClipText(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Code page 936's lead bytes: 0x81 to 0xFE (0x80 is "€", 0xFF stands alone).
inline bool IsLeadByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}

// trail[i]: byte i is the second byte of a two-byte character when the text
// is walked from byte `from` (bytes before it are not part of the walk).
inline std::vector<bool> TrailBytes(std::string_view text, std::size_t from = 0) {
  std::vector<bool> trail(text.size(), false);
  for (std::size_t i = from; i < text.size(); ++i) {
    if (IsLeadByte(text[i]) && i + 1 < text.size()) trail[++i] = true;
  }
  return trail;
}
