// Reads any package file and checks it the way the loader does: the
// locator, the size test, the CRC-32, the header, the LZMA properties, each
// payload decoded to its stated size, and the texts. Assumes no particular
// layout: every record is found through the locator and the header.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "package/StubTypes.h"

namespace packagebuilder {

struct InspectionCheck {
  std::string name;  // "locator", "size", "checksum", "header", "lzma-properties", "payloads",
                     // "payload32", "payload64", "architecture-text", "system-text"
  bool passed = false;
  std::string detail;  // one line, for a person
};

struct PayloadFacts {
  bool present = false;  // the loader decodes it on some Windows
  loader::PayloadDescriptor descriptor{};
};

struct TextFacts {
  loader::MessageRef ref{};
  bool readable = false;  // the text lies within the file
  std::string utf8;       // the text, when readable
};

// What the loader would run: "payload32", "payload64" or "refused".
struct Selection {
  std::string on32BitWindows, on64BitWindows;
  bool switch32Matters = false;  // "/32" picks payload32 on 64-bit Windows
};

struct PackageInspection {
  std::string path;
  uint64_t fileSize = 0;
  bool hasLocator = false;  // the file is long enough to hold one
  loader::PackageLocator locator{};
  bool hasHeader = false;  // the locator leads to a whole header
  loader::PackageHeader header{};
  PayloadFacts payload32, payload64;
  TextFacts architectureText, systemText;
  Selection selection;
  std::vector<InspectionCheck> checks;

  bool Passed() const;
};

// Called while a payload is decoded: what, bytes done, bytes in all.
using InspectionProgress = std::function<void(const std::string& what, uint64_t done, uint64_t total)>;

// Reads and checks the package in `path`. Throws std::runtime_error when the
// file cannot be opened or read; every fault of the package itself is a
// failed check in the result.
PackageInspection InspectPackage(const std::string& path, const InspectionProgress& progress = {});

// UTF-16 code units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

}  // namespace packagebuilder
