// The simulated machine's one way to iconv: its own code page calls, the
// paths of its "W" calls and the transcript all convert through here.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>

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

// A path from a "W" call in GB18030 (code page 54936), as the tree's keys
// are: code page 936 text stays as it is, and every other character is kept
// too; only a lone surrogate becomes "?".
std::string NarrowPath(const win::WCHAR* wide);

// GB18030 text as UTF-16; a text that does not convert is widened byte by
// byte.
std::u16string WidenPath(const std::string& text);

}  // namespace sim
