// skinquant: the skin writer's path for a photograph, and the error measure
// the palette comparison uses.
//
//   skinquant write IN.ppm OUT.bmp   reads a binary PPM (P6, 8 bits) into a
//                                    24-bit engine bitmap and writes it as
//                                    the 8-bit skin BMP the editor exchanges
//                                    (palette built while locking, pixels
//                                    mapped); prints "ms N" for the write
//   skinquant mse A.ppm B.ppm        prints the mean squared error per pixel
//                                    between two images of one size, summed
//                                    over red, green and blue
//
// Exit status 0 on success, 1 when a file cannot be read or written, 2 on
// wrong usage.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "bitmapwriter.h"

namespace {

struct Image {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
};

// Skips blanks and '#' comments between header fields.
int NextToken(FILE* File) {
  int c = std::fgetc(File);
  while (c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
    if (c == '#')
      while (c != '\n' && c != EOF) c = std::fgetc(File);
    c = std::fgetc(File);
  }
  return c;
}

bool ReadNumber(FILE* File, int32_t* Out) {
  int c = NextToken(File);
  int64_t value = 0;
  if (c < '0' || c > '9') return false;
  for (; c >= '0' && c <= '9'; c = std::fgetc(File)) {
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  *Out = (int32_t)value;
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';  // one blank ends the field
}

bool ReadPpm(const char* Path, Image* Out) {
  FILE* file = std::fopen(Path, "rb");
  if (!file) return false;
  int32_t maximum = 0;
  const bool header = std::fgetc(file) == 'P' && std::fgetc(file) == '6' && ReadNumber(file, &Out->Width) &&
                      ReadNumber(file, &Out->Height) && ReadNumber(file, &maximum) && maximum == 255 &&
                      Out->Width > 0 && Out->Height > 0;
  if (header) Out->Rgb.resize((size_t)Out->Width * Out->Height * 3);
  const bool ok = header && std::fread(Out->Rgb.data(), 1, Out->Rgb.size(), file) == Out->Rgb.size();
  std::fclose(file);
  return ok;
}

int Write(const char* In, const char* Out) {
  Image image;
  if (!ReadPpm(In, &image)) {
    std::fprintf(stderr, "skinquant: %s is not an 8-bit binary PPM\n", In);
    return 1;
  }
  cvBitmap* bitmap = cvBitmap_Create(image.Width, image.Height, 1, CV_PIXELFORMAT_24BIT_RGB);
  uint8_t* pixels = bitmap ? cvBitmap_AllocateMip(bitmap, 0) : nullptr;
  if (!pixels) {
    std::fprintf(stderr, "skinquant: out of memory\n");
    return 1;
  }
  // The 24-bit format keeps red in the first byte of each pixel, as PPM does.
  std::memcpy(pixels, image.Rgb.data(), image.Rgb.size());
  cvBitmap_SetMipValid(bitmap, 0, 1);
  const auto start = std::chrono::steady_clock::now();
  const bool written = BitmapWriter().Write(bitmap, Out);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  cvBitmap_Destroy(&bitmap);
  if (!written) {
    std::fprintf(stderr, "skinquant: %s could not be written\n", Out);
    return 1;
  }
  std::printf("ms %.1f\n", ms);
  return 0;
}

int Mse(const char* A, const char* B) {
  Image a, b;
  if (!ReadPpm(A, &a) || !ReadPpm(B, &b)) {
    std::fprintf(stderr, "skinquant: the images must be 8-bit binary PPMs\n");
    return 1;
  }
  if (a.Width != b.Width || a.Height != b.Height) {
    std::fprintf(stderr, "skinquant: the images differ in size\n");
    return 1;
  }
  uint64_t sum = 0;
  for (size_t i = 0; i < a.Rgb.size(); ++i) {
    const int32_t d = (int32_t)a.Rgb[i] - (int32_t)b.Rgb[i];
    sum += (uint64_t)(d * d);
  }
  std::printf("%.2f\n", (double)sum / ((double)a.Width * a.Height));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !std::strcmp(argv[1], "write")) return Write(argv[2], argv[3]);
  if (argc == 4 && !std::strcmp(argv[1], "mse")) return Mse(argv[2], argv[3]);
  std::fprintf(stderr, "usage: skinquant write IN.ppm OUT.bmp | skinquant mse A.ppm B.ppm\n");
  return 2;
}
