// The full path of a process's executable, in drive-letter form.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// The executable path of the process (0: this program), already passed
// through DevicePathToDrivePath; empty when it cannot be opened or queried.
// The debug privilege is on only around OpenProcess and off afterwards.
WideText QueryProcessImageName(win::Api& api, win::DWORD processId);

// The path with a leading NT device prefix (\Device\HarddiskVolume3\) or
// \??\X:\ replaced by its drive letter, colon and backslash; otherwise an
// unchanged copy.
WideText DevicePathToDrivePath(win::Api& api, const WideText& path);

// QueryProcessImageName as text in `codePage`; empty when not available.
Text GetProcessImagePath(win::Api& api, win::DWORD processId, std::int32_t codePage);

// The executable path of a process the caller has open with a right to query
// it, in drive-letter form and as text in `codePage`; empty when it cannot be
// queried.
Text GetOpenProcessImagePath(win::Api& api, win::HANDLE process, std::int32_t codePage);

// The path up to and including its last backslash, a trailing one left out
// of the search; empty without one.
Text PathFolderPart(std::string_view path);
