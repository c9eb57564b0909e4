#include "tools/loader-simulator/SimulatorOptions.h"

#include <ctype.h>

#include <functional>

#include "tools/loader-simulator/CodePage1252.h"

namespace simulator {
namespace {

// Each handler takes the option's value (empty for a flag) and returns "" or
// the reason why the value is refused.
using Handler = std::function<std::string(const std::string& value)>;

struct OptionRule {
  const char* name;
  bool takesValue;
  Handler handle;
};

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) return false;
  }
  return true;
}

// Converts an option's UTF-8 value to the loader's code page.
std::string ToCodePage(const std::string& option, const std::string& utf8, std::string& out) {
  std::string problem;
  if (Utf8ToCodePage1252(utf8, out, problem)) return "";
  return option + " " + problem;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<OptionRule> Rules(SimulatorOptions& o) {
  auto flag = [](const char* name, std::function<void()> set) {
    return OptionRule{name, false, [set](const std::string&) {
                        set();
                        return std::string();
                      }};
  };
  return {
      {"--windows", true,
       [&o](const std::string& v) {
         const size_t dot = v.find('.');
         uint64_t major, minor;
         if (dot == std::string::npos || !ParseUnsigned(v.substr(0, dot), 0xFFFFFFFFu, major) ||
             !ParseUnsigned(v.substr(dot + 1), 0xFFFFFFFFu, minor))
           return std::string("--windows wants MAJOR.MINOR, such as 10.0 or 5.1, not \"") + v + "\"";
         o.majorVersion = static_cast<uint32_t>(major);
         o.minorVersion = static_cast<uint32_t>(minor);
         return std::string();
       }},
      {"--platform-id", true,
       [&o](const std::string& v) {
         uint64_t n;
         if (!ParseUnsigned(v, 0xFFFFFFFFu, n)) return std::string("--platform-id wants a number, not \"") + v + "\"";
         o.platformId = static_cast<uint32_t>(n);
         return std::string();
       }},
      flag("--version-query-fails", [&o] { o.versionQueryFails = true; }),
      {"--service-pack", true,
       [&o](const std::string& v) {
         uint64_t n;
         if (!ParseUnsigned(v, 0xFFFF, n))
           return std::string("--service-pack wants a number from 0 to 65535, not \"") + v + "\"";
         o.servicePackMajor = static_cast<uint16_t>(n);
         o.servicePackQueryFails = false;
         return std::string();
       }},
      flag("--no-service-pack-query", [&o] { o.servicePackQueryFails = true; }),
      {"--release-id", true,
       [&o](const std::string& v) {
         o.releaseIdForm = SimulatorOptions::ReleaseIdForm::Text;
         return ToCodePage("--release-id", v, o.releaseId);
       }},
      {"--release-id-hex", true,
       [&o](const std::string& v) {
         std::string bytes;
         int high = -1;
         for (char c : v) {
           if (c == ' ' && high < 0) continue;  // spaces may separate whole bytes
           const int digit = HexDigit(c);
           if (digit < 0) return std::string("--release-id-hex wants hexadecimal bytes, such as 3139303300, not \"") + v + "\"";
           if (high < 0) {
             high = digit;
           } else {
             bytes += static_cast<char>(high * 16 + digit);
             high = -1;
           }
         }
         if (high >= 0) return std::string("--release-id-hex has an odd number of hexadecimal digits");
         o.releaseIdForm = SimulatorOptions::ReleaseIdForm::RawBytes;
         o.releaseId = bytes;
         return std::string();
       }},
      flag("--no-release-id", [&o] { o.releaseIdForm = SimulatorOptions::ReleaseIdForm::Missing; }),
      flag("--wow64", [&o] { o.wow64 = true; }),
      flag("--no-wow64", [&o] { o.wow64 = false; }),
      flag("--no-IsWow64Process", [&o] { o.hasIsWow64Process = false; }),
      flag("--admin", [&o] { o.administrator = true; }),
      flag("--no-admin", [&o] { o.administrator = false; }),
      flag("--no-CheckTokenMembership", [&o] { o.hasCheckTokenMembership = false; }),
      {"--loader-path", true,
       [&o](const std::string& v) {
         std::string path;
         std::string problem = ToCodePage("--loader-path", v, path);
         if (!problem.empty()) return problem;
         const size_t slash = path.rfind('\\');
         if (slash == std::string::npos || slash + 1 == path.size())
           return std::string("--loader-path wants a full path to a file, such as C:\\Downloads\\setup.exe");
         o.loaderPath = path;
         return std::string();
       }},
      {"--temp", true, [&o](const std::string& v) { return ToCodePage("--temp", v, o.tempPath); }},
      {"--map", true,
       [&o](const std::string& v) {
         if (v.size() < 4 || !isalpha(static_cast<unsigned char>(v[0])) || v[1] != ':' || v[2] != '=')
           return std::string("--map wants X:=\\\\server\\share, not \"") + v + "\"";
         std::string share;
         std::string problem = ToCodePage("--map", v.substr(3), share);
         if (!problem.empty()) return problem;
         o.networkDrives[static_cast<char>(toupper(static_cast<unsigned char>(v[0])))] = share;
         return std::string();
       }},
      {"--exists", true,
       [&o](const std::string& v) {
         std::string path;
         std::string problem = ToCodePage("--exists", v, path);
         if (!problem.empty()) return problem;
         if (path.empty()) return std::string("--exists wants a path");
         o.existingPaths.push_back(path);
         return std::string();
       }},
      flag("--open-fails", [&o] { o.openFails = true; }),
      flag("--create-fails", [&o] { o.createFails = true; }),
      flag("--write-short", [&o] { o.writeShort = true; }),
      flag("--start-fails", [&o] { o.startFails = true; }),
      {"--command-line", true,
       [&o](const std::string& v) {
         std::string text;
         std::string problem = ToCodePage("--command-line", v, text);
         if (problem.empty()) o.arguments = text;
         return problem;
       }},
      flag("--json", [&o] { o.json = true; }),
  };
}

ParsedOptions Fail(const std::string& error) {
  ParsedOptions result;
  result.error = error;
  return result;
}

}  // namespace

ParsedOptions ParseSimulatorOptions(const std::vector<std::string>& arguments) {
  ParsedOptions result;
  SimulatorOptions& options = result.options;
  const std::vector<OptionRule> rules = Rules(options);
  std::vector<std::string> packages;
  bool optionsEnded = false;

  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      packages.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      result.ok = true;
      result.help = true;
      return result;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionRule* rule = nullptr;
    for (const OptionRule& candidate : rules)
      if (Lower(candidate.name) == Lower(name)) rule = &candidate;
    if (!rule) return Fail("unknown option " + name + " (see --help)");

    std::string value;
    if (!rule->takesValue) {
      if (equals != std::string::npos) return Fail(std::string(rule->name) + " takes no value");
    } else if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size() && (arguments[i + 1].empty() || arguments[i + 1][0] != '-')) {
      value = arguments[++i];
    } else if (i + 1 == arguments.size()) {
      return Fail(std::string(rule->name) + " needs a value");
    } else {
      return Fail(std::string(rule->name) + " needs a value (write " + rule->name +
                  "=VALUE when the value begins with -)");
    }
    const std::string problem = rule->handle(value);
    if (!problem.empty()) return Fail(problem);
  }

  if (packages.empty()) return Fail("no package file given (see --help)");
  if (packages.size() > 1) return Fail("more than one package file given: " + packages[0] + " and " + packages[1]);
  options.packagePath = packages[0];

  if (options.loaderPath.empty()) {
    const size_t slash = options.packagePath.rfind('/');
    const std::string name = slash == std::string::npos ? options.packagePath : options.packagePath.substr(slash + 1);
    std::string converted, problem;
    if (name.empty()) return Fail("the package path " + options.packagePath + " names no file");
    if (!Utf8ToCodePage1252(name, converted, problem))
      return Fail("the package file's name " + problem + "; give the loader's path with --loader-path");
    options.loaderPath = "C:\\Downloads\\" + converted;
  }
  result.ok = true;
  return result;
}

std::string SimulatorHelpText() {
  return R"(Usage: loader-simulator PACKAGE [options]

Runs the setup loader's own code on PACKAGE (a loader file with its package
appended, read from disk) in a simulated Windows, and prints what the loader
would do there: the message box it shows, or the setup program it starts.
Nothing is written to disk. Exit code: 0 whenever the run was simulated,
whatever the loader did; 1 when the package cannot be read; 2 for a bad
option.

Options take their value after "=" (also a value that begins with "-", as
in --command-line=-x) or as the next argument when that does not begin with
"-". Later options override earlier ones; --map and --exists add up. Text is
UTF-8 and reaches the loader in code page 1252; a character that 1252 lacks
is an error.

The Windows
  --windows=MAJOR.MINOR      the version GetVersionExA reports (default 10.0,
                             which Windows 11 reports too): 4.0 Windows 95 or
                             NT 4, 4.10 98, 4.90 ME, 5.0 2000, 5.1 XP, 6.0
                             Vista, 6.1 7, 6.2 8, 6.3 8.1, 10.0 10
  --platform-id=N            dwPlatformId (default 2, the NT family; give 1 for
                             Windows 95, 98 and ME)
  --version-query-fails      the run's version query fails
  --service-pack=N           wServicePackMajor of the second version query,
                             made on Windows 2000 only (default 0: none)
  --no-service-pack-query    that second query fails
  --release-id=TEXT          the ReleaseId registry value, stored as a text
                             with its NUL (default 2009, which Windows 10 20H2
                             and later keep there)
  --release-id-hex=HEX       the ReleaseId value as raw bytes, e.g. 3139303300
  --no-release-id            no ReleaseId value
  --wow64, --no-wow64        64-bit Windows or not (default: 64-bit for
                             version 6.0 and later, 32-bit before)
  --no-IsWow64Process        IsWow64Process is missing (counts as 32-bit)
  --admin, --no-admin        member of Administrators or not (default: not,
                             which is what a program started without
                             elevation sees under UAC, even for an
                             administrator's account)
  --no-CheckTokenMembership  CheckTokenMembership is missing (counts as not a
                             member)

Files and the start
  --loader-path=PATH         the loader's full path (default C:\Downloads\ and
                             the package file's name); the process's current
                             folder is the loader's folder
  --command-line=TEXT        the arguments exactly as typed after the program
                             name (default none); the loader's command line is
                             its quoted path, a space, then TEXT
  --temp=PATH                what GetTempPathA reports (default
                             C:\Users\User\AppData\Local\Temp\); that folder
                             exists; --temp= (empty) makes it report nothing
  --map=X:=\\server\share    drive X: is a mapped network drive (repeatable)
  --exists=PATH              a file, or with a trailing backslash a folder,
                             that exists, with its parent folders (repeatable)

  The folders that exist besides: C:\, C:\Downloads\, C:\Temp\, C:\Work\,
  C:\Windows\system32\, the loader's folder and the temp folder. A folder
  named after /temp in --command-line exists only when --exists makes it;
  otherwise the copy fails with TempCopyFailed, as it does on Windows: add
  --exists=D:\Scratch\ to try "/temp D:\Scratch". A file that --exists puts
  under the loader's name in the copy's folder makes the copy take a numbered
  name (setup2.exe), as does "/temp" alone, whose folder holds the loader.

Faults
  --open-fails               the loader cannot open its own file (held open for
                             writing elsewhere)
  --create-fails             the temporary copy cannot be created
  --write-short              the disk is full: writing the copy writes nothing
  --start-fails              CreateProcessA and ShellExecuteExA fail (a
                             restriction policy, a declined elevation prompt)

Output
  --json                     one JSON object instead of text
  -h, --help                 this text

The outcome is "launch" (the setup program is started), "fatal" (one of the
loader's own four errors: PackageDamaged, PackageTruncated, TempCopyFailed,
LaunchFailed), "message" (the package refuses this Windows with its own
text), or, rarely, "ended" (the process ended silently, as the loader does
when the heap refuses memory).

JSON fields: outcome; for "fatal": error (the name above), text and caption;
for "message": text and caption; for "launch": payload ("32" or "64"),
temporary_copy, road ("direct" or "shell"), command_line and
current_directory (direct), verb and parameters (shell), and wait (false when
the package is detached: the loader neither waits nor deletes the copy).
Strings are the Unicode of their code page 1252 bytes.
)";
}

}  // namespace simulator
