// Names of the SupportedSystems elements, as the package builder's command
// line and its inspector write them.
#include <string>

#include "package/StubTypes.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagewriter {
namespace {

struct NamedElement {
  const char* name;
  int element;
};

constexpr NamedElement kElements[] = {
    {"95", loader::Windows95},       {"98", loader::Windows98},     {"me", loader::WindowsME},
    {"nt4", loader::WindowsNT4},     {"2000", loader::Windows2000}, {"xp", loader::WindowsXP},
    {"vista", loader::WindowsVista}, {"7", loader::Windows7},       {"8", loader::Windows8},
    {"8.1", loader::Windows81},      {"10", loader::Windows10},     {"later", loader::LaterWindows},
};

}  // namespace

int SystemElement(const std::string& name) {
  for (const NamedElement& e : kElements)
    if (name == e.name) return e.element;
  return -1;
}

std::string SystemElementName(int element) {
  for (const NamedElement& e : kElements)
    if (element == e.element) return e.name;
  return "";
}

}  // namespace packagewriter
