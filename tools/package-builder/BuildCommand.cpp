#include "tools/package-builder/BuildCommand.h"

#include <stdio.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "tools/package-builder/Files.h"
#include "tools/package-builder/HostSystem.h"
#include "tools/package-builder/TerminalProgress.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagebuilder {
namespace {

using packagewriter::Bytes;

std::u16string ReadText(const TextSource& source, const char* option) {
  std::string utf8;
  if (source.file) {
    const Bytes bytes = ReadWholeFile(*source.file, std::string(option) + "-file");
    utf8.assign(bytes.begin(), bytes.end());
    if (utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) utf8.erase(0, 3);  // an editor's byte-order mark
  } else if (source.text) {
    utf8 = *source.text;
  }
  try {
    return packagewriter::TextFromUtf8(utf8);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string(option) + ": " + e.what());
  }
}

// Whether the PE image `stub` carries an Authenticode signature: a
// certificate table in its data directory. A package appended after the
// signature would fall under it and break it, so a package is built from the
// unsigned loader and signed afterwards. StubProblem has checked the PE
// header's place; any other part missing means no signature.
bool CarriesSignature(const Bytes& stub) {
  const uint64_t pe = loader::ReadLittle32(stub.data() + 0x3C);
  const uint64_t optional = pe + 24;  // "PE\0\0" and the 20-byte file header
  if (optional + 2 > stub.size()) return false;
  const uint16_t magic = loader::ReadLittle16(stub.data() + optional);
  const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);  // PE32+ or PE32
  const uint64_t count = directories - 4;                              // NumberOfRvaAndSizes
  const uint64_t security = directories + 4 * 8;                       // entry 4: the certificate table
  if (security + 8 > stub.size() || loader::ReadLittle32(stub.data() + count) <= 4) return false;
  return loader::ReadLittle32(stub.data() + security + 4) != 0;
}

std::string Hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

void RunBuild(const BuildOptions& options) {
  const std::string stubPath =
      options.stub.empty() ? (std::filesystem::u8path(ProgramFolder()) / "loader.exe").u8string() : options.stub;
  CheckOutputPath(options.output);
  // Refuse a package that cannot fit below 2^31 before reading gigabytes.
  uint64_t fixedSize = InputFileSize(stubPath, "stub") + sizeof(loader::PackageHeader);
  if (options.extraInside) fixedSize += InputFileSize(*options.extraInside, "extra-inside data");
  if (options.extraOutside) fixedSize += InputFileSize(*options.extraOutside, "extra-outside data");
  if (fixedSize >= packagewriter::kOffsetLimit)
    throw std::runtime_error("the stub, header and extra data alone come to " + std::to_string(fixedSize) +
                             " bytes; package offsets must stay below 2^31");

  packagewriter::PackageSpec inputs;
  inputs.stub = ReadWholeFile(stubPath, "stub");
  if (const std::string problem = packagewriter::StubProblem(inputs.stub); !problem.empty())
    throw std::runtime_error(stubPath + ": " + problem);
  if (CarriesSignature(inputs.stub))
    throw std::runtime_error(stubPath + ": the stub is signed, and the package would break its signature; "
                             "build from the unsigned loader.exe and sign the package afterwards");
  if (options.setup32) inputs.setup32 = ReadWholeFile(*options.setup32, "setup32", packagewriter::kMaxPayloadSize);
  if (options.setup64) inputs.setup64 = ReadWholeFile(*options.setup64, "setup64", packagewriter::kMaxPayloadSize);
  inputs.architectureMessage = ReadText(options.architectureText, "--architecture-text");
  inputs.systemMessage = ReadText(options.systemText, "--system-text");
  if (options.extraInside) inputs.extraInside = ReadWholeFile(*options.extraInside, "extra-inside data");
  if (options.extraOutside) inputs.extraOutside = ReadWholeFile(*options.extraOutside, "extra-outside data");
  inputs.without64 = options.without64;
  inputs.supportedSystems = options.supportedSystems;
  inputs.minReleaseId = options.minReleaseId;
  inputs.maxReleaseId = options.maxReleaseId;
  inputs.elevationMode = options.elevationMode;
  inputs.detached = options.detached;
  inputs.lzma = options.lzma;

  for (const std::optional<std::string>* input :
       {&options.setup32, &options.setup64, &options.extraInside, &options.extraOutside,
        &options.architectureText.file, &options.systemText.file}) {
    if (*input && SameFile(**input, options.output))
      throw std::runtime_error("the output " + options.output + " is the input " + **input + "; give another -o");
  }
  if (SameFile(stubPath, options.output))
    throw std::runtime_error("the output " + options.output + " is the stub; give another -o");

  packagewriter::BuiltPackage built;
  {
    TTerminalProgress progress;
    built = packagewriter::BuildPackage(inputs, [&](const std::string& payload, uint64_t done, uint64_t total) {
      progress.Update("compressing " + payload, done, total);
    });
  }
  WriteFileAtomically(options.output, built.bytes);

  std::string summary = "package-builder: wrote " + options.output + ": " + std::to_string(built.bytes.size()) +
                        " bytes (stub " + std::to_string(inputs.stub.size()) + ", package " +
                        std::to_string(built.packageEnd - inputs.stub.size());
  const auto payload = [&](const char* name, const loader::PayloadDescriptor& d) {
    summary += std::string(", ") + name + " " + std::to_string(d.DecompressedSize) + " -> " +
               std::to_string(d.CompressedSize);
  };
  if (inputs.setup32) payload("setup32", built.header.Payload32());
  if (inputs.setup64) payload("setup64", built.header.Payload64());
  summary += ", checksum range " + std::to_string(built.locator.ChecksumLength()) + ", CRC-32 " +
             Hex32(built.locator.Checksum()) + ")";
  printf("%s\n", summary.c_str());
}

}  // namespace packagebuilder
