// The helpers' own command line, split into arguments.
#pragma once

#include <string>
#include <vector>

// Arguments as the C runtime splits them, without backslash escapes (enough
// for paths, which never end in a backslash before a quote here).
inline std::vector<std::wstring> SplitCommandLine(const wchar_t* line) {
  std::vector<std::wstring> args;
  std::wstring current;
  bool quoted = false, any = false;
  for (const wchar_t* p = line; *p; ++p) {
    if (*p == L'"') {
      quoted = !quoted;
      any = true;
    } else if ((*p == L' ' || *p == L'\t') && !quoted) {
      if (any) args.push_back(current);
      current.clear();
      any = false;
    } else {
      current += *p;
      any = true;
    }
  }
  if (any) args.push_back(current);
  return args;
}
