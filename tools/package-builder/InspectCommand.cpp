#include "tools/package-builder/InspectCommand.h"

#include <stdio.h>

#include <string>
#include <vector>

#include "tools/package-builder/JsonWriter.h"
#include "tools/package-builder/PackageInspection.h"
#include "tools/package-builder/TerminalProgress.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagebuilder {
namespace {

std::string Hex(uint64_t value, int digits) {
  char text[24];
  snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string N(uint64_t value) { return std::to_string(value); }

uint64_t SystemsSet(const loader::PackageHeader& header) {
  uint64_t set = 0;
  for (int i = 0; i < 8; ++i) set |= static_cast<uint64_t>(header.Bytes[5 + i]) << (8 * i);
  return set;
}

std::vector<std::string> NamedSystems(uint64_t set) {
  std::vector<std::string> names;
  for (int n = 0; n < 64; ++n)
    if ((set >> n & 1) && !packagewriter::SystemElementName(n).empty()) names.push_back(packagewriter::SystemElementName(n));
  return names;
}

std::vector<int> OtherElements(uint64_t set) {
  std::vector<int> elements;
  for (int n = 0; n < 64; ++n)
    if ((set >> n & 1) && packagewriter::SystemElementName(n).empty()) elements.push_back(n);
  return elements;
}

std::string ElevationMeaning(uint8_t mode) {
  switch (mode) {
    case 1: return "\"runas\"";
    case 2: return "\"open\" with /noadmin";
    case 0: return "\"open\"";
    default: return "acts as 0: \"open\"";
  }
}

// What the Payload64 offset declares.
std::string Payload64Declaration(const PackageInspection& r) {
  const uint32_t offset = r.header.Payload64().FileOffset;
  if (r.header.Payload32().FileOffset == 0) return "payload";  // taken on 64-bit Windows whatever it holds
  if (offset == loader::kRefuse64BitWindows) return "refuse-64bit";
  if (offset == 0) return "none";
  return "payload";
}

// ---- Text for a person ----

std::string Printable(const std::string& line) {
  std::string out;
  for (unsigned char c : line) {
    if (c < 0x20 && c != '\t') {
      char escape[8];
      snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PrintField(const char* name, const std::string& value) { printf("  %-18s %s\n", name, value.c_str()); }

void PrintText(const char* name, const TextFacts& text) {
  if (text.ref.Length == 0) {
    PrintField(name, "empty (offset " + N(text.ref.Offset) + ")");
    return;
  }
  PrintField(name, "offset " + N(text.ref.Offset) + ", " + N(text.ref.Length) + " UTF-16 units" +
                       (text.readable ? ":" : ", not within the file"));
  if (!text.readable) return;
  size_t start = 0;
  for (;;) {
    size_t end = text.utf8.find('\n', start);
    std::string line = text.utf8.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    printf("    | %s\n", Printable(line).c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

std::string DescriptorText(const loader::PayloadDescriptor& d) {
  return "offset " + N(d.FileOffset) + ", compressed " + N(d.CompressedSize) + ", decompressed " +
         N(d.DecompressedSize);
}

void PrintReport(const PackageInspection& r) {
  printf("%s: %s bytes\n", r.path.c_str(), N(r.fileSize).c_str());
  if (r.hasLocator) {
    const loader::PackageLocator& l = r.locator;
    printf("Locator at 128\n");
    PrintField("HeaderOffset", N(l.HeaderOffset()));
    PrintField("ChecksumLength", N(l.ChecksumLength()) + " (the range ends at " +
                                     N(uint64_t(l.HeaderOffset()) + l.ChecksumLength()) + ")");
    PrintField("Checksum", Hex(l.Checksum(), 8));
    const uint64_t expected = (uint64_t(l.ExpectedSizeHigh()) << 32) | l.ExpectedSizeLow();
    PrintField("ExpectedSize", N(expected) + " (high " + Hex(l.ExpectedSizeHigh(), 8) + ", low " +
                                   Hex(l.ExpectedSizeLow(), 8) + ")");
    PrintField("DetachedFileSize", l.DetachedFileSize() == 0
                                       ? std::string("0 (the loader waits for the setup program and deletes its copy)")
                                       : N(l.DetachedFileSize()) + " (detached: no wait, no deletion)");
  }
  if (r.hasHeader) {
    const loader::PackageHeader& h = r.header;
    const uint8_t b = h.LzmaPropertiesByte();
    printf("Header at %s\n", N(r.locator.HeaderOffset()).c_str());
    PrintField("LZMA properties", "byte " + Hex(b, 2) + " (lc " + N(b % 9) + ", lp " + N(b / 9 % 5) + ", pb " +
                                      N(b / 45) + "), dictionary " + N(h.LzmaDictionarySize()) + " bytes");
    const uint64_t set = SystemsSet(h);
    std::string systems;
    for (const std::string& name : NamedSystems(set)) systems += (systems.empty() ? "" : ", ") + name;
    const std::vector<int> others = OtherElements(set);
    if (!others.empty()) {
      systems += systems.empty() ? "elements" : "; other elements";
      for (size_t i = 0; i < others.size();) {
        size_t j = i;
        while (j + 1 < others.size() && others[j + 1] == others[j] + 1) ++j;
        systems += (i == 0 ? " " : ", ") + N(others[i]) + (j > i ? "-" + N(others[j]) : "");
        i = j + 1;
      }
    }
    PrintField("SupportedSystems", Hex(set, 16) + ": " + (systems.empty() ? "none" : systems));
    PrintField("ReleaseId range", N(h.MinReleaseId()) + "-" + N(h.MaxReleaseId()));
    PrintField("ElevationMode", N(h.ElevationMode()) + " (" + ElevationMeaning(h.ElevationMode()) + ")");
    PrintField("Payload32", h.Payload32().FileOffset == 0 ? "none (offset 0)" : DescriptorText(h.Payload32()));
    const std::string declaration = Payload64Declaration(r);
    PrintField("Payload64", declaration == "refuse-64bit" ? "none, 64-bit Windows refused (offset 0xFFFFFFFF)"
                            : declaration == "none"       ? "none (offset 0)"
                                                          : DescriptorText(h.Payload64()));
    PrintField("Bytes 42..45", N(loader::ReadLittle32(h.Bytes + 42)));
    PrintText("ArchitectureText", r.architectureText);
    PrintText("SystemText", r.systemText);
    printf("Runs\n");
    PrintField("32-bit Windows", r.selection.on32BitWindows);
    PrintField("64-bit Windows", r.selection.on64BitWindows + (r.selection.switch32Matters ? " (payload32 with /32)" : ""));
  }
  printf("Checks\n");
  for (const InspectionCheck& c : r.checks) printf("  %-5s %s: %s\n", c.passed ? "ok" : "FAIL", c.name.c_str(), c.detail.c_str());
}

// ---- JSON ----

void JsonText(TJsonWriter& json, const TextFacts& text) {
  json.BeginObject();
  json.Key("offset"), json.Number(text.ref.Offset);
  json.Key("length"), json.Number(text.ref.Length);
  json.Key("withinFile"), json.Bool(text.readable);
  json.Key("text");
  if (text.readable) json.String(text.utf8);
  else json.Null();
  json.EndObject();
}

void JsonDescriptor(TJsonWriter& json, const loader::PayloadDescriptor& d, bool present) {
  json.BeginObject();
  json.Key("present"), json.Bool(present);
  json.Key("offset"), json.Number(d.FileOffset);
  json.Key("compressedSize"), json.Number(d.CompressedSize);
  json.Key("decompressedSize"), json.Number(d.DecompressedSize);
  json.EndObject();
}

std::string JsonReport(const PackageInspection& r) {
  TJsonWriter json;
  json.BeginObject();
  json.Key("file"), json.String(r.path);
  json.Key("fileSize"), json.Number(r.fileSize);
  json.Key("locator");
  if (r.hasLocator) {
    const loader::PackageLocator& l = r.locator;
    json.BeginObject();
    json.Key("headerOffset"), json.Number(l.HeaderOffset());
    json.Key("checksumLength"), json.Number(l.ChecksumLength());
    json.Key("checksum"), json.Number(l.Checksum());
    json.Key("expectedSizeLow"), json.Number(l.ExpectedSizeLow());
    json.Key("expectedSizeHigh"), json.Number(l.ExpectedSizeHigh());
    json.Key("expectedSize"), json.Number((uint64_t(l.ExpectedSizeHigh()) << 32) | l.ExpectedSizeLow());
    json.Key("detachedFileSize"), json.Number(l.DetachedFileSize());
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("header");
  if (r.hasHeader) {
    const loader::PackageHeader& h = r.header;
    const uint8_t b = h.LzmaPropertiesByte();
    json.BeginObject();
    json.Key("lzmaPropertiesByte"), json.Number(b);
    json.Key("lc"), json.Number(b % 9);
    json.Key("lp"), json.Number(b / 9 % 5);
    json.Key("pb"), json.Number(b / 45);
    json.Key("dictionarySize"), json.Number(h.LzmaDictionarySize());
    const uint64_t set = SystemsSet(h);
    json.Key("supportedSystems"), json.String(Hex(set, 16));
    json.Key("systems"), json.BeginArray();
    for (const std::string& name : NamedSystems(set)) json.String(name);
    json.EndArray();
    json.Key("otherElements"), json.BeginArray();
    for (int n : OtherElements(set)) json.Number(static_cast<uint64_t>(n));
    json.EndArray();
    json.Key("minReleaseId"), json.Number(h.MinReleaseId());
    json.Key("maxReleaseId"), json.Number(h.MaxReleaseId());
    json.Key("elevationMode"), json.Number(h.ElevationMode());
    json.Key("payload32"), JsonDescriptor(json, h.Payload32(), r.payload32.present);
    json.Key("payload64"), JsonDescriptor(json, h.Payload64(), r.payload64.present);
    json.Key("payload64Declaration"), json.String(Payload64Declaration(r));
    json.Key("endOfData"), json.Number(loader::ReadLittle32(h.Bytes + 42));
    json.Key("architectureText"), JsonText(json, r.architectureText);
    json.Key("systemText"), JsonText(json, r.systemText);
    json.EndObject();
    json.Key("selection"), json.BeginObject();
    json.Key("windows32"), json.String(r.selection.on32BitWindows);
    json.Key("windows64"), json.String(r.selection.on64BitWindows);
    json.Key("switch32"), json.Bool(r.selection.switch32Matters);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("checks"), json.BeginArray();
  for (const InspectionCheck& c : r.checks) {
    json.BeginObject();
    json.Key("name"), json.String(c.name);
    json.Key("passed"), json.Bool(c.passed);
    json.Key("detail"), json.String(c.detail);
    json.EndObject();
  }
  json.EndArray();
  json.Key("passed"), json.Bool(r.Passed());
  json.EndObject();
  return json.Text();
}

}  // namespace

int RunInspect(const InspectOptions& options) {
  PackageInspection report;
  {
    TTerminalProgress progress;
    report = InspectPackage(options.file, [&](const std::string& what, uint64_t done, uint64_t total) {
      progress.Update(what, done, total);
    });
  }
  if (options.json) {
    printf("%s\n", JsonReport(report).c_str());
  } else {
    PrintReport(report);
  }
  std::string failed;
  size_t count = 0;
  for (const InspectionCheck& c : report.checks) {
    if (c.passed) continue;
    failed += (count++ ? ", " : "") + c.name;
  }
  if (count == 0) {
    if (!options.json) printf("Result: all %zu checks passed\n", report.checks.size());
    return 0;
  }
  if (!options.json) printf("Result: %zu of %zu checks failed: %s\n", count, report.checks.size(), failed.c_str());
  fflush(stdout);
  fprintf(stderr, "package-builder: %s: %zu check%s failed: %s\n", options.file.c_str(), count, count == 1 ? "" : "s",
          failed.c_str());
  return 1;
}

}  // namespace packagebuilder
