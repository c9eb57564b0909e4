// stub-map MAP IMAGE: where the bytes of the stub go. Reads GNU ld's link map
// of loader.exe (the stub build writes it beside its objects) and the image
// itself, and prints the file's layout by section (headers, data, the padding
// up to the file alignment) and a table of bytes by origin (a source file of
// the loader, a member of liblzma, the import tables, the resources) and
// output section.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "PeImage.h"

namespace {

// What an input section came from, grouped for the table.
std::string Origin(const std::string& object, const std::string& section) {
  if (object.find(".res") != std::string::npos) return "resources (manifest, icon)";
  if (object.rfind("LONG", 0) == 0) return section == ".idata" ? "import list end" : "constructor list";
  static const std::regex member(R"(.*/lib([a-z0-9_]+)\.a\((.*)\)$)");
  std::smatch m;
  if (std::regex_match(object, m, member)) {
    const std::string library = m[1];
    std::string file = m[2];
    if (library == "lzma") return "liblzma " + std::regex_replace(file, std::regex("^liblzma_la-"), "");
    if (library == "gcc") return "libgcc";
    if (library == "loader" || library == "objects") return file;
    return "imports from " + library + ".dll";
  }
  static const std::regex archived(R"(.*objects\.a\((.*)\)$)");
  if (std::regex_match(object, m, archived)) return std::regex_replace(std::string(m[1]), std::regex("\\.obj$"), "");
  if (object == "dll stuff") return "base relocations";
  const size_t slash = object.find_last_of('/');
  return std::regex_replace(object.substr(slash == std::string::npos ? 0 : slash + 1), std::regex("\\.obj$"), "");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: stub-map MAP IMAGE\n");
    return 2;
  }
  std::ifstream mapFile(argv[1]);
  std::ifstream imageFile(argv[2], std::ios::binary);
  if (!mapFile || !imageFile) {
    std::fprintf(stderr, "stub-map: cannot read %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  const std::vector<uint8_t> image((std::istreambuf_iterator<char>(imageFile)), std::istreambuf_iterator<char>());
  pe::PeImage pe;
  std::string error;
  if (!pe::ReadPeImage(image, pe, error)) {
    std::fprintf(stderr, "stub-map: %s: %s\n", argv[2], error.c_str());
    return 1;
  }

  // Input sections: "<name> 0xADDR 0xSIZE <object>", the name sometimes on a
  // line of its own; output sections start in column 0.
  static const std::regex output(R"(^(\.[A-Za-z0-9_$.]+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+).*)");
  static const std::regex input(R"(^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s*(.*)$)");
  std::map<std::string, std::map<std::string, uint64_t>> bytes;  // origin -> section -> bytes
  std::vector<std::string> sectionOrder;
  std::string section, line;
  bool inMap = false;
  while (std::getline(mapFile, line)) {
    if (!inMap) {
      inMap = line.rfind("Linker script and memory map", 0) == 0;
      continue;
    }
    std::smatch m;
    if (std::regex_match(line, m, output)) {
      section = m[1];
      sectionOrder.push_back(section);
      continue;
    }
    if (line.rfind("/DISCARD/", 0) == 0 || (!line.empty() && line[0] != ' ')) section.clear();
    if (section.empty() || !std::regex_match(line, m, input)) continue;
    const uint64_t size = std::stoull(m[3], nullptr, 16);
    if (size == 0) continue;
    const std::string object = m[4];
    const std::string origin = m[1] == "*fill*" ? "alignment fill" : Origin(object, section);
    bytes[origin][section] += size;
  }

  std::printf("loader.exe: %zu bytes; file alignment %u, section alignment %u\n\n", image.size(), pe.FileAlignment,
              pe.SectionAlignment);
  std::printf("  %-10s %8s %8s %8s\n", "part", "in file", "content", "padding");
  std::printf("  %-10s %8u %8zu %8zu\n", "headers", pe.SizeOfHeaders, pe.HeadersEnd(),
              pe.SizeOfHeaders - pe.HeadersEnd());
  uint64_t padding = pe.SizeOfHeaders - pe.HeadersEnd();
  std::vector<std::string> columns;
  for (const pe::Section& s : pe.Sections) {
    const uint32_t content = s.VirtualSize < s.RawSize ? s.VirtualSize : s.RawSize;
    std::printf("  %-10s %8u %8u %8u\n", s.Name.c_str(), s.RawSize, content, s.RawSize - content);
    padding += s.RawSize - content;
    columns.push_back(s.Name);
  }
  std::printf("  %-10s %8zu %8s %8llu\n\n", "total", image.size(), "", static_cast<unsigned long long>(padding));

  // Sections of the map that did not make it into the image (empty ones).
  for (const std::string& name : sectionOrder) {
    bool present = false;
    for (const std::string& c : columns) present = present || c == name;
    bool used = false;
    for (const auto& row : bytes) used = used || row.second.count(name) != 0;
    if (!present && used) columns.push_back(name);
  }

  std::vector<std::pair<uint64_t, std::string>> rows;
  for (const auto& row : bytes) {
    uint64_t total = 0;
    for (const auto& cell : row.second) total += cell.second;
    rows.push_back({total, row.first});
  }
  std::sort(rows.rbegin(), rows.rend());
  std::printf("  %-34s", "bytes by origin and section");
  for (const std::string& c : columns) std::printf(" %7s", c.c_str());
  std::printf(" %7s\n", "total");
  std::map<std::string, uint64_t> columnTotals;
  uint64_t grand = 0;
  for (const auto& row : rows) {
    std::printf("  %-34s", row.second.c_str());
    for (const std::string& c : columns) {
      const auto& cells = bytes[row.second];
      const auto cell = cells.find(c);
      if (cell == cells.end()) {
        std::printf(" %7s", "");
      } else {
        std::printf(" %7llu", static_cast<unsigned long long>(cell->second));
        columnTotals[c] += cell->second;
      }
    }
    std::printf(" %7llu\n", static_cast<unsigned long long>(row.first));
    grand += row.first;
  }
  std::printf("  %-34s", "total");
  for (const std::string& c : columns) std::printf(" %7llu", static_cast<unsigned long long>(columnTotals[c]));
  std::printf(" %7llu\n", static_cast<unsigned long long>(grand));
  return 0;
}
