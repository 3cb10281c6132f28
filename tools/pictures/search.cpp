// Second stage of the reduction to the 3-3-2 table: direct binary search
// (Analoui and Allebach, 1992) against the eye of S-CIELAB at 20 pixels per
// degree. Starting from the error-diffused picture, each pixel in turn tries
// the table entries open to it and swaps with each of its eight neighbours,
// and keeps the change that lowers most the error the eye would see; passes
// repeat until few pixels change.
//
// The error e = picture - source is taken in S-CIELAB's opponent channels;
// the eye sees channel c blurred, f_c = G_c * e_c with G_c the channel's sum
// of Gaussians, and the cost is the sum over pixels of f^T W f, where W is
// CIELAB's sensitivity (a quadratic form on opponent errors) at that pixel.
// With W taken at the changed pixel m, a change d of m alters the cost by
//   2 sum_cd d_c W_cd S_cd(m) + sum_cd d_c d_d W_cd K_cd(0),
// where K_cd = G_c * G_d and S_cd = K_cd * e_d. The nine planes S_cd are
// kept up to date as pixels change, so a trial costs a few multiplications.
//
// The eye of S-CIELAB barely sees colour that changes from pixel to pixel,
// and left to itself the search keeps the light even by mixing pixels of
// unlike hue (teal and purple in a dark blue sky, red and green on a brown
// wall), which a large pixel shows as colour speckle. Two terms are added to
// the cost. One is the colour beyond the source's hue, r = e_c - (o_c / o_1)
// e_1 for c the two colour channels and o the source, in a band of
// frequencies (a Gaussian of 0.7 pixels less one of 3), so that it counts
// speckle and not the colour of an area, and a pixel darker or lighter in
// the source's own hue costs nothing; it is weighted by W's part for the
// colour channels, taken at the changed pixel like the rest. The other is
// the light error under a Gaussian of 3 pixels, which keeps the light where
// the first term would rather take the nearest entry everywhere.
#include <cmath>
#include <cstddef>
#include <utility>

#include "picture.h"

namespace pictures {

namespace {

// The viewing distance the search serves: a pixel of a 14-inch 640x480
// screen at arm's length.
constexpr double kPixelsPerDegree = 20;
// Gaussians wider than this (degrees) are left out: only the light channel's
// 7-degree one, which lowers the weight of errors spread over the whole
// picture and would make every kernel as wide as the picture.
constexpr double kWidestSpread = 1.0;
// A kernel exp(-(r / s)^2) is cut at r = 2 s, where it is below 2 % of its peak.
constexpr double kKernelReach = 2.0;
// A pixel may take, in each channel, the levels within this many level steps
// of the source's position among the levels. Without a limit, light grey
// breaks into cyan and pink dots whose light matches; with only the two
// levels around the source, areas whose source sits near a level turn into
// patches.
constexpr double kLevelMargin = 0.5;
constexpr int kMostPasses = 10;
// The weight of the speckle term, the spreads (pixels) of its band, and the
// weight and spread of the light term. A speckle weight of 0.3 clears the
// blue sky further but raises the S-CIELAB figures by half and mottles other
// areas; 1 leaves patches and bright dots.
constexpr double kSpeckleWeight = 0.1;
constexpr double kSpeckleFine = 0.7, kSpeckleCoarse = 3.0;
constexpr double kLightWeight = 3.0, kLightSpread = 3.0;
constexpr size_t kStopOneIn = 1000;  // stop after a pass that changed fewer than 1 pixel in this many

struct Kernel {
  int radius = 0;
  std::vector<float> values;  // (2 radius + 1)^2, rows top-down
  double At(int dx, int dy) const {
    if (dx < -radius || dx > radius || dy < -radius || dy > radius) return 0;
    return values[static_cast<size_t>(dy + radius) * (2 * radius + 1) + dx + radius];
  }
};

// exp(-(x / s)^2) for |x| <= 2 s, scaled to sum 1.
std::vector<double> SpreadLine(double s) {
  const int r = static_cast<int>(std::ceil(kKernelReach * s));
  std::vector<double> line(2 * r + 1);
  double sum = 0;
  for (int k = -r; k <= r; ++k) sum += line[k + r] = std::exp(-(k / s) * (k / s));
  for (double &v : line) v /= sum;
  return line;
}

// The speckle term's kernel, H * H with H = G(fine) - G(coarse): the
// convolution of two Gaussians is the Gaussian whose squared spread is the
// sum of theirs.
Kernel SpeckleKernel() {
  const double fine = kSpeckleFine, coarse = kSpeckleCoarse;
  const std::pair<double, double> parts[] = {{1.0, std::sqrt(2.0) * fine},
                                             {-2.0, std::sqrt(fine * fine + coarse * coarse)},
                                             {1.0, std::sqrt(2.0) * coarse}};
  Kernel k;
  k.radius = static_cast<int>(SpreadLine(std::sqrt(2.0) * coarse).size() / 2);
  const int side = 2 * k.radius + 1;
  k.values.assign(static_cast<size_t>(side) * side, 0.0f);
  for (const auto &[weight, spread] : parts) {
    const std::vector<double> line = SpreadLine(spread);
    const int r = static_cast<int>(line.size() / 2);
    for (int y = -r; y <= r; ++y)
      for (int x = -r; x <= r; ++x)
        k.values[static_cast<size_t>(y + k.radius) * side + x + k.radius] +=
            static_cast<float>(weight * line[x + r] * line[y + r]);
  }
  return k;
}

// One separable part of K_cd: weight x (g (x) g), g a one-dimensional kernel.
struct KernelTerm {
  int pair;  // 3 c + d
  double weight;
  std::vector<double> line;
};

// K_cd = sum over the Gaussians i of channel c and j of channel d of
// w_i w_j (g_i * g_j) in both directions; g_i * g_j is again a Gaussian
// whose squared spread is the sum of theirs.
std::vector<KernelTerm> KernelTerms() {
  std::vector<KernelTerm> terms;
  for (int c = 0; c < 3; ++c)
    for (int d = 0; d < 3; ++d)
      for (const SpreadGaussian &gi : kOpponentChannels[c].gaussians)
        for (const SpreadGaussian &gj : kOpponentChannels[d].gaussians) {
          if (gi.spread > kWidestSpread || gj.spread > kWidestSpread) continue;
          const double si = gi.spread * kPixelsPerDegree, sj = gj.spread * kPixelsPerDegree;
          const std::vector<double> a = GaussianKernel(si), b = GaussianKernel(sj);
          std::vector<double> line(a.size() + b.size() - 1, 0.0);
          for (size_t p = 0; p < a.size(); ++p)
            for (size_t q = 0; q < b.size(); ++q) line[p + q] += a[p] * b[q];
          const size_t cut = static_cast<size_t>(std::ceil(kKernelReach * std::sqrt(si * si + sj * sj)));
          if (line.size() > 2 * cut + 1) {
            // A new vector: assigning a vector from its own range is undefined.
            const size_t trim = line.size() / 2 - cut;
            line = std::vector<double>(line.begin() + trim, line.end() - trim);
          }
          terms.push_back({3 * c + d, gi.weight * gj.weight, line});
        }
  terms.push_back({0, kLightWeight, SpreadLine(std::sqrt(2.0) * kLightSpread)});
  return terms;
}

std::array<Kernel, 9> Kernels(const std::vector<KernelTerm> &terms) {
  std::array<Kernel, 9> kernels;
  for (const KernelTerm &t : terms)
    kernels[t.pair].radius = std::max(kernels[t.pair].radius, static_cast<int>(t.line.size() / 2));
  for (Kernel &k : kernels) k.values.assign(static_cast<size_t>(2 * k.radius + 1) * (2 * k.radius + 1), 0.0f);
  for (const KernelTerm &t : terms) {
    Kernel &k = kernels[t.pair];
    const int r = static_cast<int>(t.line.size() / 2), side = 2 * k.radius + 1;
    for (int y = -r; y <= r; ++y)
      for (int x = -r; x <= r; ++x)
        k.values[static_cast<size_t>(y + k.radius) * side + x + k.radius] +=
            static_cast<float>(t.weight * t.line[x + r] * t.line[y + r]);
  }
  return kernels;
}

using Weights = std::array<float, 9>;

// CIELAB's sensitivity at a colour as a quadratic form on opponent errors:
// W = (J F)^T (J F), F the matrix from the opponent channels to XYZ and J the
// derivative of (L*, a*, b*) by XYZ, divided by that of L* so that only the
// balance of light and colour changes from one pixel to the next (the search
// compares changes at one place; a scale that jumps from pixel to pixel would
// make its sums disagree with each other).
Weights Sensitivity(const Xyz &seen) {
  const double fy = LabFSlope(seen.y);
  const double fx = LabFSlope(seen.x / 0.95047) / 0.95047 / fy, fz = LabFSlope(seen.z / 1.08883) / 1.08883 / fy;
  const double jacobian[3][3] = {{0, 116, 0}, {500 * fx, -500, 0}, {0, 200, -200 * fz}};
  double jf[3][3];
  for (int k = 0; k < 3; ++k) {
    Opponent unit{};
    unit[k] = 1;
    const Xyz column = FromOpponent(unit);
    for (int r = 0; r < 3; ++r)
      jf[r][k] = jacobian[r][0] * column.x + jacobian[r][1] * column.y + jacobian[r][2] * column.z;
  }
  Weights w;
  for (int c = 0; c < 3; ++c)
    for (int d = 0; d < 3; ++d)
      w[3 * c + d] = static_cast<float>(jf[0][c] * jf[0][d] + jf[1][c] * jf[1][d] + jf[2][c] * jf[2][d]) / (116.0f * 116.0f);
  return w;
}

class Search {
 public:
  Search(const RgbImage &image, const IndexedImage &start)
      : w_(image.width), h_(image.height), picture_(start), terms_(KernelTerms()), kernels_(Kernels(terms_)),
        speckle_(SpeckleKernel()) {
    const size_t pixels = static_cast<size_t>(w_) * h_;
    const std::vector<double> light = ToLinear(image);
    const std::vector<double> seen = SeenXyz(light, w_, h_, kPixelsPerDegree);
    const std::vector<double> table = ToLinear(IndexedImage{256, 1, AllEntries()});
    for (int i = 0; i < 256; ++i) entries_[i] = ToOpponent(LinearToXyz(table[i * 3], table[i * 3 + 1], table[i * 3 + 2]));
    std::array<std::array<double, 8>, 3> levels;
    for (int c = 0; c < 3; ++c) levels[c] = ChannelLevels(c);
    source_.resize(pixels);
    weights_.resize(pixels);
    open_.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
      source_[i] = ToOpponent(LinearToXyz(light[i * 3], light[i * 3 + 1], light[i * 3 + 2]));
      weights_[i] = Sensitivity({seen[i * 3], seen[i * 3 + 1], seen[i * 3 + 2]});
      for (int c = 0; c < 3; ++c) {
        const double at = LevelPosition(levels[c], LevelCount(c), light[i * 3 + c]);
        int low = static_cast<int>(std::floor(at - kLevelMargin)), high = static_cast<int>(std::ceil(at + kLevelMargin));
        if (high == low) ++high;
        open_[i].low[c] = static_cast<uint8_t>(std::max(0, low));
        open_[i].high[c] = static_cast<uint8_t>(std::min(LevelCount(c) - 1, high));
      }
    }
    hue_.resize(pixels);
    for (size_t i = 0; i < pixels; ++i) {
      const double light = std::max(source_[i][0], 1e-3);
      hue_[i] = {source_[i][1] / light, source_[i][2] / light};
    }
    StartSeenError();
    for (auto &plane : seenSpeckle_) plane.assign(pixels, 0.0f);
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const size_t p = At(x, y);
        AddSpeckle(x, y, Difference(entries_[picture_.indices[p]], source_[p]));
      }
  }

  IndexedImage Run() {
    for (int pass = 0; pass < kMostPasses; ++pass) {
      size_t changed = 0;
      for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) changed += TryPixel(x, y);
      if (changed * kStopOneIn < picture_.indices.size()) break;
    }
    return picture_;
  }

 private:
  struct Open {
    uint8_t low[3], high[3];  // levels a pixel may take, per channel
  };

  static std::vector<uint8_t> AllEntries() {
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    return all;
  }

  size_t At(int x, int y) const { return static_cast<size_t>(y) * w_ + x; }

  bool IsOpen(size_t pixel, int entry) const {
    for (int c = 0; c < 3; ++c) {
      const int level = LevelOf(entry, c);
      if (level < open_[pixel].low[c] || level > open_[pixel].high[c]) return false;
    }
    return true;
  }

  // S_cd = K_cd * e_d with the error zero outside the picture, one separable
  // term at a time.
  void StartSeenError() {
    const size_t pixels = static_cast<size_t>(w_) * h_;
    for (auto &plane : seenError_) plane.assign(pixels, 0.0f);
    std::vector<double> rows(pixels);
    for (const KernelTerm &t : terms_) {
      const int d = t.pair % 3, r = static_cast<int>(t.line.size() / 2);
      for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
          double v = 0;
          for (int k = std::max(-r, -x); k <= std::min(r, w_ - 1 - x); ++k) {
            const size_t p = At(x + k, y);
            v += t.line[k + r] * (entries_[picture_.indices[p]][d] - source_[p][d]);
          }
          rows[At(x, y)] = v;
        }
      for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
          double v = 0;
          for (int k = std::max(-r, -y); k <= std::min(r, h_ - 1 - y); ++k) v += t.line[k + r] * rows[At(x, y + k)];
          seenError_[t.pair][At(x, y)] += static_cast<float>(t.weight * v);
        }
    }
  }

  // The colour beyond the source's hue of an error d at pixel p.
  std::array<double, 2> Beyond(size_t p, const Opponent &d) const {
    return {d[1] - hue_[p][0] * d[0], d[2] - hue_[p][1] * d[0]};
  }

  // The speckle planes after the error at (x, y) changes by d.
  void AddSpeckle(int x, int y, const Opponent &d) {
    const std::array<double, 2> r = Beyond(At(x, y), d);
    const Kernel &k = speckle_;
    const int x0 = std::max(0, x - k.radius), x1 = std::min(w_ - 1, x + k.radius);
    const int y0 = std::max(0, y - k.radius), y1 = std::min(h_ - 1, y + k.radius);
    const int side = 2 * k.radius + 1;
    const float r0 = static_cast<float>(r[0]), r1 = static_cast<float>(r[1]);
    for (int yy = y0; yy <= y1; ++yy) {
      const float *__restrict from = &k.values[static_cast<size_t>(yy - y + k.radius) * side + x0 - x + k.radius];
      float *__restrict a = &seenSpeckle_[0][At(x0, yy)];
      float *__restrict b = &seenSpeckle_[1][At(x0, yy)];
      for (int i = 0; i <= x1 - x0; ++i) {
        a[i] += from[i] * r0;
        b[i] += from[i] * r1;
      }
    }
  }

  // The change of cost when pixel p changes by d alone.
  double Alone(size_t p, const Opponent &d) const {
    const Weights &w = weights_[p];
    double cost = 0;
    for (int c = 0; c < 3; ++c)
      for (int e = 0; e < 3; ++e)
        cost += d[c] * w[3 * c + e] * (2 * seenError_[3 * c + e][p] + d[e] * kernels_[3 * c + e].At(0, 0));
    const std::array<double, 2> r = Beyond(p, d);
    for (int c = 0; c < 2; ++c)
      for (int e = 0; e < 2; ++e)
        cost += kSpeckleWeight * r[c] * w[3 * c + e + 4] * (2 * seenSpeckle_[e][p] + r[e] * speckle_.At(0, 0));
    return cost;
  }

  // The cross term of two changes, d at p and u at p + (dx, dy).
  double Together(size_t p, const Opponent &d, const Opponent &u, int dx, int dy) const {
    const Weights &w = weights_[p];
    double cost = 0;
    for (int c = 0; c < 3; ++c)
      for (int e = 0; e < 3; ++e) cost += 2 * d[c] * u[e] * w[3 * c + e] * kernels_[3 * c + e].At(dx, dy);
    const std::array<double, 2> r = Beyond(p, d), q = Beyond(p + static_cast<std::ptrdiff_t>(dy) * w_ + dx, u);
    for (int c = 0; c < 2; ++c)
      for (int e = 0; e < 2; ++e) cost += 2 * kSpeckleWeight * r[c] * q[e] * w[3 * c + e + 4] * speckle_.At(dx, dy);
    return cost;
  }

  Opponent Difference(int to, int from) const { return Difference(entries_[to], entries_[from]); }
  static Opponent Difference(const Opponent &a, const Opponent &b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

  void Change(int x, int y, int entry) {
    const Opponent d = Difference(entry, picture_.indices[At(x, y)]);
    picture_.indices[At(x, y)] = static_cast<uint8_t>(entry);
    AddSpeckle(x, y, d);
    for (int pair = 0; pair < 9; ++pair) {
      const Kernel &k = kernels_[pair];
      const float by = static_cast<float>(d[pair % 3]);
      const int x0 = std::max(0, x - k.radius), x1 = std::min(w_ - 1, x + k.radius);
      const int y0 = std::max(0, y - k.radius), y1 = std::min(h_ - 1, y + k.radius);
      const int side = 2 * k.radius + 1;
      for (int yy = y0; yy <= y1; ++yy) {
        const float *__restrict from = &k.values[static_cast<size_t>(yy - y + k.radius) * side + x0 - x + k.radius];
        float *__restrict to = &seenError_[pair][At(x0, yy)];
        for (int i = 0; i <= x1 - x0; ++i) to[i] += from[i] * by;
      }
    }
  }

  // Tries every open entry at (x, y) and every swap with a neighbour; makes
  // the best change if it lowers the cost. Returns whether it did.
  bool TryPixel(int x, int y) {
    const size_t p = At(x, y);
    const int current = picture_.indices[p];
    double best = -1e-9;  // a change must gain more than rounding can
    int bestEntry = -1, bestX = 0, bestY = 0;
    for (int r = open_[p].low[0]; r <= open_[p].high[0]; ++r)
      for (int g = open_[p].low[1]; g <= open_[p].high[1]; ++g)
        for (int b = open_[p].low[2]; b <= open_[p].high[2]; ++b) {
          const int entry = EntryOf(r, g, b);
          if (entry == current) continue;
          const double cost = Alone(p, Difference(entry, current));
          if (cost < best) {
            best = cost;
            bestEntry = entry;
            bestX = x;
            bestY = y;
          }
        }
    for (int ny = std::max(0, y - 1); ny <= std::min(h_ - 1, y + 1); ++ny)
      for (int nx = std::max(0, x - 1); nx <= std::min(w_ - 1, x + 1); ++nx) {
        const size_t n = At(nx, ny);
        const int other = picture_.indices[n];
        if (other == current || !IsOpen(p, other) || !IsOpen(n, current)) continue;
        const Opponent d = Difference(other, current), u = Difference(current, other);
        const double cost = Alone(p, d) + Alone(n, u) + Together(p, d, u, nx - x, ny - y);
        if (cost < best) {
          best = cost;
          bestEntry = other;
          bestX = nx;
          bestY = ny;
        }
      }
    if (bestEntry < 0) return false;
    if (bestX != x || bestY != y) Change(bestX, bestY, current);
    Change(x, y, bestEntry);
    return true;
  }

  const int w_, h_;
  IndexedImage picture_;
  const std::vector<KernelTerm> terms_;
  const std::array<Kernel, 9> kernels_;
  std::array<Opponent, 256> entries_;
  std::vector<Opponent> source_;
  std::vector<Weights> weights_;
  std::vector<Open> open_;
  std::array<std::vector<float>, 9> seenError_;
  const Kernel speckle_;
  std::vector<std::array<double, 2>> hue_;  // o_c / o_1 of the source, c the two colour channels
  std::array<std::vector<float>, 2> seenSpeckle_;  // the speckle kernel * r_c
};

}  // namespace

IndexedImage SearchForTheEye(const RgbImage &image, const IndexedImage &start) { return Search(image, start).Run(); }

IndexedImage ReduceToPalette(const RgbImage &image) { return SearchForTheEye(image, DiffuseToPalette(image)); }

}  // namespace pictures
