#include "PeImage.h"

namespace pe {

uint16_t Read16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(Read16(bytes, at)) | (static_cast<uint32_t>(Read16(bytes, at + 2)) << 16);
}

void Write16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Write32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  Write16(bytes, at, static_cast<uint16_t>(value));
  Write16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

bool ReadPeImage(const std::vector<uint8_t>& bytes, PeImage& image, std::string& error) {
  image = PeImage();
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') {
    error = "no DOS header";
    return false;
  }
  image.NtHeaderOffset = Read32(bytes, kNewHeaderPointerOffset);
  const size_t nt = image.NtHeaderOffset;
  if (nt > bytes.size() || bytes.size() - nt < 24 || Read32(bytes, nt) != 0x00004550) {
    error = "no PE signature at the offset the DOS header gives";
    return false;
  }
  image.Machine = Read16(bytes, nt + 4);
  image.NumberOfSections = Read16(bytes, nt + 6);
  image.PointerToSymbolTable = Read32(bytes, nt + 12);
  image.SizeOfOptionalHeader = Read16(bytes, nt + 20);
  image.OptionalHeaderOffset = nt + 24;
  const size_t opt = image.OptionalHeaderOffset;
  if (image.SizeOfOptionalHeader < 96 || bytes.size() < image.HeadersEnd()) {
    error = "headers cut short";
    return false;
  }
  image.Magic = Read16(bytes, opt);
  if (image.Magic != kMagicPe32) {
    error = "not a PE32 image";
    return false;
  }
  image.SectionAlignment = Read32(bytes, opt + 32);
  image.FileAlignment = Read32(bytes, opt + 36);
  image.MajorOperatingSystemVersion = Read16(bytes, opt + 40);
  image.MinorOperatingSystemVersion = Read16(bytes, opt + 42);
  image.MajorSubsystemVersion = Read16(bytes, opt + 48);
  image.MinorSubsystemVersion = Read16(bytes, opt + 50);
  image.SizeOfHeaders = Read32(bytes, opt + 60);
  image.CheckSum = Read32(bytes, opt + 64);
  image.Subsystem = Read16(bytes, opt + 68);
  const uint32_t directoryCount = Read32(bytes, opt + 92);
  if (96 + 8ull * directoryCount > image.SizeOfOptionalHeader) {
    error = "data directories overrun the optional header";
    return false;
  }
  for (uint32_t i = 0; i < directoryCount; ++i)
    image.Directories.push_back({Read32(bytes, opt + 96 + 8 * i), Read32(bytes, opt + 100 + 8 * i)});
  for (unsigned i = 0; i < image.NumberOfSections; ++i) {
    const size_t at = opt + image.SizeOfOptionalHeader + 40u * i;
    Section section;
    section.Name.assign(reinterpret_cast<const char*>(&bytes[at]), 8);
    section.Name.resize(section.Name.find('\0') == std::string::npos ? 8 : section.Name.find('\0'));
    section.VirtualSize = Read32(bytes, at + 8);
    section.VirtualAddress = Read32(bytes, at + 12);
    section.RawSize = Read32(bytes, at + 16);
    section.RawOffset = Read32(bytes, at + 20);
    section.HeaderOffset = at;
    if (section.RawSize != 0 && (section.RawOffset > bytes.size() || bytes.size() - section.RawOffset < section.RawSize)) {
      error = "section " + section.Name + " lies beyond the end of the file";
      return false;
    }
    image.Sections.push_back(section);
  }
  return true;
}

bool RvaToOffset(const std::vector<uint8_t>& bytes, const PeImage& image, uint32_t rva, size_t& offset) {
  for (const Section& section : image.Sections) {
    if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.RawSize) {
      offset = section.RawOffset + (rva - section.VirtualAddress);
      return offset < bytes.size();
    }
  }
  return false;
}

namespace {

bool ReadName(const std::vector<uint8_t>& bytes, const PeImage& image, uint32_t rva, std::string& name) {
  size_t at = 0;
  if (!RvaToOffset(bytes, image, rva, at)) return false;
  name.clear();
  while (at < bytes.size() && bytes[at] != 0) name.push_back(static_cast<char>(bytes[at++]));
  return at < bytes.size();
}

}  // namespace

bool ReadImports(const std::vector<uint8_t>& bytes, const PeImage& image, std::vector<ImportedDll>& imports,
                 std::string& error) {
  imports.clear();
  const DataDirectory directory = image.Directory(kDirectoryImport);
  if (directory.Rva == 0) return true;
  size_t at = 0;
  if (!RvaToOffset(bytes, image, directory.Rva, at)) {
    error = "import directory outside every section";
    return false;
  }
  for (;; at += 20) {
    if (at + 20 > bytes.size()) {
      error = "import directory runs past the end of the file";
      return false;
    }
    const uint32_t lookupRva = Read32(bytes, at);
    const uint32_t nameRva = Read32(bytes, at + 12);
    const uint32_t addressRva = Read32(bytes, at + 16);
    if (lookupRva == 0 && nameRva == 0 && addressRva == 0) return true;
    ImportedDll dll;
    if (!ReadName(bytes, image, nameRva, dll.Name)) {
      error = "unreadable import DLL name";
      return false;
    }
    size_t thunk = 0;
    if (!RvaToOffset(bytes, image, lookupRva != 0 ? lookupRva : addressRva, thunk)) {
      error = "unreadable import list of " + dll.Name;
      return false;
    }
    for (; thunk + 4 <= bytes.size(); thunk += 4) {
      const uint32_t entry = Read32(bytes, thunk);
      if (entry == 0) break;
      if (entry & 0x80000000u) {
        dll.Functions.push_back("#" + std::to_string(entry & 0xFFFF));
        continue;
      }
      std::string function;
      if (!ReadName(bytes, image, entry + 2, function)) {
        error = "unreadable function name imported from " + dll.Name;
        return false;
      }
      dll.Functions.push_back(function);
    }
    imports.push_back(dll);
  }
}

namespace {

// The entry of `id` in the resource directory at `directory` (offset inside
// the resource section); a numeric id, or any entry when `id` is 0. Returns
// the entry's offset-to-data field, or 0 when absent.
uint32_t FindResourceEntry(const std::vector<uint8_t>& bytes, size_t base, size_t directory, uint32_t id) {
  if (base + directory + 16 > bytes.size()) return 0;
  const size_t at = base + directory;
  const unsigned count = Read16(bytes, at + 12) + Read16(bytes, at + 14);
  for (unsigned i = 0; i < count; ++i) {
    const size_t entry = at + 16 + 8u * i;
    if (entry + 8 > bytes.size()) return 0;
    const uint32_t name = Read32(bytes, entry);
    if (id == 0 || (!(name & 0x80000000u) && name == id)) return Read32(bytes, entry + 4);
  }
  return 0;
}

}  // namespace

bool FindResource(const std::vector<uint8_t>& bytes, const PeImage& image, uint32_t type, uint32_t id,
                  std::vector<uint8_t>& data) {
  const DataDirectory directory = image.Directory(kDirectoryResource);
  size_t base = 0;
  if (directory.Rva == 0 || !RvaToOffset(bytes, image, directory.Rva, base)) return false;
  // Three levels: type, name, language; the first two point at directories.
  const uint32_t typeEntry = FindResourceEntry(bytes, base, 0, type);
  if (!(typeEntry & 0x80000000u)) return false;
  const uint32_t nameEntry = FindResourceEntry(bytes, base, typeEntry & 0x7FFFFFFFu, id);
  if (!(nameEntry & 0x80000000u)) return false;
  const uint32_t languageEntry = FindResourceEntry(bytes, base, nameEntry & 0x7FFFFFFFu, 0);
  if (languageEntry == 0 || (languageEntry & 0x80000000u) || base + languageEntry + 16 > bytes.size()) return false;
  const uint32_t dataRva = Read32(bytes, base + languageEntry);
  const uint32_t dataSize = Read32(bytes, base + languageEntry + 4);
  size_t at = 0;
  if (!RvaToOffset(bytes, image, dataRva, at) || bytes.size() - at < dataSize) return false;
  data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + dataSize));
  return true;
}

uint32_t ComputeCheckSum(const std::vector<uint8_t>& bytes, size_t checkSumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    if (i == checkSumOffset || i == checkSumOffset + 2) continue;
    uint32_t word = bytes[i];
    if (i + 1 < bytes.size()) word |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(bytes.size());
}

}  // namespace pe
