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
struct Xyz {
  double x, y, z;
};
Xyz LinearToXyz(double r, double g, double b);
Lab XyzToLab(const Xyz &xyz);  // against the D65 white
// Slope of CIELAB's cube-root function f(t), whose values make L*, a*, b*.
double LabFSlope(double t);
// Linear-light copy of an image, three doubles a pixel.
std::vector<double> ToLinear(const RgbImage &image);
std::vector<double> ToLinear(const IndexedImage &image);
// Mean luminance Y of a linear-light plane.
double MeanLight(const std::vector<double> &plane);

// S-CIELAB (scielab.cpp): each opponent channel is a row of the matrix from
// XYZ and a sum of Gaussians exp(-(x / s)^2), s = spread x pixels per degree.
struct SpreadGaussian {
  double weight, spread;  // spread in degrees of visual angle
};
struct OpponentChannel {
  double fromXyz[3];
  std::vector<SpreadGaussian> gaussians;
};
extern const std::array<OpponentChannel, 3> kOpponentChannels;
using Opponent = std::array<double, 3>;
Opponent ToOpponent(const Xyz &xyz);
Xyz FromOpponent(const Opponent &opponent);
// exp(-(x / s)^2) at x = -r..r, r = ceil(3 s), scaled to sum 1.
std::vector<double> GaussianKernel(double spreadPixels);
// A linear-light plane as the eye sees it at the given number of pixels per
// degree of visual angle, in XYZ (three a pixel); the picture's edges mirror.
std::vector<double> SeenXyz(const std::vector<double> &linear, int width, int height, double pixelsPerDegree);
// Mean CIE76 difference of two linear-light planes as the eye sees them.
double ScielabDifference(const std::vector<double> &reference, const std::vector<double> &candidate, int width,
                         int height, double pixelsPerDegree);

// The table's levels: 8 of red and green, 4 of blue; entry = r << 5 | g << 2 | b.
inline int LevelCount(int channel) { return channel == 2 ? 4 : 8; }
inline int EntryOf(int r, int g, int b) { return (r << 5) | (g << 2) | b; }
inline int LevelOf(int entry, int channel) { return channel == 0 ? entry >> 5 : channel == 1 ? (entry >> 2) & 7 : entry & 3; }

// Reduction to the 3-3-2 table: error diffusion in level steps (dither.cpp),
// then a search for the picture closest to the source as the eye sees it
// (search.cpp).
std::array<double, 8> ChannelLevels(int channel);  // linear light of each level
// Where a linear value lies among a channel's levels: 2.5 is halfway in light
// between the third and fourth levels; 0 .. count - 1.
double LevelPosition(const std::array<double, 8> &levels, int count, double linear);
IndexedImage DiffuseToPalette(const RgbImage &image);
IndexedImage SearchForTheEye(const RgbImage &image, const IndexedImage &start);
IndexedImage ReduceToPalette(const RgbImage &image);  // both stages

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
