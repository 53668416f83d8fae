// The picture given with "nxo pack --splash": checked, and made ready for
// the two ways the launcher shows it.
#pragma once

#include <string>

#include "tools/nxo/status.h"

namespace nxo::tool {

struct SplashImage {
  // The file as given (PNG, JPEG, GIF or BMP), for the Java runtime's splash
  // library.
  std::string file;
  // The picture as a BMP file (24 bits a pixel, rows bottom-up), for the
  // launcher's own splash window: the file itself when it is a BMP, else the
  // decoded PNG or JPEG (transparent parts on white). Empty for a GIF, which
  // only the runtime's library shows.
  std::string bitmap_file;
};

// Reads |path|; an error (one line) when it is not a PNG, JPEG, GIF or BMP
// image that can be read.
Status LoadSplashImage(const std::string& path, SplashImage& image);

}  // namespace nxo::tool
