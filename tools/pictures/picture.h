// The picture converter's shared types: a true-colour image, the uniform
// 3-3-2 colour table of the saver's pictures, and the stages that turn a
// scaled photograph into an 8-bit bitmap file and measure how close it is.
#ifndef VELLOMIRE_PICTURE_H
#define VELLOMIRE_PICTURE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pictures {

// Width of every picture, and the bytes each stored row takes (a multiple of 4).
constexpr int kWidth = 450;
constexpr int kRowBytes = 452;

// An image in sRGB, 16 bits per channel, rows top-down, pixels as R, G, B.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint16_t> samples;
};

// An image of colour-table indices, rows top-down.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> indices;
};

struct Rgb8 {
  uint8_t r, g, b;
};

// Entry i: red and green (i >> 5, (i >> 2) & 7) on 8 levels rounded to the
// nearest integer, blue (i & 3) on 4 levels of 85.
std::array<Rgb8, 256> UniformPalette();

// Colour handling (colour.cpp).
double SrgbToLinear(double encoded);  // both in 0..1
struct Lab {
  double l, a, b;
};
Lab LinearToLab(double r, double g, double b);
// Linear-light copy of an image, three doubles a pixel.
std::vector<double> ToLinear(const RgbImage &image);
std::vector<double> ToLinear(const IndexedImage &image);
// Separable Gaussian blur of a three-channel plane; edges repeat.
std::vector<double> GaussianBlur(const std::vector<double> &plane, int width, int height, double sigma);
// Mean CIE76 colour difference of two linear-light planes of the same size.
double MeanDeltaE(const std::vector<double> &a, const std::vector<double> &b);
// The quality figure: both images blurred in linear light with sigma 1, then
// the mean colour difference.
double BlurredDeltaE(const std::vector<double> &reference, const std::vector<double> &candidate,
                     int width, int height);

// Reduction to the 3-3-2 table by error diffusion (dither.cpp).
IndexedImage ReduceToPalette(const RgbImage &image);

// File formats (formats.cpp). Each returns false with a message in *error.
// The bitmap: file header, 40-byte info header, 256 table entries, rows
// bottom-up of kRowBytes. writeClrUsed selects 256 or 0 in biClrUsed.
std::vector<uint8_t> EncodeBitmap(const IndexedImage &image, bool writeClrUsed);
bool DecodeBitmap(const std::vector<uint8_t> &bytes, IndexedImage *image, std::string *error);
// Binary PPM (P6), 8 or 16 bits a sample.
bool DecodePpm(const std::vector<uint8_t> &bytes, RgbImage *image, std::string *error);
std::vector<uint8_t> EncodePpm(const RgbImage &image);
RgbImage PaletteImage(const IndexedImage &image);

bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);
// Writes beside the target and renames, so the target is whole or untouched.
bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string *error);

}  // namespace pictures

#endif
