// pe-layout IMAGE: the post-link step of the loader's stub. Moves the PE
// headers to offset 256 so that the package locator slot (128 to 151) and the
// rest up to 255 are free and zero, then checks the result. Exit code 0 when
// the image has the layout, 1 with a message otherwise.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "StubLayout.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pe-layout IMAGE\n");
    return 2;
  }
  const std::string path = argv[1];
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    std::fprintf(stderr, "pe-layout: cannot read %s\n", path.c_str());
    return 1;
  }
  std::string error;
  if (!pe::MoveHeadersTo256(bytes, error)) {
    std::fprintf(stderr, "pe-layout: %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "pe-layout: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}
