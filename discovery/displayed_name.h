// The game's file name as the file manager shows it, with the extension put
// back when the file manager hides extensions.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/win_api.h"
#include "runtime/types.h"

// The displayed file name of `path` with its extension; empty when the
// platform cannot give a title for the path.
Text GetDisplayedProgramName(win::Api& api, std::string_view path, std::int32_t codePage);

// GetFileTitleW's title of `path`, with the path's extension appended when
// "HideFileExt" reads 1 and the path is not a folder; ends in one zero unit,
// or is the empty WideText.
WideText DisplayedFileTitle(win::Api& api, const WideText& path, std::int32_t codePage);

// True on 64-bit Windows: GetSystemWow64DirectoryA exists and succeeds.
bool IsSystem64Bit(win::Api& api);

// A 32-bit value under `root`, read from the 64-bit or the 32-bit registry
// view; 0 when the key or value cannot be read or holds more than 4 bytes.
std::uint32_t ReadRegistryDword(win::Api& api, win::HKEY root, std::string_view subKey,
                                std::string_view valueName, bool use64BitView,
                                std::int32_t codePage);
