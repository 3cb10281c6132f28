// Colour arithmetic of the converter: the 3-3-2 table, sRGB and linear light,
// CIELAB, and the blurred colour difference used to judge a reduction.
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

double LabF(double t) {
  constexpr double kEpsilon = 216.0 / 24389.0;
  constexpr double kKappa = 24389.0 / 27.0;
  return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
}

}  // namespace

Lab LinearToLab(double r, double g, double b) {
  // sRGB primaries, D65 white.
  double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
  double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
  double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
  double fx = LabF(x), fy = LabF(y), fz = LabF(z);
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

std::vector<double> GaussianBlur(const std::vector<double> &plane, int width, int height,
                                 double sigma) {
  const int radius = static_cast<int>(std::ceil(3 * sigma));
  std::vector<double> kernel(2 * radius + 1);
  double sum = 0;
  for (int k = -radius; k <= radius; ++k) sum += kernel[k + radius] = std::exp(-k * k / (2 * sigma * sigma));
  for (double &w : kernel) w /= sum;

  auto clampTo = [](int v, int limit) { return v < 0 ? 0 : (v >= limit ? limit - 1 : v); };
  std::vector<double> across(plane.size()), result(plane.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int k = -radius; k <= radius; ++k)
          v += kernel[k + radius] * plane[(static_cast<size_t>(y) * width + clampTo(x + k, width)) * 3 + c];
        across[(static_cast<size_t>(y) * width + x) * 3 + c] = v;
      }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        for (int k = -radius; k <= radius; ++k)
          v += kernel[k + radius] * across[(static_cast<size_t>(clampTo(y + k, height)) * width + x) * 3 + c];
        result[(static_cast<size_t>(y) * width + x) * 3 + c] = v;
      }
  return result;
}

double MeanDeltaE(const std::vector<double> &a, const std::vector<double> &b) {
  const size_t pixels = a.size() / 3;
  double total = 0;
  for (size_t i = 0; i < pixels; ++i) {
    Lab p = LinearToLab(a[i * 3], a[i * 3 + 1], a[i * 3 + 2]);
    Lab q = LinearToLab(b[i * 3], b[i * 3 + 1], b[i * 3 + 2]);
    total += std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b));
  }
  return pixels ? total / pixels : 0;
}

double BlurredDeltaE(const std::vector<double> &reference, const std::vector<double> &candidate,
                     int width, int height) {
  return MeanDeltaE(GaussianBlur(reference, width, height, 1.0),
                    GaussianBlur(candidate, width, height, 1.0));
}

}  // namespace pictures
