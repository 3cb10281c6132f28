// Reduction of a true-colour picture to the 3-3-2 table. The error is carried
// in linear light, so that what the eye averages over a few pixels keeps the
// source's brightness; each pixel takes the table entry nearest in CIELAB
// among the eight that bracket its wanted colour; rows alternate direction
// (serpentine) so that the error does not drift one way.
#include <cmath>

#include "picture.h"

namespace pictures {

namespace {

struct Table {
  std::array<double, 8> redGreenLevels;  // linear light of the 8 red and green levels
  std::array<double, 4> blueLevels;      // linear light of the 4 blue levels
  std::array<Lab, 256> lab;              // each entry in CIELAB
};

Table MakeTable() {
  Table table{};
  const auto palette = UniformPalette();
  for (int k = 0; k < 8; ++k) table.redGreenLevels[k] = SrgbToLinear(palette[k << 5].r / 255.0);
  for (int k = 0; k < 4; ++k) table.blueLevels[k] = SrgbToLinear(palette[k].b / 255.0);
  for (int i = 0; i < 256; ++i)
    table.lab[i] = LinearToLab(table.redGreenLevels[i >> 5], table.redGreenLevels[(i >> 2) & 7],
                               table.blueLevels[i & 3]);
  return table;
}

// Index of the highest level not above v (levels ascend from 0).
template <size_t N>
int LevelBelow(const std::array<double, N> &levels, double v) {
  int k = 0;
  while (k + 1 < static_cast<int>(N) && levels[k + 1] <= v) ++k;
  return k;
}

double Clamp(double v, double low, double high) { return v < low ? low : (v > high ? high : v); }
double Clamp01(double v) { return Clamp(v, 0, 1); }

// How far beyond 0..1 the carried error may push a wanted colour: far enough
// that colours near the edge of the range (a saturated yellow) keep their
// average light, not so far that a long run of a colour out of reach piles up
// error that then spills into its neighbours.
constexpr double kCarryMargin = 0.25;

// The table entry nearest in CIELAB to a linear colour, among the entries
// whose levels bracket it on each channel.
int NearestEntry(const Table &table, double r, double g, double b) {
  const int r0 = LevelBelow(table.redGreenLevels, r), g0 = LevelBelow(table.redGreenLevels, g),
            b0 = LevelBelow(table.blueLevels, b);
  const Lab want = LinearToLab(r, g, b);
  int best = 0;
  double bestDistance = INFINITY;
  for (int dr = 0; dr <= 1; ++dr)
    for (int dg = 0; dg <= 1; ++dg)
      for (int db = 0; db <= 1; ++db) {
        const int ri = r0 + dr, gi = g0 + dg, bi = b0 + db;
        if (ri > 7 || gi > 7 || bi > 3) continue;
        const int index = (ri << 5) | (gi << 2) | bi;
        const Lab &c = table.lab[index];
        const double d = (c.l - want.l) * (c.l - want.l) + (c.a - want.a) * (c.a - want.a) +
                         (c.b - want.b) * (c.b - want.b);
        if (d < bestDistance) {
          bestDistance = d;
          best = index;
        }
      }
  return best;
}

}  // namespace

IndexedImage ReduceToPalette(const RgbImage &image) {
  const Table table = MakeTable();
  const int w = image.width, h = image.height;
  std::vector<double> light = ToLinear(image);
  IndexedImage result{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};

  for (int y = 0; y < h; ++y) {
    const bool leftward = (y & 1) != 0;
    const int step = leftward ? -1 : 1;
    for (int i = 0; i < w; ++i) {
      const int x = leftward ? w - 1 - i : i;
      double *p = &light[(static_cast<size_t>(y) * w + x) * 3];
      double want[3];
      for (int c = 0; c < 3; ++c) want[c] = Clamp(p[c], -kCarryMargin, 1 + kCarryMargin);
      const int index = NearestEntry(table, Clamp01(want[0]), Clamp01(want[1]), Clamp01(want[2]));
      result.indices[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(index);
      const double got[3] = {table.redGreenLevels[index >> 5], table.redGreenLevels[(index >> 2) & 7],
                             table.blueLevels[index & 3]};
      // Floyd-Steinberg weights, mirrored on leftward rows.
      for (int c = 0; c < 3; ++c) {
        const double error = want[c] - got[c];
        auto spread = [&](int dx, int dy, double weight) {
          const int nx = x + dx * step, ny = y + dy;
          if (nx < 0 || nx >= w || ny >= h) return;
          light[(static_cast<size_t>(ny) * w + nx) * 3 + c] += error * weight;
        };
        spread(1, 0, 7.0 / 16);
        spread(-1, 1, 3.0 / 16);
        spread(0, 1, 5.0 / 16);
        spread(1, 1, 1.0 / 16);
      }
    }
  }
  return result;
}

}  // namespace pictures
