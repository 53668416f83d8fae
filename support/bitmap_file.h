// Reading a BMP file into pixels: the launcher shows the picture the
// payload carries where there are no resources (Linux), and the packager
// checks a BMP it is given with the same reader.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace nxo {

struct DecodedPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // rows from the top, 0x00RRGGBB
};

// Uncompressed BMP files (BI_RGB, or BI_BITFIELDS with the usual 32-bit
// masks) of 1, 4, 8, 24 or 32 bits a pixel, rows bottom-up or top-down.
// False for anything else, and for a file whose pixels do not all fit in it.
bool DecodeBitmapFile(std::string_view file, DecodedPicture& picture);

}  // namespace nxo
