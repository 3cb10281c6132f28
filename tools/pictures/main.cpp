// vellomire-picture: makes one of the saver's 8-bit pictures from a photograph,
// and measures how close a reduced picture stays to its scaled source: the
// S-CIELAB difference at 20 and at 40 pixels per degree and the error of the
// mean light in per cent.
//
//   vellomire-picture convert --height H [--crop X,Y,W] [--clr-used 0|256]
//                             [--scaled FILE.ppm] SOURCE OUT.bmp
//   vellomire-picture measure SCALED.ppm CANDIDATE.bmp|CANDIDATE.ppm
//   vellomire-picture palette OUT.ppm
//
// ImageMagick decodes, crops and scales (in linear light); the reduction to
// the 3-3-2 table and the bitmap writing are ours. A source that cannot be
// read, or that would have to be enlarged by more than 5 % to fill the
// picture, is refused, and OUT.bmp is then left as it was.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "picture.h"

using namespace pictures;

namespace {

constexpr double kLargestEnlargement = 1.05;

int Fail(const std::string &message) {
  std::fprintf(stderr, "vellomire-picture: %s\n", message.c_str());
  return 1;
}

std::string ConvertProgram() {
  const char *chosen = std::getenv("IMAGEMAGICK_CONVERT");
  return chosen && *chosen ? chosen : "/usr/bin/convert";
}

// Runs a program without a shell and collects its standard output; false
// when it cannot be started or does not exit with 0.
bool Capture(const std::vector<std::string> &argv, std::vector<uint8_t> *output) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    dup2(pipeEnds[1], 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  output->clear();
  uint8_t buffer[65536];
  ssize_t got;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) output->insert(output->end(), buffer, buffer + got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Crop {
  long x = 0, y = 0, width = 0, height = 0;
};

// The part of the source that becomes the picture: the given box, or the
// largest box of the picture's proportions in the middle of the source.
bool ChooseCrop(long sourceWidth, long sourceHeight, int height, const std::string &given, Crop *crop,
                std::string *error) {
  if (!given.empty()) {
    if (std::sscanf(given.c_str(), "%ld,%ld,%ld", &crop->x, &crop->y, &crop->width) != 3 ||
        crop->x < 0 || crop->y < 0 || crop->width <= 0) {
      *error = "--crop takes X,Y,WIDTH in source pixels";
      return false;
    }
    crop->height = std::lround(static_cast<double>(crop->width) * height / kWidth);
    if (crop->x + crop->width > sourceWidth || crop->y + crop->height > sourceHeight) {
      *error = "the crop box " + std::to_string(crop->width) + "x" + std::to_string(crop->height) + "+" +
               std::to_string(crop->x) + "+" + std::to_string(crop->y) + " leaves the source (" +
               std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) + ")";
      return false;
    }
  } else if (sourceWidth * height >= sourceHeight * kWidth) {
    crop->height = sourceHeight;
    crop->width = std::min(sourceWidth, std::lround(static_cast<double>(sourceHeight) * kWidth / height));
    crop->x = (sourceWidth - crop->width) / 2;
  } else {
    crop->width = sourceWidth;
    crop->height = std::min(sourceHeight, std::lround(static_cast<double>(sourceWidth) * height / kWidth));
    crop->y = (sourceHeight - crop->height) / 2;
  }
  if (crop->width * kLargestEnlargement < kWidth || crop->height * kLargestEnlargement < height) {
    *error = "the source is too small: " + std::to_string(crop->width) + "x" + std::to_string(crop->height) +
             " pixels would have to be enlarged to " + std::to_string(kWidth) + "x" + std::to_string(height);
    return false;
  }
  return true;
}

int Convert(int argc, char **argv) {
  int height = 0;
  std::string crop, scaledPath, clrUsed = "256";
  std::vector<std::string> paths;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--height" && hasValue) height = std::atoi(argv[++i]);
    else if (arg == "--crop" && hasValue) crop = argv[++i];
    else if (arg == "--scaled" && hasValue) scaledPath = argv[++i];
    else if (arg == "--clr-used" && hasValue) clrUsed = argv[++i];
    else if (arg.rfind("--", 0) == 0) return Fail("unknown option " + arg);
    else paths.push_back(arg);
  }
  if (paths.size() != 2 || height <= 0 || height > 4096 || (clrUsed != "0" && clrUsed != "256"))
    return Fail("usage: convert --height H [--crop X,Y,W] [--clr-used 0|256] [--scaled F.ppm] SOURCE OUT.bmp");
  const std::string &source = paths[0], &target = paths[1];

  std::vector<uint8_t> output;
  long sourceWidth = 0, sourceHeight = 0;
  if (!Capture({ConvertProgram(), source + "[0]", "-auto-orient", "-format", "%w %h", "info:"}, &output) ||
      std::sscanf(std::string(output.begin(), output.end()).c_str(), "%ld %ld", &sourceWidth, &sourceHeight) != 2)
    return Fail("cannot read the picture " + source);

  Crop box;
  std::string error;
  if (!ChooseCrop(sourceWidth, sourceHeight, height, crop, &box, &error)) return Fail(source + ": " + error);

  const std::string geometry = std::to_string(box.width) + "x" + std::to_string(box.height) + "+" +
                               std::to_string(box.x) + "+" + std::to_string(box.y);
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(height) + "!";
  RgbImage scaled;
  if (!Capture({ConvertProgram(), source + "[0]", "-auto-orient", "-strip", "-alpha", "off", "-crop", geometry, "+repage",
                "-colorspace", "RGB", "-resize", size, "-colorspace", "sRGB", "-type", "TrueColor",
                "-depth", "16", "ppm:-"},
               &output) ||
      !DecodePpm(output, &scaled, &error) || scaled.width != kWidth || scaled.height != height)
    return Fail("cannot decode and scale " + source + (error.empty() ? "" : ": " + error));

  if (!scaledPath.empty() && !WriteFileAtomically(scaledPath, EncodePpm(scaled), &error)) return Fail(error);
  if (!WriteFileAtomically(target, EncodeBitmap(ReduceToPalette(scaled), clrUsed == "256"), &error))
    return Fail(error);
  return 0;
}

int Measure(int argc, char **argv) {
  if (argc != 2) return Fail("usage: measure SCALED.ppm CANDIDATE.bmp|CANDIDATE.ppm");
  std::vector<uint8_t> bytes;
  std::string error;
  RgbImage reference;
  if (!ReadFile(argv[0], &bytes, &error) || !DecodePpm(bytes, &reference, &error))
    return Fail(std::string(argv[0]) + ": " + error);
  std::vector<double> candidate;
  IndexedImage indexed;
  RgbImage rgb;
  if (!ReadFile(argv[1], &bytes, &error)) return Fail(error);
  if (DecodeBitmap(bytes, &indexed, &error)) {
    candidate = ToLinear(indexed);
    rgb.width = indexed.width;
    rgb.height = indexed.height;
  } else if (DecodePpm(bytes, &rgb, &error)) {
    candidate = ToLinear(rgb);
  } else {
    return Fail(std::string(argv[1]) + ": neither the saver's bitmap nor a PPM");
  }
  if (rgb.width != reference.width || rgb.height != reference.height)
    return Fail("the two pictures differ in size");
  const std::vector<double> source = ToLinear(reference);
  const int w = reference.width, h = reference.height;
  const double light = MeanLight(source), got = MeanLight(candidate);
  std::printf("%.3f %.3f %+.2f\n", ScielabDifference(source, candidate, w, h, 20),
              ScielabDifference(source, candidate, w, h, 40), light > 0 ? 100 * (got / light - 1) : got > 0 ? 100 : 0);
  return 0;
}

int Palette(int argc, char **argv) {
  if (argc != 1) return Fail("usage: palette OUT.ppm");
  IndexedImage all{16, 16, std::vector<uint8_t>(256)};
  for (int i = 0; i < 256; ++i) all.indices[i] = static_cast<uint8_t>(i);
  std::string error;
  return WriteFileAtomically(argv[0], EncodePpm(PaletteImage(all)), &error) ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char **argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "convert") return Convert(argc - 2, argv + 2);
  if (command == "measure") return Measure(argc - 2, argv + 2);
  if (command == "palette") return Palette(argc - 2, argv + 2);
  return Fail("usage: vellomire-picture convert|measure|palette ...");
}
