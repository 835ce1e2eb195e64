// The helpers' command lines: split into arguments, and joined from them.
#pragma once

#include <string>
#include <vector>

// Arguments as the C runtime splits them, without backslash escapes (enough
// for paths, which never end in a backslash before a quote here); JoinArgument
// quotes one the same way.
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

inline std::wstring JoinArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  return L"\"" + arg + L"\"";
}
