// The converter's file formats: the saver's 8-bit bitmap, binary PPM as
// ImageMagick writes it, and whole-or-nothing file output.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "picture.h"

namespace pictures {

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kTableBytes = 256 * 4;

void Put16(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t> &out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
uint32_t Get16(const std::vector<uint8_t> &in, size_t at) { return in[at] | (in[at + 1] << 8); }
uint32_t Get32(const std::vector<uint8_t> &in, size_t at) {
  return Get16(in, at) | (Get16(in, at + 2) << 16);
}

}  // namespace

std::vector<uint8_t> EncodeBitmap(const IndexedImage &image, bool writeClrUsed) {
  const uint32_t bitsOffset = kFileHeaderBytes + kInfoHeaderBytes + kTableBytes;
  const uint32_t imageBytes = static_cast<uint32_t>(kRowBytes) * image.height;
  std::vector<uint8_t> out;
  out.reserve(bitsOffset + imageBytes);
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  Put32(out, bitsOffset + imageBytes);
  Put32(out, 0);
  Put32(out, bitsOffset);
  // BITMAPINFOHEADER
  Put32(out, kInfoHeaderBytes);
  Put32(out, static_cast<uint32_t>(image.width));
  Put32(out, static_cast<uint32_t>(image.height));  // positive: rows bottom-up
  Put16(out, 1);                                     // planes
  Put16(out, 8);                                     // bits per pixel
  Put32(out, 0);                                     // BI_RGB
  Put32(out, imageBytes);
  Put32(out, 0);  // horizontal pixels per metre
  Put32(out, 0);  // vertical pixels per metre
  Put32(out, writeClrUsed ? 256 : 0);
  Put32(out, 0);  // colours important
  for (const Rgb8 &c : UniformPalette()) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = image.height - 1; y >= 0; --y) {
    const uint8_t *row = &image.indices[static_cast<size_t>(y) * image.width];
    out.insert(out.end(), row, row + image.width);
    out.resize(out.size() + (kRowBytes - image.width), 0);
  }
  return out;
}

bool DecodeBitmap(const std::vector<uint8_t> &bytes, IndexedImage *image, std::string *error) {
  const uint32_t bitsOffset = kFileHeaderBytes + kInfoHeaderBytes + kTableBytes;
  if (bytes.size() < bitsOffset || bytes[0] != 'B' || bytes[1] != 'M' ||
      Get32(bytes, 14) != kInfoHeaderBytes || Get16(bytes, 26) != 1 || Get16(bytes, 28) != 8 ||
      Get32(bytes, 30) != 0 || Get32(bytes, 10) != bitsOffset ||
      static_cast<int32_t>(Get32(bytes, 18)) != kWidth) {
    *error = "not an uncompressed 8-bit bitmap 450 pixels wide";
    return false;
  }
  const int32_t height = static_cast<int32_t>(Get32(bytes, 22));
  if (height <= 0 || bytes.size() != bitsOffset + static_cast<size_t>(kRowBytes) * height) {
    *error = "bitmap height and file size disagree";
    return false;
  }
  const auto palette = UniformPalette();
  for (int i = 0; i < 256; ++i) {
    const uint8_t *entry = &bytes[kFileHeaderBytes + kInfoHeaderBytes + 4 * i];
    if (entry[0] != palette[i].b || entry[1] != palette[i].g || entry[2] != palette[i].r || entry[3]) {
      *error = "colour table is not the uniform 3-3-2 table";
      return false;
    }
  }
  image->width = kWidth;
  image->height = height;
  image->indices.assign(static_cast<size_t>(kWidth) * height, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t *row = &bytes[bitsOffset + static_cast<size_t>(kRowBytes) * (height - 1 - y)];
    std::memcpy(&image->indices[static_cast<size_t>(y) * kWidth], row, kWidth);
  }
  return true;
}

bool DecodePpm(const std::vector<uint8_t> &bytes, RgbImage *image, std::string *error) {
  // Header: "P6", width, height, maxval, separated by white space and
  // "#" comments, then one white-space byte.
  size_t at = 0;
  auto skipSpace = [&] {
    while (at < bytes.size()) {
      if (bytes[at] == '#')
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      else if (bytes[at] == ' ' || bytes[at] == '\n' || bytes[at] == '\r' || bytes[at] == '\t')
        ++at;
      else
        break;
    }
  };
  auto number = [&](long *value) {
    skipSpace();
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '9') return false;
    *value = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9' && *value < 1000000)
      *value = *value * 10 + (bytes[at++] - '0');
    return true;
  };
  long width = 0, height = 0, maxval = 0;
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') {
    *error = "not a binary PPM";
    return false;
  }
  at = 2;
  if (!number(&width) || !number(&height) || !number(&maxval) || at >= bytes.size() ||
      width <= 0 || height <= 0 || (maxval != 255 && maxval != 65535)) {
    *error = "unreadable PPM header";
    return false;
  }
  ++at;
  const size_t sampleBytes = maxval == 255 ? 1 : 2;
  const size_t count = static_cast<size_t>(width) * height * 3;
  if (bytes.size() - at != count * sampleBytes) {
    *error = "PPM data is truncated or too long";
    return false;
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->samples.resize(count);
  for (size_t i = 0; i < count; ++i)
    image->samples[i] = sampleBytes == 1 ? static_cast<uint16_t>(bytes[at + i] * 257)
                                         : static_cast<uint16_t>((bytes[at + 2 * i] << 8) | bytes[at + 2 * i + 1]);
  return true;
}

std::vector<uint8_t> EncodePpm(const RgbImage &image) {
  const std::string header =
      "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n65535\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  for (uint16_t s : image.samples) {
    out.push_back(s >> 8);
    out.push_back(s & 0xFF);
  }
  return out;
}

RgbImage PaletteImage(const IndexedImage &image) {
  const auto palette = UniformPalette();
  RgbImage out{image.width, image.height, {}};
  out.samples.reserve(image.indices.size() * 3);
  for (uint8_t i : image.indices) {
    out.samples.push_back(palette[i].r * 257);
    out.samples.push_back(palette[i].g * 257);
    out.samples.push_back(palette[i].b * 257);
  }
  return out;
}

bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  bytes->clear();
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  const bool failed = std::ferror(file);
  std::fclose(file);
  if (failed) *error = "cannot read " + path;
  return !failed;
}

bool WriteFileAtomically(const std::string &path, const std::vector<uint8_t> &bytes,
                         std::string *error) {
  const std::string temporary = path + ".part" + std::to_string(getpid());
  FILE *file = std::fopen(temporary.c_str(), "wb");
  if (!file) {
    *error = "cannot create " + temporary;
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = (std::fclose(file) == 0) && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  *error = "cannot write " + path;
  return false;
}

}  // namespace pictures
