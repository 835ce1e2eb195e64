// Value types shared by every layer.
#pragma once

#include <cstdint>
#include <string>

// 8-bit text in the program's code page (936); lengths and positions count bytes.
using Text = std::string;
// A counted byte sequence.
using Bytes = std::string;
// UTF-16LE text held as bytes, normally ending in one zero unit.
using WideText = std::string;
