// The layout the loader's stub image needs: the package locator takes file
// offsets 128 to 151, so the PE headers start at 256 and bytes 128 to 255 are
// zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint32_t kStubHeaderOffset = 256;
constexpr size_t kLocatorSlotStart = 128;

// Moves the NT headers and the section table to offset 256 and clears bytes
// 128 to 255 (and whatever the old headers left behind). When the header area
// (SizeOfHeaders) has no room for them there, it grows by whole file-alignment
// units and the section data moves down with it. A nonzero CheckSum is
// recomputed. False, with the reason in `error`, when the image cannot be laid
// out so.
bool MoveHeadersTo256(std::vector<uint8_t>& bytes, std::string& error);

// True when the image has the stub layout: e_lfanew 256, bytes 128 to 255
// zero, the headers inside SizeOfHeaders and before every section's data, and
// a CheckSum that is 0 or right. Otherwise false with the reason in `error`.
bool CheckStubLayout(const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace pe
