// Draws Volmo's icon and writes it as a Windows .ico file: one 32x32 image in 16 colours
// (4 bits a pixel, one plane) with its transparency mask, 744 bytes of image data.
//   make_icon OUTPUT.ico          writes the icon
//   make_icon --check FILE.ico    exits 0 when FILE.ico is exactly what it would write
// The picture: a navy tile with rounded corners holding a process list (white rows with green
// bullets), the last row struck through in red.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const int SIZE = 32;
enum Colour { BLACK = 0, GREEN = 2, NAVY = 4, GREY = 7, RED = 9, WHITE = 15 };

// The standard 16-colour palette, as blue, green, red.
const std::uint8_t PALETTE[16][3] = {
    {0, 0, 0},     {0, 0, 128},     {0, 128, 0},     {0, 128, 128},  {128, 0, 0}, {128, 0, 128},
    {128, 128, 0}, {192, 192, 192}, {128, 128, 128}, {0, 0, 255},    {0, 255, 0}, {0, 255, 255},
    {255, 0, 0},   {255, 0, 255},   {255, 255, 0},   {255, 255, 255}};

struct Picture {
  int colour[SIZE][SIZE];  // [y][x], y = 0 at the top
  bool opaque[SIZE][SIZE];
};

void Fill(Picture& p, int x0, int y0, int x1, int y1, int colour) {
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      p.colour[y][x] = colour;
      p.opaque[y][x] = true;
    }
  }
}

Picture Draw() {
  Picture p;
  std::memset(&p, 0, sizeof(p));
  // The tile, with its corners cut round.
  Fill(p, 1, 1, 30, 30, NAVY);
  const int corner[3] = {3, 1, 1};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < corner[i]; ++k) {
      for (int y : {1 + i, 30 - i}) {
        for (int x : {1 + k, 30 - k}) p.opaque[y][x] = false;
      }
    }
  }
  // Three rows of the list: a bullet and a bar each.
  for (int row = 0; row < 3; ++row) {
    int top = 7 + row * 7;
    Fill(p, 6, top, 8, top + 2, GREEN);
    Fill(p, 11, top, 25, top + 2, row == 2 ? GREY : WHITE);
  }
  // The last row struck through: it is the one being killed.
  for (int x = 9; x <= 27; ++x) {
    int y = 24 - (x - 9) / 4;
    p.colour[y][x] = RED;
    p.colour[y + 1][x] = RED;
  }
  return p;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(value & 0xFF);
  out.push_back((value >> 8) & 0xFF);
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}

std::vector<std::uint8_t> EncodeIcon(const Picture& p) {
  const std::uint32_t image_bytes = 40 + 16 * 4 + SIZE * SIZE / 2 + SIZE * SIZE / 8;  // 744
  std::vector<std::uint8_t> out;
  PutWord(out, 0);  // icon directory: reserved, type 1 (icon), one image
  PutWord(out, 1);
  PutWord(out, 1);
  out.push_back(SIZE);  // directory entry: 32x32, 16 colours, 1 plane, 4 bits
  out.push_back(SIZE);
  out.push_back(16);
  out.push_back(0);
  PutWord(out, 1);
  PutWord(out, 4);
  PutDword(out, image_bytes);
  PutDword(out, 22);  // the image follows the 6 + 16 bytes of directory

  PutDword(out, 40);  // BITMAPINFOHEADER; the height counts the colour image and the mask
  PutDword(out, SIZE);
  PutDword(out, 2 * SIZE);
  PutWord(out, 1);
  PutWord(out, 4);
  PutDword(out, 0);
  PutDword(out, SIZE * SIZE / 2 + SIZE * SIZE / 8);
  for (int i = 0; i < 4; ++i) PutDword(out, 0);
  for (const auto& c : PALETTE) {
    out.push_back(c[0]);
    out.push_back(c[1]);
    out.push_back(c[2]);
    out.push_back(0);
  }
  for (int y = SIZE - 1; y >= 0; --y) {  // rows bottom up, two pixels a byte
    for (int x = 0; x < SIZE; x += 2) {
      int left = p.opaque[y][x] ? p.colour[y][x] : BLACK;
      int right = p.opaque[y][x + 1] ? p.colour[y][x + 1] : BLACK;
      out.push_back(static_cast<std::uint8_t>((left << 4) | right));
    }
  }
  for (int y = SIZE - 1; y >= 0; --y) {  // the mask: 1 where the picture is transparent
    for (int x = 0; x < SIZE; x += 8) {
      std::uint8_t bits = 0;
      for (int b = 0; b < 8; ++b) bits |= (p.opaque[y][x + b] ? 0 : 1) << (7 - b);
      out.push_back(bits);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::uint8_t> icon = EncodeIcon(Draw());
  if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
    std::FILE* in = std::fopen(argv[2], "rb");
    if (in == nullptr) return 1;
    std::vector<std::uint8_t> existing(icon.size() + 1);
    size_t n = std::fread(existing.data(), 1, existing.size(), in);
    std::fclose(in);
    bool same = n == icon.size() && std::memcmp(existing.data(), icon.data(), n) == 0;
    if (!same)
      std::fprintf(stderr, "%s is not what make_icon draws: run make_icon again\n", argv[2]);
    return same ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.ico | make_icon --check FILE.ico\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  std::fwrite(icon.data(), 1, icon.size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}
