// S-CIELAB (Zhang and Wandell, 1996): the colour difference of two pictures
// as an eye at a given distance sees them. Both pictures go to three opponent
// channels (one of light, red-green, blue-yellow), each channel is blurred
// by its own sum of Gaussians, the result goes back to XYZ and to CIELAB, and
// the figure is the mean CIE76 difference over the pixels.
#include <cmath>

#include "picture.h"

namespace pictures {

const std::array<OpponentChannel, 3> kOpponentChannels = {{
    {{0.279, 0.72, -0.107}, {{1.00327, 0.05}, {0.114416, 0.225}, {-0.117686, 7.0}}},
    {{-0.449, 0.29, -0.077}, {{0.616725, 0.0685}, {0.383275, 0.826}}},
    {{0.086, -0.59, 0.501}, {{0.567885, 0.0920}, {0.432115, 0.6451}}},
}};

std::vector<double> GaussianKernel(double spreadPixels) {
  const int radius = static_cast<int>(std::ceil(3 * spreadPixels));
  std::vector<double> kernel(2 * radius + 1);
  double sum = 0;
  for (int k = -radius; k <= radius; ++k)
    sum += kernel[k + radius] = std::exp(-(k / spreadPixels) * (k / spreadPixels));
  for (double &v : kernel) v /= sum;
  return kernel;
}

Opponent ToOpponent(const Xyz &xyz) {
  Opponent o;
  for (int c = 0; c < 3; ++c) {
    const double *row = kOpponentChannels[c].fromXyz;
    o[c] = row[0] * xyz.x + row[1] * xyz.y + row[2] * xyz.z;
  }
  return o;
}

Xyz FromOpponent(const Opponent &o) {
  // The inverse of the 3x3 matrix of the channels, by cofactors, made once.
  static const auto inverse = [] {
    double a[3][3];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) a[r][c] = kOpponentChannels[r].fromXyz[c];
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    std::array<std::array<double, 3>, 3> inv{};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        inv[c][r] = (a[(r + 1) % 3][(c + 1) % 3] * a[(r + 2) % 3][(c + 2) % 3] -
                     a[(r + 1) % 3][(c + 2) % 3] * a[(r + 2) % 3][(c + 1) % 3]) / det;
    return inv;
  }();
  double v[3];
  for (int r = 0; r < 3; ++r) v[r] = inverse[r][0] * o[0] + inverse[r][1] * o[1] + inverse[r][2] * o[2];
  return {v[0], v[1], v[2]};
}

namespace {

// The weights with which pixel i of a line of n takes source pixels lo..
struct Taps {
  int lo = 0;
  std::vector<double> weights;
};

// The Gaussian along a line of n pixels whose ends mirror (..., 1, 0, 0, 1,
// ..., n-1, n-1, n-2, ...), so that a field of one colour stays that colour
// however wide the Gaussian.
std::vector<Taps> LineTaps(int n, double spreadPixels) {
  const std::vector<double> kernel = GaussianKernel(spreadPixels);
  const int radius = static_cast<int>(kernel.size() / 2);
  std::vector<Taps> lines(n);
  std::vector<double> folded(n);
  for (int i = 0; i < n; ++i) {
    std::fill(folded.begin(), folded.end(), 0.0);
    for (int k = -radius; k <= radius; ++k) {
      int j = (i + k) % (2 * n);
      if (j < 0) j += 2 * n;
      if (j >= n) j = 2 * n - 1 - j;
      folded[j] += kernel[k + radius];
    }
    int lo = 0, hi = n - 1;
    while (folded[lo] == 0) ++lo;
    while (folded[hi] == 0) --hi;
    lines[i].lo = lo;
    lines[i].weights.assign(folded.begin() + lo, folded.begin() + hi + 1);
  }
  return lines;
}

// One plane of width x height, blurred by the Gaussian, rows then columns.
std::vector<double> Blur(const std::vector<double> &plane, int width, int height, double spreadPixels) {
  const std::vector<Taps> across = LineTaps(width, spreadPixels), down = LineTaps(height, spreadPixels);
  std::vector<double> rows(plane.size()), result(plane.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Taps &t = across[x];
      const double *in = &plane[static_cast<size_t>(y) * width + t.lo];
      double v = 0;
      for (size_t k = 0; k < t.weights.size(); ++k) v += t.weights[k] * in[k];
      rows[static_cast<size_t>(y) * width + x] = v;
    }
  for (int y = 0; y < height; ++y) {
    const Taps &t = down[y];
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (size_t k = 0; k < t.weights.size(); ++k)
        v += t.weights[k] * rows[static_cast<size_t>(t.lo + k) * width + x];
      result[static_cast<size_t>(y) * width + x] = v;
    }
  }
  return result;
}

}  // namespace

std::vector<double> SeenXyz(const std::vector<double> &linear, int width, int height, double pixelsPerDegree) {
  const size_t pixels = static_cast<size_t>(width) * height;
  std::array<std::vector<double>, 3> seen;
  for (int c = 0; c < 3; ++c) {
    std::vector<double> opponent(pixels);
    for (size_t i = 0; i < pixels; ++i)
      opponent[i] = ToOpponent(LinearToXyz(linear[i * 3], linear[i * 3 + 1], linear[i * 3 + 2]))[c];
    seen[c].assign(pixels, 0.0);
    for (const SpreadGaussian &g : kOpponentChannels[c].gaussians) {
      const std::vector<double> blurred = Blur(opponent, width, height, g.spread * pixelsPerDegree);
      for (size_t i = 0; i < pixels; ++i) seen[c][i] += g.weight * blurred[i];
    }
  }
  std::vector<double> xyz(pixels * 3);
  for (size_t i = 0; i < pixels; ++i) {
    const Xyz v = FromOpponent({seen[0][i], seen[1][i], seen[2][i]});
    xyz[i * 3] = v.x;
    xyz[i * 3 + 1] = v.y;
    xyz[i * 3 + 2] = v.z;
  }
  return xyz;
}

double ScielabDifference(const std::vector<double> &reference, const std::vector<double> &candidate, int width,
                         int height, double pixelsPerDegree) {
  const std::vector<double> a = SeenXyz(reference, width, height, pixelsPerDegree);
  const std::vector<double> b = SeenXyz(candidate, width, height, pixelsPerDegree);
  const size_t pixels = static_cast<size_t>(width) * height;
  double total = 0;
  for (size_t i = 0; i < pixels; ++i) {
    const Lab p = XyzToLab({a[i * 3], a[i * 3 + 1], a[i * 3 + 2]});
    const Lab q = XyzToLab({b[i * 3], b[i * 3 + 1], b[i * 3 + 2]});
    total += std::sqrt((p.l - q.l) * (p.l - q.l) + (p.a - q.a) * (p.a - q.a) + (p.b - q.b) * (p.b - q.b));
  }
  return pixels ? total / pixels : 0;
}

}  // namespace pictures
