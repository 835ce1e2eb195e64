// The simulated machine's one way to iconv: its own code page calls, the
// paths of its "W" calls and the transcript all convert through here.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/gb18030.h"
#include "platform/win_api.h"

namespace sim {

// One iconv conversion, opened once and used for many texts.
class Recoder {
 public:
  Recoder(const char* to, const char* from);
  ~Recoder();
  Recoder(const Recoder&) = delete;
  Recoder& operator=(const Recoder&) = delete;

  bool ok() const;
  // Appends `size` bytes of `in`, converted, to `out`; false, with `out` as
  // it was, when they do not convert whole.
  bool Append(const char* in, std::size_t size, std::string& out);

 private:
  void* cd_;
};

// Recoders between UTF-16LE and each code page, opened as first needed.
class Recoders {
 public:
  // toWide: from the code page to UTF-16LE, else the reverse; nullptr for a
  // code page the machine lacks.
  Recoder* Get(win::UINT codePage, bool toWide);

 private:
  std::map<std::pair<win::UINT, bool>, Recoder> open_;
};

// A whole text from one encoding to another; empty when it does not convert.
std::string Recode(const char* to, const char* from, const std::string& text);

// iconv's name for a Windows code page; nullptr for one the machine lacks.
const char* CodePageName(win::UINT codePage);

bool IsHighSurrogate(win::WCHAR unit);
bool IsLowSurrogate(win::WCHAR unit);

// Code page 936 as Windows has it: glibc's CP936, and the cells that leaves
// out in the private use area, area by area (the user-defined areas first,
// then the rest in order), as Microsoft's table has them (measured under
// Wine: the same on every cell).
class Windows936 final : public gb18030::TwoByteTable {
 public:
  static Windows936& Get();
  char16_t Unit(std::uint16_t cell) override { return units_[cell]; }
  std::uint16_t CellOf(char16_t unit) override { return cells_[unit]; }

 private:
  Windows936();
  std::vector<char16_t> units_;
  std::vector<std::uint16_t> cells_;
};

// A path from a "W" call in code page 54936 (platform/gb18030.h), as the
// tree's keys are. A lone surrogate, which no text of the program can hold,
// becomes 0xFF and its four hexadecimal digits: a name no converted path
// ever matches.
std::string NarrowPath(const win::WCHAR* wide);

// Such a path as UTF-16; a text that does not convert is widened byte by
// byte.
std::u16string WidenPath(const std::string& text);

}  // namespace sim
