#include "config/payload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "tests/test_util.h"

namespace nxo::config {
namespace {

// image | config block | L | digest | archive (ending in an end record) | tail
std::vector<unsigned char> BuildImage(std::size_t image_size, const std::string& config_block,
                                      std::size_t archive_size, const std::string& tail = "") {
  std::string bytes(image_size, 'I');
  bytes += config_block;
  bytes += test::Le32(static_cast<std::uint32_t>(config_block.size()));
  bytes += std::string(kDigestSize, 'D');
  std::string archive(archive_size - kEndRecordSize, 'Z');
  archive += test::EmptyArchiveEnd(archive_size);
  bytes += archive;
  bytes += tail;
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

TEST(LocatePayload, FindsTheDocumentedExampleLayout) {
  // Image ends at 0xE3000; a 150-byte block; a 25,463,823-byte archive.
  std::string block = "\xEF\xBB\xBFmainclass app.Main\r\n";
  block += std::string(150 - block.size() - 1, 'x');
  block.push_back('\0');
  ASSERT_EQ(block.size(), 150u);
  std::vector<unsigned char> file = BuildImage(0xE3000, block, 25463823);

  PayloadLocation at = LocatePayload(file.data(), file.size(), 25463823);
  ASSERT_TRUE(at.valid);
  EXPECT_EQ(at.tail_length, 0u);
  EXPECT_EQ(at.payload_position, 0xE309Au);
  EXPECT_EQ(at.config_length, 150u);
  EXPECT_EQ(at.config_start, 0xE3000u);
  EXPECT_EQ(at.archive_start, 0xE30AAu);
  EXPECT_EQ(EmbeddedConfigBytes(file.data(), at), block.substr(0, 149));
}

TEST(LocatePayload, AnArchiveCommentMovesEverythingTowardsTheStart) {
  const std::string block = std::string("k v\r\n", 5) + '\0';
  std::vector<unsigned char> plain = BuildImage(1000, block, 500);
  std::vector<unsigned char> commented = BuildImage(990, block, 500, "0123456789");
  ASSERT_EQ(plain.size(), commented.size());
  PayloadLocation a = LocatePayload(plain.data(), plain.size(), 500);
  PayloadLocation b = LocatePayload(commented.data(), commented.size(), 500);
  ASSERT_TRUE(a.valid && b.valid);
  EXPECT_EQ(b.tail_length, 10u);
  EXPECT_EQ(a.payload_position - b.payload_position, 10u);
  EXPECT_EQ(EmbeddedConfigBytes(commented.data(), b), "k v\r\n");
}

TEST(LocatePayload, TailsBeyondTheScanWindowAreNotSeen) {
  // The window is max(F / 100, 51,200) bytes above the end record's size.
  std::vector<unsigned char> file = BuildImage(100, std::string(1, '\0'), 100, std::string(60000, 'T'));
  EXPECT_EQ(FindTailLength(file.data(), file.size()), 0u);
  std::vector<unsigned char> near = BuildImage(100, std::string(1, '\0'), 100, std::string(51200, 'T'));
  EXPECT_EQ(FindTailLength(near.data(), near.size()), 51200u);
}

TEST(LocatePayload, RejectsEveryPositionOutsideTheFile) {
  std::vector<unsigned char> good = BuildImage(64, std::string("a b\r\n") + '\0', 100);
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    std::uint32_t archive_length;
  } cases[] = {
      {"no payload recorded", good, 0},
      {"archive longer than the file", good, static_cast<std::uint32_t>(good.size())},
      {"archive length near 2^32", good, 0xFFFFFFF0u},
      {"file smaller than a trailer", std::vector<unsigned char>(10, 0), 1},
      {"empty file", {}, 5},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(LocatePayload(c.bytes.data(), c.bytes.size(), c.archive_length).valid) << c.what;
  }

  // A length field that points before the start of the file.
  std::vector<unsigned char> bad_length = good;
  std::size_t length_at = bad_length.size() - 100 - kDigestSize - 4;
  std::memcpy(&bad_length[length_at], "\xFF\xFF\xFF\x7F", 4);
  EXPECT_FALSE(LocatePayload(bad_length.data(), bad_length.size(), 100).valid);
  std::string exact = test::Le32(static_cast<std::uint32_t>(length_at));
  std::memcpy(&bad_length[length_at], exact.data(), 4);
  EXPECT_TRUE(LocatePayload(bad_length.data(), bad_length.size(), 100).valid);
}

TEST(LocatePayload, TheEmbeddedCopyStopsAtTheFirstZero) {
  std::vector<unsigned char> file = BuildImage(8, std::string("a 1\r\n\0b 2\r\n", 11), 50);
  PayloadLocation at = LocatePayload(file.data(), file.size(), 50);
  ASSERT_TRUE(at.valid);
  EXPECT_EQ(EmbeddedConfigBytes(file.data(), at), "a 1\r\n");
}

TEST(LocatePayload, OnlyAnEndRecordThatClosesTheRecordedArchiveCounts) {
  const std::string block = std::string("k v\r\n") + '\0';
  const std::size_t archive_size = 4000;
  std::vector<unsigned char> good = BuildImage(200, block, archive_size);
  const std::size_t archive_start = good.size() - archive_size;
  // A stored nested jar ends 100 bytes before the directory: its end record
  // measures its own (empty) directory from its own start.
  const std::size_t nested_end = good.size() - kEndRecordSize - 100;
  const std::string nested = test::EmptyArchiveEnd(1500);
  std::memcpy(&good[nested_end], nested.data(), nested.size());

  std::vector<unsigned char> cut(good.begin(), good.end() - 10);
  std::vector<unsigned char> stray = good;  // a tail holding a signature of its own
  const std::string tail_record = "PK\5\6" + std::string(18, 'x');
  stray.insert(stray.end(), tail_record.begin(), tail_record.end());

  // A ZIP64 archive: the directory ends before the ZIP64 end record (56 bytes)
  // and its locator (20 bytes), which sit right before the end record.
  std::vector<unsigned char> zip64 = good;
  const std::size_t end_at = zip64.size() - kEndRecordSize;
  const std::string directory_offset = test::Le32(static_cast<std::uint32_t>(archive_size - kEndRecordSize - 76));
  std::memcpy(&zip64[end_at + 16], directory_offset.data(), 4);
  std::vector<unsigned char> zip64_without_locator = zip64;
  std::memcpy(&zip64[end_at - 20], "PK\6\7", 4);

  struct Case {
    const char* what;
    const std::vector<unsigned char>& bytes;
    bool valid;
    std::uint32_t tail;
  } cases[] = {
      {"intact", good, true, 0},
      {"cut into the end record", cut, false, 0},
      {"a signature in the tail", stray, true, 22},
      {"ZIP64 records before the end record", zip64, true, 0},
      {"ZIP64 sizes without the locator", zip64_without_locator, false, 0},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("image");
    test::WriteFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    platform::RandomAccessFile file;
    ASSERT_TRUE(file.Open(path)) << c.what;
    std::string config;
    const PayloadLocation from_file = LocatePayloadInFile(file, archive_size, config);
    const PayloadLocation at = LocatePayload(c.bytes.data(), c.bytes.size(), archive_size);
    EXPECT_EQ(at.valid, c.valid) << c.what;
    EXPECT_EQ(from_file.valid, c.valid) << c.what;
    if (!c.valid) continue;
    EXPECT_EQ(at.tail_length, c.tail) << c.what;
    EXPECT_EQ(at.archive_start, archive_start) << c.what;
    EXPECT_EQ(from_file.archive_start, archive_start) << c.what;
    EXPECT_EQ(EmbeddedConfigBytes(c.bytes.data(), at), "k v\r\n") << c.what;
    EXPECT_EQ(config, "k v\r\n") << c.what;
  }
}

TEST(LocatePayloadInFile, AgreesWithTheWholeFileReader) {
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    std::uint32_t archive_length;
  } cases[] = {
      {"plain", BuildImage(300, std::string("a 1\r\nb 2\r\n") + '\0', 500), 500},
      {"comment", BuildImage(300, std::string("a 1\r\n") + '\0', 500, "0123456789"), 500},
      // A 10 MB file scans 100 kB: an 80 kB tail lies past the first piece read.
      {"tail beyond the first piece", BuildImage(10 << 20, std::string("k v\r\n") + '\0', 4096,
                                                 std::string(80 * 1024, 'T')), 4096},
      {"tail beyond the window", BuildImage(100, std::string("k v\r\n") + '\0', 100,
                                            std::string(60000, 'T')), 100},
      {"archive longer than the file", BuildImage(10, std::string(1, '\0'), 50), 5000},
      {"no payload", BuildImage(10, std::string(1, '\0'), 50), 0},
      {"too small", std::vector<unsigned char>(8, 'x'), 3},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    std::string path = dir.File("image");
    test::WriteFile(path, std::string(c.bytes.begin(), c.bytes.end()));
    platform::RandomAccessFile file;
    ASSERT_TRUE(file.Open(path)) << c.what;
    std::string config;
    PayloadLocation from_file = LocatePayloadInFile(file, c.archive_length, config);
    PayloadLocation from_bytes = LocatePayload(c.bytes.data(), c.bytes.size(), c.archive_length);
    EXPECT_EQ(from_file.valid, from_bytes.valid) << c.what;
    EXPECT_EQ(from_file.tail_length, from_bytes.tail_length) << c.what;
    EXPECT_EQ(from_file.payload_position, from_bytes.payload_position) << c.what;
    EXPECT_EQ(from_file.config_start, from_bytes.config_start) << c.what;
    EXPECT_EQ(config, EmbeddedConfigBytes(c.bytes.data(), from_bytes)) << c.what;
  }
}

}  // namespace
}  // namespace nxo::config
