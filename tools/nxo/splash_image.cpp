#include "tools/nxo/splash_image.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/bitmap_file.h"

namespace nxo::tool {

namespace {

// Pixels in rows from the top, three bytes each: red, green, blue.
struct RgbPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<unsigned char> rgb;
};

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

bool DecodePng(const std::string& file, RgbPicture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  picture.width = image.width;
  picture.height = image.height;
  picture.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  for (std::size_t i = 0, o = 0; i < rgba.size(); i += 4, o += 3) {
    // Transparent parts go on white, as a splash usually sits on a light desktop.
    const unsigned alpha = rgba[i + 3];
    for (int c = 0; c < 3; ++c)
      picture.rgb[o + c] = static_cast<unsigned char>((rgba[i + c] * alpha + 255 * (255 - alpha) + 127) / 255);
  }
  return true;
}

struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1); }
void JpegQuiet(j_common_ptr, int) {}

bool DecodeJpeg(const std::string& file, RgbPicture& picture) {
  jpeg_decompress_struct info;
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = JpegErrorExit;
  failure.manager.emit_message = JpegQuiet;
  std::vector<unsigned char>& rgb = picture.rgb;
  if (setjmp(failure.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(file.data()), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  picture.width = info.output_width;
  picture.height = info.output_height;
  rgb.assign(static_cast<std::size_t>(info.output_width) * info.output_height * 3, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &rgb[static_cast<std::size_t>(info.output_scanline) * info.output_width * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string BitmapFile(const RgbPicture& picture) {
  const std::uint32_t stride = (picture.width * 3 + 3) & ~3u;
  const std::uint32_t pixel_bytes = stride * picture.height;
  std::string out;
  out += "BM";
  PutLe(out, 14 + 40 + pixel_bytes, 4);
  PutLe(out, 0, 4);
  PutLe(out, 14 + 40, 4);
  PutLe(out, 40, 4);  // BITMAPINFOHEADER
  PutLe(out, picture.width, 4);
  PutLe(out, picture.height, 4);  // positive: rows bottom-up
  PutLe(out, 1, 2);
  PutLe(out, 24, 2);
  PutLe(out, 0, 4);  // BI_RGB
  PutLe(out, pixel_bytes, 4);
  PutLe(out, 2835, 4);  // 72 dpi
  PutLe(out, 2835, 4);
  PutLe(out, 0, 4);
  PutLe(out, 0, 4);
  for (std::uint32_t row = picture.height; row-- > 0;) {
    const unsigned char* source = &picture.rgb[static_cast<std::size_t>(row) * picture.width * 3];
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      out.push_back(static_cast<char>(source[x * 3 + 2]));
      out.push_back(static_cast<char>(source[x * 3 + 1]));
      out.push_back(static_cast<char>(source[x * 3]));
    }
    out.append(stride - picture.width * 3, '\0');
  }
  return out;
}

}  // namespace

Status LoadSplashImage(const std::string& path, SplashImage& image) {
  std::ifstream input(path, std::ios::binary);
  if (!input) return Status::Error("cannot read --splash " + Quoted(path));
  image.file.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
  if (input.bad()) return Status::Error("cannot read --splash " + Quoted(path));
  const std::string& bytes = image.file;
  RgbPicture picture;
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) {
    if (!DecodePng(bytes, picture)) return Status::Error("--splash " + Quoted(path) + " is a damaged PNG image");
    image.bitmap_file = BitmapFile(picture);
  } else if (StartsWith(bytes, "\xff\xd8\xff", 3)) {
    if (!DecodeJpeg(bytes, picture)) return Status::Error("--splash " + Quoted(path) + " is a damaged JPEG image");
    image.bitmap_file = BitmapFile(picture);
  } else if (StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6)) {
    // The logical screen descriptor must be there, with a size.
    if (bytes.size() < 13 || (bytes[6] == 0 && bytes[7] == 0) || (bytes[8] == 0 && bytes[9] == 0))
      return Status::Error("--splash " + Quoted(path) + " is a damaged GIF image");
    image.bitmap_file.clear();
  } else if (StartsWith(bytes, "BM", 2)) {
    DecodedPicture decoded;
    if (!DecodeBitmapFile(bytes, decoded))
      return Status::Error("--splash " + Quoted(path) + " is not a BMP image the launcher can show");
    image.bitmap_file = bytes;
  } else {
    return Status::Error("--splash " + Quoted(path) + " is not a PNG, JPEG, GIF or BMP image");
  }
  return Status::Ok();
}

}  // namespace nxo::tool
