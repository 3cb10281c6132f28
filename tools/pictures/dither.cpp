// First stage of the reduction to the 3-3-2 table: error diffusion
// (Floyd-Steinberg, rows alternating in direction) done channel by channel in
// level steps. A channel's value is measured as its position among the
// table's levels, linear in light between two neighbouring levels, so a
// mixture of two neighbouring levels keeps the light it stands for, while an
// error counts by how many level steps it is, as the eye, not the light meter,
// counts it. Carried in light instead, the error of a dark area comes out as
// rare bright dots; carried in the encoded values, mixtures come out too light.
#include <cmath>

#include "picture.h"

namespace pictures {

namespace {

// How far the carried error may take a value beyond the first or last level:
// far enough that colours at the edge of the range keep their light, not so
// far that a long run out of reach piles up error that then spills over.
constexpr double kCarryLimit = 1.0;

double Clamp(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }

}  // namespace

std::array<double, 8> ChannelLevels(int channel) {
  const auto palette = UniformPalette();
  std::array<double, 8> levels{};
  for (int k = 0; k < LevelCount(channel); ++k) {
    const Rgb8 &c = palette[channel == 0 ? k << 5 : channel == 1 ? k << 2 : k];
    levels[k] = SrgbToLinear((channel == 0 ? c.r : channel == 1 ? c.g : c.b) / 255.0);
  }
  return levels;
}

double LevelPosition(const std::array<double, 8> &levels, int count, double linear) {
  int k = 0;
  while (k + 2 < count && levels[k + 1] <= linear) ++k;
  return Clamp(k + (linear - levels[k]) / (levels[k + 1] - levels[k]), 0, count - 1);
}

IndexedImage DiffuseToPalette(const RgbImage &image) {
  const int w = image.width, h = image.height;
  const std::vector<double> light = ToLinear(image);
  std::vector<double> position(light.size());
  for (int c = 0; c < 3; ++c) {
    const auto levels = ChannelLevels(c);
    for (size_t i = c; i < light.size(); i += 3) position[i] = LevelPosition(levels, LevelCount(c), light[i]);
  }
  IndexedImage result{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y) {
    const int step = (y & 1) ? -1 : 1;
    for (int i = 0; i < w; ++i) {
      const int x = step > 0 ? i : w - 1 - i;
      int level[3];
      for (int c = 0; c < 3; ++c) {
        const double want = position[(static_cast<size_t>(y) * w + x) * 3 + c];
        level[c] = static_cast<int>(std::lround(Clamp(want, 0, LevelCount(c) - 1)));
        const double error = Clamp(want - level[c], -kCarryLimit, kCarryLimit);
        // Floyd-Steinberg weights, mirrored on leftward rows.
        auto spread = [&](int dx, int dy, double weight) {
          const int nx = x + dx * step, ny = y + dy;
          if (nx >= 0 && nx < w && ny < h) position[(static_cast<size_t>(ny) * w + nx) * 3 + c] += error * weight;
        };
        spread(1, 0, 7.0 / 16);
        spread(-1, 1, 3.0 / 16);
        spread(0, 1, 5.0 / 16);
        spread(1, 1, 1.0 / 16);
      }
      result.indices[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(EntryOf(level[0], level[1], level[2]));
    }
  }
  return result;
}

}  // namespace pictures
