// Colour arithmetic of the converter: the 3-3-2 table, sRGB and linear light,
// XYZ and CIELAB.
#include <cmath>

#include "picture.h"

namespace pictures {

std::array<Rgb8, 256> UniformPalette() {
  std::array<Rgb8, 256> table{};
  for (int i = 0; i < 256; ++i) {
    // (level * 255 + 3) / 7 is level * 255 / 7 rounded to the nearest integer.
    table[i].r = static_cast<uint8_t>(((i >> 5) * 255 + 3) / 7);
    table[i].g = static_cast<uint8_t>((((i >> 2) & 7) * 255 + 3) / 7);
    table[i].b = static_cast<uint8_t>((i & 3) * 85);
  }
  return table;
}

double SrgbToLinear(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

namespace {

constexpr double kEpsilon = 216.0 / 24389.0;
constexpr double kKappa = 24389.0 / 27.0;

double LabF(double t) { return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0; }

}  // namespace

double LabFSlope(double t) { return t > kEpsilon ? 1.0 / (3.0 * std::cbrt(t * t)) : kKappa / 116.0; }

Xyz LinearToXyz(double r, double g, double b) {
  // sRGB primaries; white (1, 1, 1) is D65 with Y = 1.
  return {0.4124564 * r + 0.3575761 * g + 0.1804375 * b, 0.2126729 * r + 0.7151522 * g + 0.0721750 * b,
          0.0193339 * r + 0.1191920 * g + 0.9503041 * b};
}

Lab XyzToLab(const Xyz &xyz) {
  const double fx = LabF(xyz.x / 0.95047), fy = LabF(xyz.y), fz = LabF(xyz.z / 1.08883);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}


std::vector<double> ToLinear(const RgbImage &image) {
  std::vector<double> table(65536);
  for (int v = 0; v < 65536; ++v) table[v] = SrgbToLinear(v / 65535.0);
  std::vector<double> plane(image.samples.size());
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = table[image.samples[i]];
  return plane;
}

std::vector<double> ToLinear(const IndexedImage &image) {
  const auto palette = UniformPalette();
  std::vector<double> plane(image.indices.size() * 3);
  for (size_t i = 0; i < image.indices.size(); ++i) {
    const Rgb8 &c = palette[image.indices[i]];
    plane[i * 3 + 0] = SrgbToLinear(c.r / 255.0);
    plane[i * 3 + 1] = SrgbToLinear(c.g / 255.0);
    plane[i * 3 + 2] = SrgbToLinear(c.b / 255.0);
  }
  return plane;
}

double MeanLight(const std::vector<double> &plane) {
  const size_t pixels = plane.size() / 3;
  double total = 0;
  for (size_t i = 0; i < pixels; ++i) total += LinearToXyz(plane[i * 3], plane[i * 3 + 1], plane[i * 3 + 2]).y;
  return pixels ? total / pixels : 0;
}

}  // namespace pictures
