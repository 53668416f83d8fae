// The resource writer on the real launcher stubs of both Windows targets (the
// MinGW builds that scripts/build.sh puts into dist/stubs/): the stub's own
// string table survives a rewrite, added entries read back byte for byte,
// and the headers describe the rebuilt file.
#include "tools/nxo/pe_resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace nxo::tool::pe {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le16(const std::string& data, std::size_t at) {
  return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
}
std::uint32_t Le32(const std::string& data, std::size_t at) { return Le16(data, at) | Le16(data, at + 2) << 16; }

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

struct SectionHeader {
  std::string name;
  std::uint32_t virtual_size, virtual_address, raw_size, raw_pointer;
};

// The header fields as a reader other than the writer's parser finds them.
struct Headers {
  explicit Headers(const std::string& image) {
    const std::uint32_t pe = Le32(image, 0x3C);
    const std::uint32_t count = Le16(image, pe + 6);
    optional = pe + 24;
    const bool plus = Le16(image, optional) == 0x20B;
    section_alignment = Le32(image, optional + 32);
    file_alignment = Le32(image, optional + 36);
    size_of_image = Le32(image, optional + 56);
    checksum = Le32(image, optional + 64);
    const std::uint32_t directories = optional + (plus ? 112 : 96);
    resources = {Le32(image, directories + 16), Le32(image, directories + 20)};
    relocations = {Le32(image, directories + 40), Le32(image, directories + 44)};
    const std::uint32_t table = optional + Le16(image, pe + 20);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t at = table + 40 * i;
      sections.push_back({image.substr(at, 8).c_str(), Le32(image, at + 8), Le32(image, at + 12), Le32(image, at + 16),
                          Le32(image, at + 20)});
    }
  }
  const SectionHeader* Named(const std::string& name) const {
    for (const SectionHeader& s : sections)
      if (s.name == name) return &s;
    return nullptr;
  }
  std::uint32_t optional, section_alignment, file_alignment, size_of_image, checksum;
  std::pair<std::uint32_t, std::uint32_t> resources, relocations;
  std::vector<SectionHeader> sections;
};

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

class StubResources : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = std::string(NXO_SOURCE_DIR) + "/dist/stubs/" + GetParam();
    stub_ = ReadFile(path_);
    ASSERT_GT(stub_.size(), 1024u) << "no stub at " << path_ << " (scripts/build.sh makes it)";
  }
  std::string path_;
  std::string stub_;
};

TEST_P(StubResources, KeepsTheStringTableAndReadsBackWhatWasAdded) {
  ResourceTable table;
  ASSERT_TRUE(ReadResources(stub_, table).ok());
  // Messages 1..13 live in string block 1 (strings 0..15), US English.
  const Resource* strings = table.Find(kRtString, 1, kLanguageEnglishUs);
  ASSERT_NE(strings, nullptr);
  EXPECT_NE(strings->bytes.find(Utf16("Java Runtime Environment not found.")), std::string::npos);
  const std::string original_strings = strings->bytes;

  const std::string bitmap(5000, 'B');  // larger than the section's old padding
  table.Put({kRtBitmap, 100, kLanguageNeutral, bitmap});
  table.Put({kRtRcData, 100, kLanguageNeutral, std::string("splash\0bytes", 12)});
  table.Put({ResourceId::Named(u"NXOTEST"), ResourceId::Named(u"ENTRY"), kLanguageEnglishUs, "us", 1252});
  table.Put({ResourceId::Named(u"NXOTEST"), ResourceId::Named(u"ENTRY"), 0x407, "de"});
  table.Put({ResourceId::Named(u"NXOTEST"), 7, kLanguageNeutral, "odd"});  // 3 bytes: the next blob realigns

  std::string image = stub_;
  ASSERT_TRUE(WriteResources(image, table).ok());
  ResourceTable read;
  Status status = ReadResources(image, read);
  ASSERT_TRUE(status.ok()) << status.message();
  ASSERT_EQ(read.entries().size(), table.entries().size());
  for (std::size_t i = 0; i < read.entries().size(); ++i) {
    const Resource& a = read.entries()[i];
    const Resource& b = table.entries()[i];
    EXPECT_EQ(std::tie(a.type, a.name, a.language, a.bytes, a.code_page),
              std::tie(b.type, b.name, b.language, b.bytes, b.code_page))
        << a.type.Describe() << "/" << a.name.Describe() << "/" << a.language;
  }
  EXPECT_EQ(read.Find(kRtString, 1, kLanguageEnglishUs)->bytes, original_strings);
  // Named entries come before numbered ones at every level.
  EXPECT_TRUE(read.entries().front().type.is_name());

  // The rewrite is deterministic.
  std::string again = stub_;
  ASSERT_TRUE(WriteResources(again, table).ok());
  EXPECT_EQ(again, image);
}

TEST_P(StubResources, HeadersDescribeTheRebuiltFile) {
  ResourceTable table;
  ASSERT_TRUE(ReadResources(stub_, table).ok());
  table.Put({kRtRcData, 100, kLanguageNeutral, std::string(70000, 'x')});
  std::string image = stub_;
  ASSERT_TRUE(WriteResources(image, table).ok());

  const Headers before(stub_), after(image);
  ASSERT_EQ(after.sections.size(), before.sections.size());
  const SectionHeader* rsrc = after.Named(".rsrc");
  ASSERT_NE(rsrc, nullptr);
  EXPECT_EQ(after.resources.first, rsrc->virtual_address);
  EXPECT_EQ(after.resources.second, rsrc->virtual_size);
  EXPECT_GE(rsrc->virtual_size, 70000u);
  // Sections stay in order, back to back in memory and in the file, and the
  // image size covers the last one.
  for (std::size_t i = 1; i < after.sections.size(); ++i) {
    const SectionHeader& prev = after.sections[i - 1];
    const SectionHeader& next = after.sections[i];
    EXPECT_EQ(next.virtual_address,
              AlignUp(prev.virtual_address + std::max(prev.virtual_size, prev.raw_size), after.section_alignment))
        << next.name;
    if (next.raw_size != 0 && prev.raw_size != 0) {
      EXPECT_EQ(next.raw_pointer, prev.raw_pointer + prev.raw_size) << next.name;
    }
    EXPECT_EQ(next.raw_pointer % after.file_alignment, 0u);
  }
  const SectionHeader& last = after.sections.back();
  EXPECT_EQ(after.size_of_image, AlignUp(last.virtual_address + std::max(last.virtual_size, last.raw_size), after.section_alignment));
  EXPECT_EQ(image.size(), static_cast<std::size_t>(last.raw_pointer) + last.raw_size);
  // The relocations moved whole, and their directory entry with them.
  const SectionHeader* old_reloc = before.Named(".reloc");
  const SectionHeader* new_reloc = after.Named(".reloc");
  ASSERT_NE(old_reloc, nullptr);
  ASSERT_NE(new_reloc, nullptr);
  EXPECT_GT(new_reloc->virtual_address, old_reloc->virtual_address);
  EXPECT_EQ(image.substr(new_reloc->raw_pointer, new_reloc->raw_size), stub_.substr(old_reloc->raw_pointer, old_reloc->raw_size));
  EXPECT_EQ(after.relocations.first - new_reloc->virtual_address, before.relocations.first - old_reloc->virtual_address);
  EXPECT_EQ(after.relocations.second, before.relocations.second);
  // Everything before the resources is unchanged but the header fields.
  EXPECT_EQ(image.substr(0x400, rsrc->raw_pointer - 0x400), stub_.substr(0x400, rsrc->raw_pointer - 0x400));
  EXPECT_EQ(after.checksum, PeChecksum(reinterpret_cast<const unsigned char*>(image.data()), image.size(), after.optional + 64));
  EXPECT_NE(after.checksum, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothTargets, StubResources, ::testing::Values("nxo-win32.exe", "nxo-win64.exe"),
                         [](const auto& info) { return std::string(info.param).substr(4, 5); });

TEST(PeChecksum, SkipsItsOwnFieldAndAddsTheLength) {
  // Words 0x0201 + 0x0403 (+ the odd byte 0x05) with the field at 2 skipped.
  const unsigned char bytes[] = {1, 2, 0xFF, 0xFF, 0xFF, 0xFF, 3, 4, 5};
  EXPECT_EQ(PeChecksum(bytes, sizeof bytes, 2), 0x0201u + 0x0403u + 0x05u + sizeof bytes);
  // The carry folds back into the low 16 bits.
  const unsigned char carry[] = {0xFF, 0xFF, 0, 0, 0, 0, 2, 0};
  EXPECT_EQ(PeChecksum(carry, sizeof carry, 2), 0x0002u + sizeof carry);
}

TEST(Refusals, DamagedTreesSignedImagesAndOtherFiles) {
  const std::string stub = ReadFile(std::string(NXO_SOURCE_DIR) + "/dist/stubs/nxo-win64.exe");
  ASSERT_GT(stub.size(), 1024u);
  ResourceTable table;
  EXPECT_FALSE(ReadResources("\x7F" "ELF and more bytes than a header needs, to be sure of it........", table).ok());

  const Headers headers(stub);
  const std::uint32_t directories = headers.optional + 112;
  std::string signed_image = stub;
  signed_image[directories + 32] = 0x10;  // a certificate table entry
  EXPECT_NE(WriteResources(signed_image, table).message().find("signed"), std::string::npos);

  // The root directory's first entry pointing far outside the section.
  const SectionHeader* rsrc = headers.Named(".rsrc");
  ASSERT_NE(rsrc, nullptr);
  std::string damaged = stub;
  damaged[rsrc->raw_pointer + 16 + 4 + 2] = 0x70;
  Status status = ReadResources(damaged, table);
  EXPECT_FALSE(status.ok());
  EXPECT_NE(status.message().find("damaged resource tree"), std::string::npos) << status.message();
}

}  // namespace
}  // namespace nxo::tool::pe
