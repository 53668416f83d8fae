#include "support/bitmap_file.h"

#include <cstddef>

namespace nxo {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Large enough for any splash; keeps a damaged header from asking for
// gigabytes.
constexpr std::int64_t kMostPixels = 64ll * 1024 * 1024;

std::uint32_t Le16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

std::uint32_t Le32(std::string_view bytes, std::size_t at) {
  return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}

}  // namespace

bool DecodeBitmapFile(std::string_view file, DecodedPicture& picture) {
  if (file.size() < kFileHeaderSize + 40 || file[0] != 'B' || file[1] != 'M') return false;
  const std::uint32_t pixel_offset = Le32(file, 10);
  const std::uint32_t info_size = Le32(file, 14);
  if (info_size < 40 || kFileHeaderSize + info_size > file.size()) return false;
  const std::int32_t width = static_cast<std::int32_t>(Le32(file, 18));
  const std::int32_t raw_height = static_cast<std::int32_t>(Le32(file, 22));
  const std::uint32_t bits = Le16(file, 28);
  const std::uint32_t compression = Le32(file, 30);
  std::uint32_t palette_size = Le32(file, 46);
  if (width <= 0 || raw_height == 0 || raw_height == INT32_MIN) return false;
  const bool top_down = raw_height < 0;
  const std::int64_t height = top_down ? -static_cast<std::int64_t>(raw_height) : raw_height;
  if (static_cast<std::int64_t>(width) * height > kMostPixels) return false;
  if (compression != kBiRgb && !(compression == kBiBitfields && bits == 32)) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;

  std::vector<std::uint32_t> palette;
  if (bits <= 8) {
    if (palette_size == 0 || palette_size > (1u << bits)) palette_size = 1u << bits;
    const std::size_t palette_start = kFileHeaderSize + info_size;
    if (palette_start + palette_size * 4 > file.size()) return false;
    for (std::uint32_t i = 0; i < palette_size; ++i)
      palette.push_back(Le32(file, palette_start + i * 4) & 0xFFFFFFu);
  }

  const std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  if (pixel_offset > file.size() || stride * height > file.size() - pixel_offset) return false;
  picture.width = width;
  picture.height = static_cast<int>(height);
  picture.pixels.assign(static_cast<std::size_t>(width) * height, 0);
  for (std::int64_t row = 0; row < height; ++row) {
    const std::int64_t source_row = top_down ? row : height - 1 - row;
    const std::size_t start = pixel_offset + static_cast<std::size_t>(source_row) * stride;
    std::uint32_t* out = &picture.pixels[static_cast<std::size_t>(row) * width];
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint32_t value;
      if (bits == 24) {
        value = Le16(file, start + x * 3) | static_cast<std::uint32_t>(
                                                 static_cast<unsigned char>(file[start + x * 3 + 2]))
                                                 << 16;
      } else if (bits == 32) {
        value = Le32(file, start + x * 4) & 0xFFFFFFu;
      } else {
        const std::size_t bit = static_cast<std::size_t>(x) * bits;
        const unsigned byte = static_cast<unsigned char>(file[start + bit / 8]);
        const unsigned index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        value = index < palette.size() ? palette[index] : 0;
      }
      out[x] = value;
    }
  }
  return true;
}

}  // namespace nxo
