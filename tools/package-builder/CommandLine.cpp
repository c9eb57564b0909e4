#include "tools/package-builder/CommandLine.h"

#include <ctype.h>

#include <functional>
#include <set>

#include "package/StubTypes.h"

namespace packagebuilder {
namespace {

const char kUsage[] =
    "Usage:\n"
    "  package-builder build [options] -o OUT\n"
    "  package-builder inspect FILE [--json]\n"
    "  package-builder --help\n"
    "\n"
    "build: appends a setup package to a loader image and writes the result to OUT.\n"
    "  --stub FILE                    the unsigned loader image (default: loader.exe beside\n"
    "                                 package-builder); sign the built package afterwards\n"
    "  --setup32 FILE                 the 32-bit setup program\n"
    "  --setup64 FILE                 the 64-bit setup program\n"
    "  --no-64bit                     no 64-bit program: the 32-bit one serves every Windows\n"
    "                                 (the default without --setup64)\n"
    "  --refuse-64bit                 no 64-bit program, and 64-bit Windows is refused\n"
    "  --systems LIST                 supported Windows versions, comma-separated, from\n"
    "                                 95,98,me,nt4,2000,xp,vista,7,8,8.1,10,later (default: all)\n"
    "  --systems-raw HEX              the supported-systems set as a 64-bit number\n"
    "  --release-ids MIN-MAX          Windows 10 releases accepted (default 0-65535)\n"
    "  --elevation 0|1|2              shell start of a silent run for a non-administrator:\n"
    "                                 0 \"open\", 1 \"runas\", 2 \"open\" with /noadmin (default 0)\n"
    "  --architecture-text TEXT       shown when the architecture is refused (UTF-8)\n"
    "  --architecture-text-file FILE  the same, read from a UTF-8 file\n"
    "  --system-text TEXT             shown when the Windows version is refused; %USER%\n"
    "                                 stands for the version's name (UTF-8)\n"
    "  --system-text-file FILE        the same, read from a UTF-8 file\n"
    "  --extra-inside FILE            data the loader does not read, inside the checksum range\n"
    "  --extra-outside FILE           the same, after the checksum range\n"
    "  --detached                     the loader neither waits for the setup program nor\n"
    "                                 deletes its copy\n"
    "  --lzma-preset N                liblzma preset 0..9 (default 6)\n"
    "  --dictionary-size N            dictionary bytes, suffix K, M or G allowed (default 1M)\n"
    "  --lc N  --lp N  --pb N         LZMA literal context, literal position and position\n"
    "                                 bits (default 3, 0, 2; lc + lp at most 4)\n"
    "  --end-marker                   end each compressed stream with an end marker\n"
    "  -o, --output OUT               the file to write\n"
    "  A value may also be attached: --option=VALUE.\n"
    "\n"
    "inspect: prints the package in FILE and checks it as the loader does.\n"
    "  --json                         the same facts as one JSON object\n"
    "\n"
    "Exit status: 0 done; 1 the build failed or a check failed; 2 a command-line error.\n";

[[noreturn]] void Fail(const std::string& reason) { throw UsageError(reason); }

uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  if (text.empty() || text.size() > 20) Fail(option + " needs a number, not \"" + text + "\"");
  uint64_t value = 0;
  for (char c : text) {
    if (!isdigit(static_cast<unsigned char>(c))) Fail(option + " needs a number, not \"" + text + "\"");
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) Fail(option + " " + text + " is too large");
    value = value * 10 + digit;
  }
  if (value > max) Fail(option + " " + text + " is above " + std::to_string(max));
  return value;
}

uint32_t ParseDictionarySize(const std::string& option, const std::string& text) {
  size_t digits = 0;
  while (digits < text.size() && isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  std::string suffix = text.substr(digits);
  for (char& c : suffix) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  unsigned shift;
  if (suffix.empty() || suffix == "B") shift = 0;
  else if (suffix == "K" || suffix == "KIB") shift = 10;
  else if (suffix == "M" || suffix == "MIB") shift = 20;
  else if (suffix == "G" || suffix == "GIB") shift = 30;
  else Fail(option + " needs a number with an optional K, M or G, not \"" + text + "\"");
  const uint64_t value = ParseNumber(option, text.substr(0, digits), UINT32_MAX);
  if ((value << shift) >> shift != value || (value << shift) >= 0x80000000u)
    Fail(option + " " + text + " is 2 GiB or more; the loader refuses a dictionary that large");
  return static_cast<uint32_t>(value << shift);
}

uint64_t ParseSystems(const std::string& option, const std::string& list) {
  uint64_t set = 0;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const int element = packagewriter::SystemElement(name);
    if (element < 0)
      Fail(option + ": unknown system \"" + name + "\" (known: 95,98,me,nt4,2000,xp,vista,7,8,8.1,10,later)");
    set |= 1ull << element;
    if (comma == std::string::npos) return set;
    start = comma + 1;
  }
}

uint64_t ParseHex64(const std::string& option, const std::string& text) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
  if (digits.empty() || digits.size() > 16) Fail(option + " needs a hexadecimal number of up to 16 digits, not \"" + text + "\"");
  uint64_t value = 0;
  for (char c : digits) {
    if (!isxdigit(static_cast<unsigned char>(c)))
      Fail(option + " needs a hexadecimal number of up to 16 digits, not \"" + text + "\"");
    value = (value << 4) | static_cast<uint64_t>(isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10));
  }
  return value;
}

void ParseReleaseRange(const std::string& option, const std::string& text, BuildOptions& build) {
  const size_t dash = text.find('-');
  auto part = [&](const std::string& s) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
      Fail(option + " needs MIN-MAX, two numbers 0..65535, not \"" + text + "\"");
    const unsigned long v = std::stoul(s);
    if (v > 0xFFFF) Fail(option + " needs MIN-MAX, two numbers 0..65535, not \"" + text + "\"");
    return static_cast<uint16_t>(v);
  };
  if (dash == std::string::npos) Fail(option + " needs MIN-MAX, two numbers 0..65535, not \"" + text + "\"");
  build.minReleaseId = part(text.substr(0, dash));
  build.maxReleaseId = part(text.substr(dash + 1));
  if (build.minReleaseId > build.maxReleaseId)
    Fail(option + " " + text + ": MIN is above MAX, so no release would be accepted");
}

struct Option {
  const char* name;
  bool takesValue;
  std::function<void(const std::string& name, const std::string& value)> apply;
};

// Reads `arguments[from..]` as options of `table`; `positional` takes the
// rest (or refuses them).
void ParseOptions(const std::vector<std::string>& arguments, size_t from, const std::vector<Option>& table,
                  const std::function<void(const std::string&)>& positional) {
  std::set<std::string> seen;
  for (size_t i = from; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() < 2 || argument[0] != '-') {
      positional(argument);
      continue;
    }
    std::string name = argument;
    std::optional<std::string> value;
    const size_t equals = argument.find('=');
    if (equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    if (name == "--output") name = "-o";
    const Option* option = nullptr;
    for (const Option& o : table)
      if (name == o.name) option = &o;
    if (!option) Fail("unknown option " + name);
    if (!seen.insert(name).second) Fail(name + " given twice");
    if (option->takesValue && !value) {
      if (i + 1 >= arguments.size()) Fail(name + " needs a value");
      value = arguments[++i];
    }
    if (!option->takesValue && value) Fail(name + " takes no value");
    option->apply(name, value.value_or(""));
  }
}

CommandLine ParseBuild(const std::vector<std::string>& arguments) {
  CommandLine line;
  line.command = CommandLine::Command::Build;
  BuildOptions& b = line.build;
  bool systemsGiven = false, no64 = false, refuse64 = false;
  auto path = [](std::optional<std::string>& target) {
    return [&target](const std::string& name, const std::string& v) {
      if (v.empty()) Fail(name + " needs a file name");
      target = v;
    };
  };
  auto number = [](uint32_t& target, uint64_t max) {
    return [&target, max](const std::string& name, const std::string& v) {
      target = static_cast<uint32_t>(ParseNumber(name, v, max));
    };
  };
  std::optional<std::string> stub, output;
  bool help = false;
  const std::vector<Option> table = {
      {"--help", false, [&](auto&, auto&) { help = true; }},
      {"-h", false, [&](auto&, auto&) { help = true; }},
      {"--stub", true, path(stub)},
      {"--setup32", true, path(b.setup32)},
      {"--setup64", true, path(b.setup64)},
      {"--no-64bit", false, [&](auto&, auto&) { no64 = true; }},
      {"--refuse-64bit", false, [&](auto&, auto&) { refuse64 = true; }},
      {"--systems", true,
       [&](const std::string& n, const std::string& v) {
         if (systemsGiven) Fail("give --systems or --systems-raw, not both");
         systemsGiven = true;
         b.supportedSystems = ParseSystems(n, v);
       }},
      {"--systems-raw", true,
       [&](const std::string& n, const std::string& v) {
         if (systemsGiven) Fail("give --systems or --systems-raw, not both");
         systemsGiven = true;
         b.supportedSystems = ParseHex64(n, v);
       }},
      {"--release-ids", true, [&](const std::string& n, const std::string& v) { ParseReleaseRange(n, v, b); }},
      {"--elevation", true,
       [&](const std::string& n, const std::string& v) { b.elevationMode = static_cast<uint8_t>(ParseNumber(n, v, 2)); }},
      {"--architecture-text", true, [&](auto&, const std::string& v) { b.architectureText.text = v; }},
      {"--architecture-text-file", true, path(b.architectureText.file)},
      {"--system-text", true, [&](auto&, const std::string& v) { b.systemText.text = v; }},
      {"--system-text-file", true, path(b.systemText.file)},
      {"--extra-inside", true, path(b.extraInside)},
      {"--extra-outside", true, path(b.extraOutside)},
      {"--detached", false, [&](auto&, auto&) { b.detached = true; }},
      {"--lzma-preset", true, number(b.lzma.preset, 9)},
      {"--dictionary-size", true,
       [&](const std::string& n, const std::string& v) { b.lzma.dictionarySize = ParseDictionarySize(n, v); }},
      {"--lc", true, number(b.lzma.lc, 8)},
      {"--lp", true, number(b.lzma.lp, 4)},
      {"--pb", true, number(b.lzma.pb, 4)},
      {"--end-marker", false, [&](auto&, auto&) { b.lzma.endMarker = true; }},
      {"-o", true, path(output)},
  };
  ParseOptions(arguments, 1, table, [](const std::string& a) { Fail("unexpected argument \"" + a + "\" for build"); });
  if (help) {
    line.command = CommandLine::Command::Help;
    return line;
  }

  if (!output) Fail("no output file: give -o OUT");
  b.output = *output;
  b.stub = stub.value_or("");
  if (!b.setup32 && !b.setup64) Fail("nothing to package: give --setup32 FILE, --setup64 FILE or both");
  if (no64 && refuse64) Fail("give --no-64bit or --refuse-64bit, not both");
  if ((no64 || refuse64) && b.setup64)
    Fail(std::string(no64 ? "--no-64bit" : "--refuse-64bit") + " contradicts --setup64");
  if (refuse64) b.without64 = packagewriter::Declare64::RefuseOn64BitWindows;
  if (b.architectureText.text && b.architectureText.file)
    Fail("give --architecture-text or --architecture-text-file, not both");
  if (b.systemText.text && b.systemText.file) Fail("give --system-text or --system-text-file, not both");
  if (b.lzma.lc + b.lzma.lp > 4)
    Fail("--lc " + std::to_string(b.lzma.lc) + " with --lp " + std::to_string(b.lzma.lp) +
         ": lc + lp must be at most 4 for liblzma");
  if (!systemsGiven) b.supportedSystems = AllNamedSystems();
  return line;
}

CommandLine ParseInspect(const std::vector<std::string>& arguments) {
  CommandLine line;
  line.command = CommandLine::Command::Inspect;
  bool help = false;
  std::optional<std::string> file;
  const std::vector<Option> table = {
      {"--help", false, [&](auto&, auto&) { help = true; }},
      {"-h", false, [&](auto&, auto&) { help = true; }},
      {"--json", false, [&](auto&, auto&) { line.inspect.json = true; }},
  };
  ParseOptions(arguments, 1, table, [&](const std::string& a) {
    if (file) Fail("inspect takes one FILE, not also \"" + a + "\"");
    file = a;
  });
  if (help) {
    line.command = CommandLine::Command::Help;
    return line;
  }
  if (!file) Fail("inspect needs a FILE");
  line.inspect.file = *file;
  return line;
}

}  // namespace

const char* UsageText() { return kUsage; }

uint64_t AllNamedSystems() {
  uint64_t set = 0;
  for (int element = 0; element < 64; ++element)
    if (!packagewriter::SystemElementName(element).empty()) set |= 1ull << element;
  return set;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) Fail("no command");
  const std::string& command = arguments[0];
  if (command == "--help" || command == "-h" || command == "help") return CommandLine{};
  if (command == "build") return ParseBuild(arguments);
  if (command == "inspect") return ParseInspect(arguments);
  Fail("unknown command \"" + command + "\"");
}

}  // namespace packagebuilder
