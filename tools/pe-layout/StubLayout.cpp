#include "StubLayout.h"

#include <algorithm>

#include "PeImage.h"

namespace pe {

namespace {

uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

// The lowest file offset of any section's data (the file size when none has).
size_t FirstSectionData(const std::vector<uint8_t>& bytes, const PeImage& image) {
  size_t first = bytes.size();
  for (const Section& section : image.Sections)
    if (section.RawSize != 0) first = std::min<size_t>(first, section.RawOffset);
  return first;
}

// Inserts `grow` zero bytes at the end of the header area and moves every file
// offset behind it.
bool GrowHeaderArea(std::vector<uint8_t>& bytes, const PeImage& image, uint32_t grow, std::string& error) {
  if (image.Directory(kDirectorySecurity).Rva != 0 || image.Directory(kDirectoryDebug).Rva != 0) {
    error = "cannot grow the header area of an image with a signature or debug data";
    return false;
  }
  uint32_t lowestRva = UINT32_MAX;
  for (const Section& section : image.Sections) lowestRva = std::min(lowestRva, section.VirtualAddress);
  // The header area is mapped at RVA 0 and must end before the first section.
  if (image.SizeOfHeaders + grow > lowestRva) {
    error = "no room to grow the header area below the first section";
    return false;
  }
  bytes.insert(bytes.begin() + image.SizeOfHeaders, grow, 0);
  Write32(bytes, image.SizeOfHeadersOffset(), image.SizeOfHeaders + grow);
  for (const Section& section : image.Sections) {
    for (size_t field : {section.HeaderOffset + 20, section.HeaderOffset + 24, section.HeaderOffset + 28}) {
      const uint32_t offset = Read32(bytes, field);
      if (offset != 0) Write32(bytes, field, offset + grow);
    }
  }
  if (image.PointerToSymbolTable != 0) Write32(bytes, image.NtHeaderOffset + 12, image.PointerToSymbolTable + grow);
  return true;
}

}  // namespace

bool MoveHeadersTo256(std::vector<uint8_t>& bytes, std::string& error) {
  PeImage image;
  if (!ReadPeImage(bytes, image, error)) return false;
  if (image.NtHeaderOffset < 64 || image.NtHeaderOffset > kStubHeaderOffset) {
    error = "unexpected NT header offset " + std::to_string(image.NtHeaderOffset);
    return false;
  }
  if (image.NtHeaderOffset != kStubHeaderOffset) {
    const size_t length = image.HeadersEnd() - image.NtHeaderOffset;
    const size_t newEnd = kStubHeaderOffset + length;
    if (newEnd > image.SizeOfHeaders) {
      const uint32_t grow = RoundUp(static_cast<uint32_t>(newEnd - image.SizeOfHeaders), image.FileAlignment);
      if (!GrowHeaderArea(bytes, image, grow, error)) return false;
      if (!ReadPeImage(bytes, image, error)) return false;
    }
    if (newEnd > FirstSectionData(bytes, image)) {
      error = "the moved headers would overlap section data";
      return false;
    }
    const std::vector<uint8_t> headers(bytes.begin() + image.NtHeaderOffset, bytes.begin() + image.HeadersEnd());
    // Clear the old headers and the locator slot, then put them back at 256.
    std::fill(bytes.begin() + std::min<size_t>(image.NtHeaderOffset, kLocatorSlotStart), bytes.begin() + newEnd, 0);
    std::copy(headers.begin(), headers.end(), bytes.begin() + kStubHeaderOffset);
    Write32(bytes, kNewHeaderPointerOffset, kStubHeaderOffset);
    if (!ReadPeImage(bytes, image, error)) return false;
  }
  if (image.CheckSum != 0) Write32(bytes, image.CheckSumOffset(), ComputeCheckSum(bytes, image.CheckSumOffset()));
  return CheckStubLayout(bytes, error);
}

bool CheckStubLayout(const std::vector<uint8_t>& bytes, std::string& error) {
  PeImage image;
  if (!ReadPeImage(bytes, image, error)) return false;
  if (image.NtHeaderOffset != kStubHeaderOffset) {
    error = "e_lfanew is " + std::to_string(image.NtHeaderOffset) + ", not 256";
    return false;
  }
  for (size_t i = kLocatorSlotStart; i < kStubHeaderOffset; ++i) {
    if (bytes[i] != 0) {
      error = "byte " + std::to_string(i) + " of the locator area is not zero";
      return false;
    }
  }
  if (image.HeadersEnd() > image.SizeOfHeaders) {
    error = "the headers end beyond SizeOfHeaders";
    return false;
  }
  if (image.FileAlignment == 0 || image.SizeOfHeaders % image.FileAlignment != 0) {
    error = "SizeOfHeaders is not a multiple of the file alignment";
    return false;
  }
  if (image.SizeOfHeaders > FirstSectionData(bytes, image)) {
    error = "the header area overlaps section data";
    return false;
  }
  if (image.CheckSum != 0 && image.CheckSum != ComputeCheckSum(bytes, image.CheckSumOffset())) {
    error = "the CheckSum field is wrong";
    return false;
  }
  return true;
}

}  // namespace pe
