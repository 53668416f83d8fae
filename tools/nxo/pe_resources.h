// The resources of a Windows program image, as the packager edits them: the
// stub's resource tree is read into a table, entries are added or replaced,
// and the table is written back as the image's resource section. Writing
// rebuilds the whole tree, so the stub's own entries (its string table) stay;
// it moves the relocation section that follows, and fixes the section table,
// the data directory, the image size and the checksum.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/nxo/status.h"

namespace nxo::tool::pe {

// Resource types the packager writes.
inline constexpr std::uint16_t kRtBitmap = 2;
inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtString = 6;
inline constexpr std::uint16_t kRtRcData = 10;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kRtManifest = 24;

inline constexpr std::uint16_t kLanguageNeutral = 0;
inline constexpr std::uint16_t kLanguageEnglishUs = 0x409;

// A resource type or name: a number, or a name of 16-bit units. In a tree
// named entries come first, ordered by their units, then numbered ones in
// ascending order; the comparison gives that order.
class ResourceId {
 public:
  ResourceId(std::uint16_t number) : number_(number) {}  // NOLINT: ids read like numbers
  static ResourceId Named(std::u16string name);

  bool is_name() const { return is_name_; }
  std::uint16_t number() const { return number_; }
  const std::u16string& name() const { return name_; }
  std::string Describe() const;  // "14" or "\"APP\""

  std::strong_ordering operator<=>(const ResourceId& other) const;
  bool operator==(const ResourceId& other) const = default;

 private:
  bool is_name_ = false;
  std::uint16_t number_ = 0;
  std::u16string name_;
};

struct Resource {
  ResourceId type;
  ResourceId name;
  std::uint16_t language = kLanguageNeutral;
  std::string bytes;
  std::uint32_t code_page = 0;
};

// The resources of one image, kept in tree order (type, name, language).
class ResourceTable {
 public:
  // Adds |resource|, or replaces the entry of the same type, name and language.
  void Put(Resource resource);
  // Removes every language of (type, name); returns how many entries went.
  std::size_t Remove(const ResourceId& type, const ResourceId& name);
  // The entry, or null.
  const Resource* Find(const ResourceId& type, const ResourceId& name, std::uint16_t language) const;
  // The entries of one type, in tree order.
  std::vector<const Resource*> OfType(const ResourceId& type) const;
  const std::vector<Resource>& entries() const { return entries_; }

 private:
  std::vector<Resource> entries_;
};

// Reads the resource tree of |image| into |table| (left empty when the image
// has no resources). Fails for anything that is not a well-formed PE image or
// whose tree points outside its section.
Status ReadResources(std::string_view image, ResourceTable& table);

// Replaces the resources of |image| by |table|. The resource section must be
// followed by nothing but the base relocations (as the MinGW linker lays
// them out); an image without resources gets a new section before them. A
// signed image is refused: its signature would no longer match.
Status WriteResources(std::string& image, const ResourceTable& table);

// The image checksum of the optional header: 16-bit one's-complement sum over
// the whole file with the checksum field counted as zero, plus the file size.
std::uint32_t PeChecksum(const unsigned char* file, std::uint64_t size, std::uint64_t checksum_offset);

// Stores PeChecksum into |image|'s header; false when it is no PE image.
bool UpdatePeChecksum(std::string& image);

}  // namespace nxo::tool::pe
