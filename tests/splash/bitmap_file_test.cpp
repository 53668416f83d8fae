// The BMP reader and the leading stored entries of a payload archive: what
// the Linux launcher reads its splash picture from.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "config/payload.h"
#include "platform/platform.h"
#include "support/bitmap_file.h"
#include "tests/test_util.h"

namespace nxo {
namespace {

std::string Le16(std::uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

// A BMP file: |height| negative for rows from the top; |palette| colours
// (0x00RRGGBB) for up to 8 bits; |rows| the pixel rows as stored, each
// padded to 4 bytes here.
std::string Bitmap(std::int32_t width, std::int32_t height, std::uint16_t bits,
                   const std::vector<std::uint32_t>& palette, const std::vector<std::string>& rows,
                   std::uint32_t compression = 0) {
  std::string info = test::Le32(40) + test::Le32(static_cast<std::uint32_t>(width)) +
                     test::Le32(static_cast<std::uint32_t>(height)) + Le16(1) + Le16(bits) +
                     test::Le32(compression) + test::Le32(0) + test::Le32(2835) + test::Le32(2835) +
                     test::Le32(static_cast<std::uint32_t>(palette.size())) + test::Le32(0);
  std::string colours;
  for (std::uint32_t colour : palette) colours += test::Le32(colour);
  std::string pixels;
  for (std::string row : rows) {
    while (row.size() % 4 != 0) row.push_back('\0');
    pixels += row;
  }
  const std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size() + colours.size());
  return "BM" + test::Le32(offset + static_cast<std::uint32_t>(pixels.size())) + test::Le32(0) +
         test::Le32(offset) + info + colours + pixels;
}

TEST(BitmapFile, ReadsEveryDepthInBothRowOrders) {
  // Two by two: top row red, green; bottom row blue, white.
  const std::vector<std::uint32_t> expected = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  const std::vector<std::uint32_t> palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"24 bits bottom-up", Bitmap(2, 2, 24, {}, {std::string("\xFF\x00\x00\xFF\xFF\xFF", 6),
                                                   std::string("\x00\x00\xFF\x00\xFF\x00", 6)})},
      {"24 bits top-down", Bitmap(2, -2, 24, {}, {std::string("\x00\x00\xFF\x00\xFF\x00", 6),
                                                   std::string("\xFF\x00\x00\xFF\xFF\xFF", 6)})},
      {"32 bits", Bitmap(2, 2, 32, {}, {std::string("\xFF\x00\x00\x80\xFF\xFF\xFF\x80", 8),
                                        std::string("\x00\x00\xFF\x80\x00\xFF\x00\x80", 8)})},
      {"8 bits", Bitmap(2, 2, 8, palette, {std::string("\x02\x03", 2), std::string("\x00\x01", 2)})},
      {"4 bits", Bitmap(2, 2, 4, palette, {std::string("\x23", 1), std::string("\x01", 1)})},
      {"1 bit", Bitmap(2, 2, 1, {0xFF0000, 0x00FF00}, {std::string("\x40", 1), std::string("\x40", 1)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedPicture picture;
    ASSERT_TRUE(DecodeBitmapFile(c.file, picture));
    EXPECT_EQ(picture.width, 2);
    EXPECT_EQ(picture.height, 2);
    if (std::string(c.name) == "1 bit")
      EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{0xFF0000, 0x00FF00, 0xFF0000, 0x00FF00}));
    else
      EXPECT_EQ(picture.pixels, expected);
  }
}

TEST(BitmapFile, RefusesWhatItCannotShowWhole) {
  const std::string good = Bitmap(2, 2, 24, {}, {std::string(6, '\x10'), std::string(6, '\x20')});
  DecodedPicture picture;
  ASSERT_TRUE(DecodeBitmapFile(good, picture));
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"not a BMP", "GIF89a" + good.substr(6)},
      {"pixels cut short", good.substr(0, good.size() - 1)},
      {"run-length compressed", Bitmap(2, 2, 8, {0}, {std::string(2, '\0'), std::string(2, '\0')}, 1)},
      {"16 bits", Bitmap(2, 2, 16, {}, {std::string(4, '\0'), std::string(4, '\0')})},
      {"no width", Bitmap(0, 2, 24, {}, {})},
      {"no height", Bitmap(2, 0, 24, {}, {})},
      {"palette beyond the file", Bitmap(2, 2, 8, {}, {}).substr(0, 60)},
      {"header only", good.substr(0, 20)},
      {"a size that would need gigabytes", Bitmap(100000, 100000, 24, {}, {std::string(4, '\0')})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(DecodeBitmapFile(c.file, picture));
  }
}

// ---- Leading stored entries ------------------------------------------------

std::string LocalEntry(const std::string& name, const std::string& data, std::uint16_t method = 0,
                       std::uint16_t flags = 0, const std::string& extra = "") {
  return test::Le32(0x04034b50) + Le16(20) + Le16(flags) + Le16(method) + Le16(0) + Le16(0x21) +
         test::Le32(0) + test::Le32(static_cast<std::uint32_t>(data.size())) +
         test::Le32(static_cast<std::uint32_t>(data.size())) +
         Le16(static_cast<std::uint16_t>(name.size())) + Le16(static_cast<std::uint16_t>(extra.size())) +
         name + extra + data;
}

TEST(LeadingStoredEntry, FindsTheSplashEntriesAtTheArchiveStart) {
  test::TempDir dir;
  const std::string head = "configuration and digest";
  const std::string archive = LocalEntry(config::kSplashImageEntry, "PNG bytes", 0, 0, "XY") +
                              LocalEntry(config::kSplashBitmapEntry, "BM bytes") +
                              LocalEntry("com/", "") + LocalEntry("META-INF/nxo/late", "after com/");
  test::WriteFile(dir.File("exe"), head + archive);
  platform::RandomAccessFile file;
  ASSERT_TRUE(file.Open(dir.File("exe")));
  std::string bytes;
  ASSERT_TRUE(config::ReadLeadingStoredEntry(file, head.size(), config::kSplashImageEntry, bytes));
  EXPECT_EQ(bytes, "PNG bytes");
  ASSERT_TRUE(config::ReadLeadingStoredEntry(file, head.size(), config::kSplashBitmapEntry, bytes));
  EXPECT_EQ(bytes, "BM bytes");
  // Only the leading run of the launcher's own entries counts.
  EXPECT_FALSE(config::ReadLeadingStoredEntry(file, head.size(), "META-INF/nxo/late", bytes));
  EXPECT_FALSE(config::ReadLeadingStoredEntry(file, head.size(), "com/", bytes));
  EXPECT_FALSE(config::ReadLeadingStoredEntry(file, head.size() + 1, config::kSplashImageEntry, bytes));
}

TEST(LeadingStoredEntry, RefusesEntriesItCannotReadInPlace) {
  test::TempDir dir;
  struct Case {
    const char* name;
    std::string archive;
  } cases[] = {
      {"deflated", LocalEntry(config::kSplashImageEntry, "data", 8)},
      {"sizes in a data descriptor", LocalEntry(config::kSplashImageEntry, "data", 0, 8)},
      {"data cut short", LocalEntry(config::kSplashImageEntry, "data").substr(0, 50)},
      {"no archive", "PK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFile(dir.File("exe"), c.archive);
    platform::RandomAccessFile file;
    ASSERT_TRUE(file.Open(dir.File("exe")));
    std::string bytes;
    EXPECT_FALSE(config::ReadLeadingStoredEntry(file, 0, config::kSplashImageEntry, bytes));
  }
}

}  // namespace
}  // namespace nxo
