// Conversion between UTF-8, in which the simulator's command line and output
// are written, and code page 1252, in which the simulated loader sees its
// paths, arguments and message texts.
#pragma once

#include <string>

namespace simulator {

// `utf8` as code page 1252 bytes. Returns false and sets `problem` to a short
// reason (invalid UTF-8, or the first character that 1252 lacks) when it
// cannot be converted; `out` is then unspecified.
bool Utf8ToCodePage1252(const std::string& utf8, std::string& out, std::string& problem);

// Code page 1252 bytes as UTF-8. The five bytes that 1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same
// value, as Windows converts them.
std::string CodePage1252ToUtf8(const std::string& bytes);

}  // namespace simulator
