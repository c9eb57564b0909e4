// A small reader of 32-bit PE images: the DOS and NT headers, the section
// table, the import list and the resource tree. Shared by the pe-layout step
// and the checks of the stub image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

uint16_t Read16(const std::vector<uint8_t>& bytes, size_t at);
uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at);
void Write16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);
void Write32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);

constexpr size_t kNewHeaderPointerOffset = 0x3C;  // e_lfanew in the DOS header
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kSubsystemWindowsGui = 2;
constexpr unsigned kDirectoryImport = 1;
constexpr unsigned kDirectoryResource = 2;
constexpr unsigned kDirectorySecurity = 4;
constexpr unsigned kDirectoryDebug = 6;

struct Section {
  std::string Name;
  uint32_t VirtualSize;
  uint32_t VirtualAddress;
  uint32_t RawSize;
  uint32_t RawOffset;
  size_t HeaderOffset;  // where its 40-byte entry stands in the file
};

struct DataDirectory {
  uint32_t Rva;
  uint32_t Size;
};

// The functions imported from one DLL; an import by ordinal reads "#n".
struct ImportedDll {
  std::string Name;
  std::vector<std::string> Functions;
};

// The headers of a PE32 image, as read; offsets are file offsets.
struct PeImage {
  uint32_t NtHeaderOffset = 0;  // e_lfanew
  uint16_t Machine = 0;
  uint16_t NumberOfSections = 0;
  uint32_t PointerToSymbolTable = 0;
  uint16_t SizeOfOptionalHeader = 0;
  size_t OptionalHeaderOffset = 0;
  uint16_t Magic = 0;
  uint32_t SectionAlignment = 0;
  uint32_t FileAlignment = 0;
  uint16_t MajorOperatingSystemVersion = 0;
  uint16_t MinorOperatingSystemVersion = 0;
  uint16_t MajorSubsystemVersion = 0;
  uint16_t MinorSubsystemVersion = 0;
  uint32_t SizeOfHeaders = 0;
  uint32_t CheckSum = 0;
  uint16_t Subsystem = 0;
  std::vector<DataDirectory> Directories;
  std::vector<Section> Sections;

  // File offset of the CheckSum field.
  size_t CheckSumOffset() const { return OptionalHeaderOffset + 64; }
  // File offset of the SizeOfHeaders field.
  size_t SizeOfHeadersOffset() const { return OptionalHeaderOffset + 60; }
  // The end of the section table: everything the headers occupy.
  size_t HeadersEnd() const { return OptionalHeaderOffset + SizeOfOptionalHeader + 40u * NumberOfSections; }
  DataDirectory Directory(unsigned index) const {
    return index < Directories.size() ? Directories[index] : DataDirectory{0, 0};
  }
};

// Reads the headers of a PE32 image. False, with the reason in `error`, when
// the bytes are not one.
bool ReadPeImage(const std::vector<uint8_t>& bytes, PeImage& image, std::string& error);

// The file offset of `rva` inside a section's raw data; false when no section
// holds it.
bool RvaToOffset(const std::vector<uint8_t>& bytes, const PeImage& image, uint32_t rva, size_t& offset);

// The import list. False, with the reason in `error`, when it cannot be read.
bool ReadImports(const std::vector<uint8_t>& bytes, const PeImage& image, std::vector<ImportedDll>& imports,
                 std::string& error);

// The data of the first language of resource `type`/`id` (both numeric);
// false when there is none.
bool FindResource(const std::vector<uint8_t>& bytes, const PeImage& image, uint32_t type, uint32_t id,
                  std::vector<uint8_t>& data);

// The PE checksum of the file, with the CheckSum field at `checkSumOffset`
// counted as zero.
uint32_t ComputeCheckSum(const std::vector<uint8_t>& bytes, size_t checkSumOffset);

}  // namespace pe
