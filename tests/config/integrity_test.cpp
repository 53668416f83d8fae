#include "config/integrity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/md5.h"
#include "tests/test_util.h"

namespace nxo::config {
namespace {

constexpr std::uint32_t kPeOffset = 0x80;
constexpr std::uint32_t kOptionalHeader = kPeOffset + 24;
constexpr std::uint32_t kChecksum = kOptionalHeader + 64;
constexpr std::uint32_t kCertificateEntry = kOptionalHeader + 128;
constexpr std::uint32_t kArchiveLength = 100;

void PutLe16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
  bytes.replace(at, 4, test::Le32(value));
}

// A 32-bit PE header in a 1 KiB image whose other bytes are not zero, so that
// treating a wrong byte as zero changes the digest.
std::string PeImage() {
  std::string image(1024, '\x5A');
  image[0] = 'M';
  image[1] = 'Z';
  PutLe32(image, 0x3C, kPeOffset);
  image.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  PutLe16(image, kPeOffset + 4, 0x14C);       // Machine
  PutLe16(image, kPeOffset + 4 + 16, 224);    // SizeOfOptionalHeader
  PutLe16(image, kOptionalHeader, 0x10B);     // PE32
  PutLe32(image, kOptionalHeader + 92, 16);   // NumberOfRvaAndSizes
  return image;
}

std::string ElfImage() {
  std::string image(1024, '\x5A');
  image.replace(0, 4, "\x7F" "ELF");
  return image;
}

// image | block | L | digest | archive ending in an end record | tail
std::vector<unsigned char> Packed(const std::string& image, const std::string& tail = "") {
  std::string bytes = image;
  const std::string block = std::string("\xEF\xBB\xBF" "mainclass a.B\r\n") + '\0';
  bytes += block + test::Le32(static_cast<std::uint32_t>(block.size()));
  bytes += std::string(kDigestSize, '\x11');
  std::string archive(kArchiveLength - kEndRecordSize, 'Z');
  archive += test::EmptyArchiveEnd(kArchiveLength);
  bytes += archive + tail;
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::string Digest(const std::vector<unsigned char>& file) {
  PayloadLocation at = LocatePayload(file.data(), file.size(), kArchiveLength);
  unsigned char out[kDigestSize];
  if (!ComputePayloadDigest(file.data(), file.size(), at, out)) return "(none)";
  return std::string(reinterpret_cast<char*>(out), kDigestSize);
}

TEST(FindPeHeaderFields, FindsTheChecksumAndCertificateEntryOfAPe32Header) {
  const std::string image = PeImage();
  PeHeaderFields pe =
      FindPeHeaderFields(reinterpret_cast<const unsigned char*>(image.data()), image.size());
  ASSERT_TRUE(pe.is_pe);
  EXPECT_EQ(pe.machine, 0x14C);
  EXPECT_FALSE(pe.is_pe32_plus);
  EXPECT_EQ(pe.checksum_offset, kChecksum);
  ASSERT_TRUE(pe.has_certificate_entry);
  EXPECT_EQ(pe.certificate_entry_offset, kCertificateEntry);

  const std::string elf = ElfImage();
  EXPECT_FALSE(FindPeHeaderFields(reinterpret_cast<const unsigned char*>(elf.data()), elf.size()).is_pe);
  std::string broken = image;
  PutLe32(broken, 0x3C, 0x7FFFFFF0);  // e_lfanew far outside the file
  EXPECT_FALSE(
      FindPeHeaderFields(reinterpret_cast<const unsigned char*>(broken.data()), broken.size()).is_pe);
}

// Flips one byte at a time and sees whether the digest notices: exactly the
// digest field, the two PE fields and the tail are left out.
TEST(ComputePayloadDigest, IgnoresExactlyTheDigestFieldThePeSigningFieldsAndTheTail) {
  const std::vector<unsigned char> pe = Packed(PeImage(), "tail");
  const PayloadLocation at = LocatePayload(pe.data(), pe.size(), kArchiveLength);
  ASSERT_TRUE(at.valid);
  const std::uint32_t p = at.payload_position;
  const std::uint32_t end = at.file_size - at.tail_length;
  const struct {
    std::uint32_t position;
    bool ignored;
  } cases[] = {
      {0, false},
      {kChecksum - 1, false},
      {kChecksum, true},
      {kChecksum + 3, true},
      {kChecksum + 4, false},
      {kCertificateEntry - 1, false},
      {kCertificateEntry, true},
      {kCertificateEntry + 7, true},
      {kCertificateEntry + 8, false},
      {p - 1, false},  // last byte of L
      {p, true},
      {p + kDigestSize - 1, true},
      {p + kDigestSize, false},  // first archive byte
      {end - 1, false},          // last byte of the end record
      {end, true},               // the tail
      {at.file_size - 1, true},
  };
  const std::string original = Digest(pe);
  for (const auto& c : cases) {
    std::vector<unsigned char> changed = pe;
    changed[c.position] ^= 0xA5;
    EXPECT_EQ(Digest(changed) == original, c.ignored) << "byte " << c.position;
  }
}

TEST(ComputePayloadDigest, AnElfStubHasOnlyItsDigestFieldLeftOut) {
  const std::vector<unsigned char> elf = Packed(ElfImage());
  const std::string original = Digest(elf);
  for (std::uint32_t position : {kChecksum, kCertificateEntry}) {
    std::vector<unsigned char> changed = elf;
    changed[position] ^= 0xA5;
    EXPECT_NE(Digest(changed), original) << "byte " << position;
  }
}

TEST(ComputePayloadDigest, IsTheMd5OfTheFileWithTheLeftOutBytesAsZero) {
  const std::vector<unsigned char> pe = Packed(PeImage(), "xyz");
  const PayloadLocation at = LocatePayload(pe.data(), pe.size(), kArchiveLength);
  std::string blanked(pe.begin(), pe.end() - 3);
  blanked.replace(kChecksum, 4, std::string(4, '\0'));
  blanked.replace(kCertificateEntry, 8, std::string(8, '\0'));
  blanked.replace(at.payload_position, kDigestSize, std::string(kDigestSize, '\0'));
  unsigned char out[kDigestSize];
  ASSERT_TRUE(ComputePayloadDigest(pe.data(), pe.size(), at, out));
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : out) hex += std::string{kHex[byte >> 4], kHex[byte & 15]};
  EXPECT_EQ(hex, Md5Hex(blanked));
}

TEST(PayloadDigestMatches, SurvivesWhatSigningChangesButNotAnEditedArchive) {
  std::vector<unsigned char> file = Packed(PeImage());
  PayloadLocation at = LocatePayload(file.data(), file.size(), kArchiveLength);
  EXPECT_FALSE(PayloadDigestMatches(file.data(), file.size(), at));
  unsigned char digest[kDigestSize];
  ASSERT_TRUE(ComputePayloadDigest(file.data(), file.size(), at, digest));
  std::memcpy(file.data() + at.payload_position, digest, kDigestSize);
  EXPECT_TRUE(PayloadDigestMatches(file.data(), file.size(), at));

  // What a signing tool does: new checksum, a certificate entry, and the
  // signature appended after the archive.
  std::vector<unsigned char> signed_file = file;
  for (std::uint32_t i = 0; i < 4; ++i) signed_file.at(kChecksum + i) = 0xC0;
  for (std::uint32_t i = 0; i < 8; ++i) signed_file.at(kCertificateEntry + i) = 0xCE;
  signed_file.insert(signed_file.end(), 600, 0x30);
  PayloadLocation signed_at = LocatePayload(signed_file.data(), signed_file.size(), kArchiveLength);
  ASSERT_TRUE(signed_at.valid);
  EXPECT_EQ(signed_at.tail_length, 600u);
  EXPECT_TRUE(PayloadDigestMatches(signed_file.data(), signed_file.size(), signed_at));

  std::vector<unsigned char> edited = file;
  edited[at.archive_start + 5] ^= 1;
  EXPECT_FALSE(PayloadDigestMatches(edited.data(), edited.size(), at));
}

TEST(ComputePayloadDigest, RefusesALocationThatDoesNotBelongToTheFile) {
  const std::vector<unsigned char> file = Packed(ElfImage());
  unsigned char out[kDigestSize];
  EXPECT_FALSE(ComputePayloadDigest(file.data(), file.size(), PayloadLocation{}, out));
  PayloadLocation at = LocatePayload(file.data(), file.size(), kArchiveLength);
  EXPECT_FALSE(ComputePayloadDigest(file.data(), file.size() - 1, at, out));
}

}  // namespace
}  // namespace nxo::config
