// Writes the seed corpus of the whole-run fuzz target: packages made with the
// package writer on the fuzz stub, each with a Windows profile and a command
// line, one file per seed named "<outcome>-<what>", so that every defined
// outcome has a seed that reaches it (check-seeds.sh proves it).
//   make-seeds OUTPUT-FOLDER
#include <stdio.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "package/StubTypes.h"
#include "tests/fuzz/FuzzInput.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

using packagewriter::Bytes;

// A stand-in setup program: "MZ" and bytes that compress a little.
Bytes Program(size_t size, uint8_t seed) {
  Bytes bytes(size);
  uint32_t state = 0x2545F491u ^ seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>((i % 32) < 20 ? (state >> 24) : seed);
  }
  bytes[0] = 'M';
  bytes[1] = 'Z';
  return bytes;
}

packagewriter::PackageSpec BaseSpec() {
  packagewriter::PackageSpec inputs;
  inputs.stub = fuzz::Stub();
  inputs.setup32 = Program(700, 32);
  inputs.setup64 = Program(900, 64);
  inputs.architectureMessage = packagewriter::TextFromUtf8("Needs another architecture.");
  inputs.systemMessage = packagewriter::TextFromUtf8("%USER% is not supported.\n%user% users: please upgrade.");
  inputs.lzma.preset = 1;
  inputs.lzma.dictionarySize = 1u << 16;
  return inputs;
}

// A run of `package` on the Windows of `profile`.
fuzz::RunProfile Seed(const packagewriter::BuiltPackage& package, fuzz::RunProfile profile) {
  profile.locator.assign(package.bytes.begin() + fuzz::kLocatorAt,
                         package.bytes.begin() + fuzz::kLocatorAt + fuzz::kLocatorSize);
  profile.package.assign(package.bytes.begin() + fuzz::kStubSize, package.bytes.end());
  return profile;
}

struct SeedRow {
  const char* name;  // "<outcome>-<what>"
  std::function<void(packagewriter::PackageSpec&)> inputs;
  std::function<void(packagewriter::BuiltPackage&)> patch;  // after building; the harness repairs the checksum
  std::function<void(fuzz::RunProfile&)> profile;
};

const std::vector<SeedRow>& Rows() {
  using Inputs = packagewriter::PackageSpec;
  using Built = packagewriter::BuiltPackage;
  using Profile = fuzz::RunProfile;
  static const std::vector<SeedRow> rows = {
      {"started-both-builds", [](Inputs&) {}, [](Built&) {}, [](Profile&) {}},
      {"started-shell-runas", [](Inputs& s) { s.elevationMode = 1; }, [](Built&) {},
       [](Profile& p) {
         p.major = 6, p.administrator = false;
         p.arguments = "/S alpha";
       }},
      {"started-shell-noadmin", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.administrator = false, p.noCheckTokenMembership = true;
         p.arguments = "\"two words\" \"\"  /32";
       }},
      {"started-shell-without-process", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.major = 6, p.minor = 3, p.administrator = false, p.shellGivesNoProcess = true;
       }},
      {"started-detached", [](Inputs& s) { s.detached = true; }, [](Built&) {}, [](Profile&) {}},
      {"started-end-marker-lc4",
       [](Inputs& s) {
         s.setup64.reset();
         s.lzma.lc = 4, s.lzma.lp = 0, s.lzma.pb = 0, s.lzma.endMarker = true, s.lzma.dictionarySize = 4096;
       },
       [](Built&) {}, [](Profile& p) { p.wow64 = false; }},
      {"started-temp-last", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.arguments = "x /temp";
         p.copyNameTaken = true;
       }},
      {"started-network-drive", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.networkDrive = true, p.major = 5, p.minor = 1;
         p.arguments = "/temp \\Work a\"b c\"d";
       }},
      {"started-codepage932", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.codePage932 = true, p.versionQueryFails = true;
         p.arguments = "\x81\x40\x82\xA0 /silent \"\x83\x5C\"";
       }},
      {"started-windows10-release", [](Inputs& s) { s.minReleaseId = 1507, s.maxReleaseId = 9999; }, [](Built&) {},
       [](Profile& p) { p.releaseId = std::string("2009\0", 5); }},
      {"message-architecture", [](Inputs& s) { s.setup32.reset(); }, [](Built&) {},
       [](Profile& p) { p.wow64 = false; }},
      {"message-refuses-64-bit", [](Inputs& s) { s.setup64.reset(), s.without64 = packagewriter::Declare64::RefuseOn64BitWindows; },
       [](Built&) {}, [](Profile& p) { p.arguments = "/32"; }},
      {"message-windows-xp", [](Inputs& s) { s.supportedSystems = (1ull << 6) | (1ull << 10) | (1ull << 63); },
       [](Built&) {}, [](Profile& p) { p.major = 5, p.minor = 1; }},
      {"message-release-1809", [](Inputs& s) { s.minReleaseId = 1903; }, [](Built&) {},
       [](Profile& p) { p.releaseId = std::string("1809\0", 5); }},
      {"message-release-text", [](Inputs& s) { s.minReleaseId = 1; }, [](Built&) {},
       [](Profile& p) { p.releaseId = std::string("abc%USER%%user%"); }},
      {"message-windows2000-sp3", [](Inputs& s) { s.supportedSystems = 1ull << 4; }, [](Built&) {},
       [](Profile& p) { p.major = 5, p.minor = 0, p.servicePack = 3; }},
      {"message-composed-name", [](Inputs& s) { s.supportedSystems = 0x7FF; }, [](Built&) {},
       [](Profile& p) { p.major = 0xFFFFFFFF, p.minor = 12; }},
      {"message-empty-text", [](Inputs& s) { s.setup32.reset(), s.architectureMessage.clear(); }, [](Built&) {},
       [](Profile& p) { p.noIsWow64Process = true; }},
      {"damaged-checksum", [](Inputs&) {}, [](Built& b) { b.bytes[b.locator.HeaderOffset() + 20] ^= 0x40; },
       [](Profile& p) { p.keepChecksum = true; }},
      {"damaged-no-package", [](Inputs&) {},
       [](Built& b) {
         for (size_t i = 0; i < fuzz::kLocatorSize; ++i) b.bytes[fuzz::kLocatorAt + i] = 0;
       },
       [](Profile&) {}},
      {"damaged-decoded-size", [](Inputs&) {},
       [](Built& b) {
         loader::WriteLittle32(b.header.Bytes + loader::header_offset::Payload64 + 8,
                               b.header.Payload64().DecompressedSize + 1);
         packagewriter::Rewrite(b);
       },
       [](Profile&) {}},
      {"damaged-lc-plus-lp", [](Inputs&) {},
       [](Built& b) {
         b.header.Bytes[0] = (2 * 5 + 1) * 9 + 4;  // lc 4, lp 1, pb 2
         packagewriter::Rewrite(b);
       },
       [](Profile&) {}},
      {"damaged-message-offset", [](Inputs& s) { s.setup32.reset(); },
       [](Built& b) {
         loader::WriteLittle32(b.header.Bytes + loader::header_offset::ArchitectureMessage, 0x80000000u);
         packagewriter::Rewrite(b);
       },
       [](Profile& p) { p.wow64 = false; }},
      {"truncated-cut-download", [](Inputs& s) { s.extraOutside = Bytes(64, 0xAB); },
       [](Built& b) { b.bytes.resize(b.bytes.size() - 10); }, [](Profile&) {}},
      {"tempcopyfailed-missing-folder", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) { p.arguments = "/temp C:\\nowhere"; }},
      {"tempcopyfailed-short-write", [](Inputs&) {}, [](Built&) {}, [](Profile& p) { p.writeLimit = 3; }},
      {"tempcopyfailed-disk-full", [](Inputs&) {}, [](Built&) {}, [](Profile& p) { p.freeDiskSpace = 1; }},
      {"launchfailed-not-a-program",
       [](Inputs& s) {
         s.setup32 = Bytes(300, 'x');
         s.setup64 = Bytes(400, 'y');
       },
       [](Built&) {}, [](Profile&) {}},
      {"launchfailed-start-fails", [](Inputs&) {}, [](Built&) {},
       [](Profile& p) {
         p.startFails = true, p.major = 6, p.minor = 1, p.administrator = false;
       }},
      {"outofmemory-window", [](Inputs&) {},
       [](Built& b) {
         loader::WriteLittle32(b.header.Bytes + 1, 0x7FFFFFFF);
         packagewriter::Rewrite(b);
       },
       [](Profile&) {}},
      {"outofmemory-third-allocation", [](Inputs&) {}, [](Built&) {}, [](Profile& p) { p.failAllocation = 3; }},
      {"outofmemory-small-heap", [](Inputs& s) { s.setup64 = Program(300000, 64); }, [](Built&) {},
       [](Profile& p) { p.heapLimit = 4; }},
  };
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make-seeds OUTPUT-FOLDER\n");
    return 2;
  }
  for (const SeedRow& row : Rows()) {
    packagewriter::PackageSpec inputs = BaseSpec();
    row.inputs(inputs);
    packagewriter::BuiltPackage package = packagewriter::BuildPackage(inputs);
    row.patch(package);
    fuzz::RunProfile profile;
    row.profile(profile);
    const std::vector<uint8_t> bytes = fuzz::SerializeRunInput(Seed(package, profile));
    const std::string path = std::string(argv[1]) + "/" + row.name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      fprintf(stderr, "make-seeds: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  printf("make-seeds: %zu seeds in %s\n", Rows().size(), argv[1]);
  return 0;
}
