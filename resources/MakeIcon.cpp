// Draws the loader's icon, a package with an arrow into it, as a 16-colour
// .ico with one 32x32 image. Every Windows from 95 on draws 4-bit icons with
// an AND mask, and scales the 32x32 image for its small icons: a 16x16 image
// of its own would add some 360 bytes to every download (image, directory
// entries), which is what pushed the resources over a file-alignment unit.
//
// The result is kept in the tree as resources/loader.ico; remake it with
//   g++ -std=c++17 -o /tmp/make-icon resources/MakeIcon.cpp && /tmp/make-icon resources/loader.ico
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// The standard 16-colour palette, as red, green, blue.
const uint8_t kPalette[16][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};
enum Colour : uint8_t { kBlack = 0, kNavy = 4, kTeal = 6, kBlue = 12, kYellow = 11, kTransparent = 0xFF };

// The picture in unit coordinates (0..1, y downwards): which colour covers a point.
uint8_t PaintAt(double u, double v) {
  // The arrow, pointing down into the package.
  const bool shaft = u >= 0.40 && u <= 0.60 && v >= 0.03 && v <= 0.50;
  const double headHalfWidth = 0.26 * (0.80 - v) / (0.80 - 0.46);
  const bool head = v >= 0.46 && v <= 0.80 && u >= 0.5 - headHalfWidth && u <= 0.5 + headHalfWidth;
  if (shaft || head) return kYellow;
  // The package: lid band and body.
  if (u >= 0.06 && u <= 0.94 && v >= 0.38 && v <= 0.52) return kTeal;
  if (u >= 0.10 && u <= 0.90 && v > 0.52 && v <= 0.95) return (u < 0.5) ? kBlue : kNavy;
  return kTransparent;
}

struct Image {
  int size;
  std::vector<uint8_t> pixels;  // top-down, one palette index or kTransparent each
};

Image Draw(int size) {
  Image image{size, std::vector<uint8_t>(size * size)};
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) image.pixels[y * size + x] = PaintAt((x + 0.5) / size, (y + 0.5) / size);
  // A black outline wherever a painted pixel meets another colour or the edge.
  std::vector<uint8_t> outlined = image.pixels;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const uint8_t here = image.pixels[y * size + x];
      if (here == kTransparent) continue;
      const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
      for (const auto& n : neighbours) {
        const bool outside = n[0] < 0 || n[1] < 0 || n[0] >= size || n[1] >= size;
        const uint8_t there = outside ? uint8_t{kTransparent} : image.pixels[n[1] * size + n[0]];
        const bool sameShape = there == here || (here != kYellow && there != kYellow && there != kTransparent);
        if (!sameShape) outlined[y * size + x] = kBlack;
      }
    }
  }
  image.pixels = outlined;
  return image;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows, 1-bit mask
// rows, both bottom-up with rows padded to 4 bytes.
std::vector<uint8_t> Encode(const Image& image) {
  const int n = image.size;
  const int colourRow = ((n * 4 + 31) / 32) * 4;
  const int maskRow = ((n + 31) / 32) * 4;
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, n);
  Put32(out, n * 2);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);
  Put32(out, (colourRow + maskRow) * n);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (const auto& c : kPalette) {
    out.push_back(c[2]);
    out.push_back(c[1]);
    out.push_back(c[0]);
    out.push_back(0);
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(colourRow, 0);
    for (int x = 0; x < n; ++x) {
      uint8_t p = image.pixels[y * n + x];
      if (p == kTransparent) p = kBlack;
      row[x / 2] |= (x % 2 == 0) ? (p << 4) : p;
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskRow, 0);
    for (int x = 0; x < n; ++x)
      if (image.pixels[y * n + x] == kTransparent) row[x / 8] |= 0x80 >> (x % 8);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-icon OUTPUT.ico\n");
    return 2;
  }
  const std::vector<uint8_t> images[] = {Encode(Draw(32))};
  const int sizes[] = {32};
  constexpr int kImages = 1;
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, kImages);
  uint32_t offset = 6 + 16 * kImages;
  for (int i = 0; i < kImages; ++i) {
    out.push_back(sizes[i]);
    out.push_back(sizes[i]);
    out.push_back(16);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, images[i].size());
    Put32(out, offset);
    offset += images[i].size();
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr || std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
