#include "tools/nxo/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "support/bytes.h"

namespace nxo::tool::pe {

namespace {

// ---- Little-endian fields ------------------------------------------------------

// Fields at an offset of the image text, through support/bytes.h.
const unsigned char* At(std::string_view data, std::uint64_t at) {
  return reinterpret_cast<const unsigned char*>(data.data()) + at;
}

std::uint16_t Get16(std::string_view data, std::uint64_t at) { return ReadLe16(At(data, at)); }

std::uint32_t Get32(std::string_view data, std::uint64_t at) { return ReadLe32(At(data, at)); }

void Put16(std::string& data, std::uint64_t at, std::uint16_t value) {
  WriteLe16(reinterpret_cast<unsigned char*>(data.data()) + at, value);
}

void Put32(std::string& data, std::uint64_t at, std::uint32_t value) {
  WriteLe32(reinterpret_cast<unsigned char*>(data.data()) + at, value);
}

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

// ---- Headers -------------------------------------------------------------------

constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint32_t kRelocationDirectory = 5;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kInitializedData = 0x00000040;
constexpr std::uint32_t kMemoryRead = 0x40000000;

struct Section {
  std::string name;
  std::uint32_t virtual_size = 0;
  std::uint32_t virtual_address = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_pointer = 0;
  std::uint32_t characteristics = 0;
  std::uint32_t header_offset = 0;  // of its 40-byte header in the file

  std::uint32_t VirtualExtent() const { return std::max(virtual_size, raw_size); }
  bool HoldsRva(std::uint32_t rva) const { return rva >= virtual_address && rva - virtual_address < VirtualExtent(); }
};

struct Layout {
  std::uint32_t coff = 0;              // "PE\0\0" + 4
  std::uint32_t optional = 0;          // optional header
  std::uint32_t optional_size = 0;
  bool plus = false;                   // PE32+
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
  std::uint32_t size_of_headers = 0;
  std::uint32_t directories = 0;       // offset of the data directory
  std::uint32_t directory_count = 0;
  std::uint32_t section_table = 0;
  std::vector<Section> sections;

  std::uint32_t ChecksumOffset() const { return optional + 64; }
  std::uint32_t SizeOfImageOffset() const { return optional + 56; }
  std::uint32_t SizeOfInitializedDataOffset() const { return optional + 8; }
  std::uint32_t DirectoryOffset(std::uint32_t index) const { return directories + 8 * index; }

  // The section whose virtual range holds |rva|, or -1.
  int SectionOfRva(std::uint32_t rva) const {
    for (std::size_t i = 0; i < sections.size(); ++i)
      if (sections[i].HoldsRva(rva)) return static_cast<int>(i);
    return -1;
  }
};

Status ParseLayout(std::string_view image, Layout& layout) {
  const Status bad = Status::Error("not a well-formed PE image");
  if (image.size() < 0x40 || image.substr(0, 2) != "MZ") return bad;
  const std::uint32_t pe = Get32(image, 0x3C);
  if (pe > image.size() || image.size() - pe < 24 || image.substr(pe, 4) != std::string_view("PE\0\0", 4)) return bad;
  layout.coff = pe + 4;
  const std::uint16_t section_count = Get16(image, layout.coff + 2);
  layout.optional_size = Get16(image, layout.coff + 16);
  layout.optional = layout.coff + 20;
  if (layout.optional + std::uint64_t{layout.optional_size} > image.size() || layout.optional_size < 2) return bad;
  const std::uint16_t magic = Get16(image, layout.optional);
  if (magic != 0x10B && magic != 0x20B) return bad;
  layout.plus = magic == 0x20B;
  const std::uint32_t fixed = layout.plus ? 112 : 96;  // the optional header before its data directory
  if (layout.optional_size < fixed) return bad;
  layout.section_alignment = Get32(image, layout.optional + 32);
  layout.file_alignment = Get32(image, layout.optional + 36);
  layout.size_of_headers = Get32(image, layout.optional + 60);
  layout.directory_count = Get32(image, layout.optional + fixed - 4);
  layout.directories = layout.optional + fixed;
  if (layout.directory_count > (layout.optional_size - fixed) / 8) return bad;
  if (layout.file_alignment == 0 || layout.section_alignment == 0) return bad;
  layout.section_table = layout.optional + layout.optional_size;
  if (layout.section_table + std::uint64_t{section_count} * kSectionHeaderSize > image.size()) return bad;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    const std::uint32_t at = layout.section_table + i * kSectionHeaderSize;
    Section section;
    section.header_offset = at;
    section.name = std::string(image.substr(at, 8).data(), strnlen(image.data() + at, 8));
    section.virtual_size = Get32(image, at + 8);
    section.virtual_address = Get32(image, at + 12);
    section.raw_size = Get32(image, at + 16);
    section.raw_pointer = Get32(image, at + 20);
    section.characteristics = Get32(image, at + 36);
    if (std::uint64_t{section.raw_pointer} + section.raw_size > image.size()) return bad;
    layout.sections.push_back(section);
  }
  return Status::Ok();
}

struct Directory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

Directory ReadDirectory(std::string_view image, const Layout& layout, std::uint32_t index) {
  if (index >= layout.directory_count) return {};
  return {Get32(image, layout.DirectoryOffset(index)), Get32(image, layout.DirectoryOffset(index) + 4)};
}

// ---- Reading the tree ------------------------------------------------------------

class TreeReader {
 public:
  TreeReader(std::string_view section, std::uint32_t section_rva) : section_(section), rva_(section_rva) {}

  Status Read(ResourceTable& table) { return ReadLevel(0, 0, {}, table); }

 private:
  Status Bad(const std::string& what) const { return Status::Error("damaged resource tree: " + what); }

  bool Fits(std::uint64_t at, std::uint64_t size) const { return at <= section_.size() && size <= section_.size() - at; }

  Status ReadId(std::uint32_t field, ResourceId& id) const {
    if ((field & 0x80000000u) == 0) {
      id = ResourceId(static_cast<std::uint16_t>(field & 0xFFFF));
      return Status::Ok();
    }
    const std::uint32_t at = field & 0x7FFFFFFFu;
    if (!Fits(at, 2)) return Bad("a name lies outside the section");
    const std::uint16_t length = Get16(section_, at);
    if (!Fits(at + 2, std::uint64_t{length} * 2)) return Bad("a name lies outside the section");
    std::u16string name;
    for (std::uint16_t i = 0; i < length; ++i) name.push_back(static_cast<char16_t>(Get16(section_, at + 2 + 2u * i)));
    id = ResourceId::Named(std::move(name));
    return Status::Ok();
  }

  // Level 0: types, 1: names, 2: languages (whose entries point at data).
  Status ReadLevel(int level, std::uint32_t at, std::vector<ResourceId> path, ResourceTable& table) {
    if (!Fits(at, 16)) return Bad("a directory lies outside the section");
    const std::uint32_t count = std::uint32_t{Get16(section_, at + 12)} + Get16(section_, at + 14);
    if (!Fits(at + 16, std::uint64_t{count} * 8)) return Bad("a directory lies outside the section");
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t entry = at + 16 + 8 * i;
      ResourceId id(0);
      NXO_RETURN_IF_ERROR(ReadId(Get32(section_, entry), id));
      const std::uint32_t target = Get32(section_, entry + 4);
      const bool subdirectory = (target & 0x80000000u) != 0;
      if (subdirectory != (level < 2)) return Bad("the tree is not three levels deep");
      std::vector<ResourceId> deeper = path;
      deeper.push_back(id);
      if (subdirectory) {
        NXO_RETURN_IF_ERROR(ReadLevel(level + 1, target & 0x7FFFFFFFu, std::move(deeper), table));
        continue;
      }
      if (id.is_name()) return Bad("a language is a name");
      NXO_RETURN_IF_ERROR(ReadData(target, deeper, table));
    }
    return Status::Ok();
  }

  Status ReadData(std::uint32_t at, const std::vector<ResourceId>& path, ResourceTable& table) const {
    if (!Fits(at, 16)) return Bad("a data entry lies outside the section");
    const std::uint32_t data_rva = Get32(section_, at);
    const std::uint32_t size = Get32(section_, at + 4);
    if (data_rva < rva_ || !Fits(data_rva - rva_, size)) return Bad("resource data lies outside the section");
    Resource resource{path[0], path[1], path[2].number(), std::string(section_.substr(data_rva - rva_, size)),
                      Get32(section_, at + 8)};
    table.Put(std::move(resource));
    return Status::Ok();
  }

  std::string_view section_;
  std::uint32_t rva_;
};

// ---- Writing the tree -------------------------------------------------------------

// The tree as nested maps, in the order the directories list their entries.
using LanguageLevel = std::map<std::uint16_t, const Resource*>;
using NameLevel = std::map<ResourceId, LanguageLevel>;
using TypeLevel = std::map<ResourceId, NameLevel>;

class TreeWriter {
 public:
  TreeWriter(const ResourceTable& table, std::uint32_t section_rva) : rva_(section_rva) {
    for (const Resource& resource : table.entries()) tree_[resource.type][resource.name][resource.language] = &resource;
  }

  // Directories first, then the data entries, the names and the data, each
  // blob on an 8-byte boundary.
  std::string Build() {
    std::uint32_t directories = DirectorySize(tree_.size());
    std::uint32_t data_entries = 0;
    for (const auto& [type, names] : tree_) {
      directories += DirectorySize(names.size());
      for (const auto& [name, languages] : names) {
        directories += DirectorySize(languages.size());
        data_entries += 16 * static_cast<std::uint32_t>(languages.size());
      }
    }
    next_directory_ = 0;
    next_data_entry_ = directories;
    next_name_ = directories + data_entries;
    std::uint32_t names_size = 0;
    for (const auto& [type, names] : tree_) {
      names_size += NameSize(type);
      for (const auto& [name, languages] : names) names_size += NameSize(name);
    }
    next_data_ = static_cast<std::uint32_t>(AlignUp(next_name_ + names_size, 8));
    std::uint32_t total = next_data_;
    for (const auto& [type, names] : tree_)
      for (const auto& [name, languages] : names)
        for (const auto& [language, resource] : languages)
          total = static_cast<std::uint32_t>(AlignUp(total + resource->bytes.size(), 8));
    out_.assign(total, '\0');

    const std::uint32_t root = Directory(tree_.size(), CountNamed(tree_));
    std::uint32_t slot = root + 16;
    for (const auto& [type, names] : tree_) {
      const std::uint32_t name_directory = Directory(names.size(), CountNamed(names));
      Entry(slot, type, name_directory | 0x80000000u);
      slot += 8;
      std::uint32_t name_slot = name_directory + 16;
      for (const auto& [name, languages] : names) {
        const std::uint32_t language_directory = Directory(languages.size(), 0);
        Entry(name_slot, name, language_directory | 0x80000000u);
        name_slot += 8;
        std::uint32_t language_slot = language_directory + 16;
        for (const auto& [language, resource] : languages) {
          Entry(language_slot, ResourceId(language), DataEntry(*resource));
          language_slot += 8;
        }
      }
    }
    return std::move(out_);
  }

 private:
  static std::uint32_t DirectorySize(std::size_t entries) { return 16 + 8 * static_cast<std::uint32_t>(entries); }
  static std::uint32_t NameSize(const ResourceId& id) {
    return id.is_name() ? 2 + 2 * static_cast<std::uint32_t>(id.name().size()) : 0;
  }
  template <typename Level>
  static std::size_t CountNamed(const Level& level) {
    return static_cast<std::size_t>(
        std::count_if(level.begin(), level.end(), [](const auto& item) { return item.first.is_name(); }));
  }

  std::uint32_t Directory(std::size_t entries, std::size_t named) {
    const std::uint32_t at = next_directory_;
    next_directory_ += DirectorySize(entries);
    Put16(out_, at + 12, static_cast<std::uint16_t>(named));
    Put16(out_, at + 14, static_cast<std::uint16_t>(entries - named));
    return at;
  }

  void Entry(std::uint32_t at, const ResourceId& id, std::uint32_t target) {
    if (id.is_name()) {
      const std::uint32_t name_at = next_name_;
      Put16(out_, name_at, static_cast<std::uint16_t>(id.name().size()));
      for (std::size_t i = 0; i < id.name().size(); ++i) Put16(out_, name_at + 2 + 2 * i, id.name()[i]);
      next_name_ += NameSize(id);
      Put32(out_, at, name_at | 0x80000000u);
    } else {
      Put32(out_, at, id.number());
    }
    Put32(out_, at + 4, target);
  }

  std::uint32_t DataEntry(const Resource& resource) {
    const std::uint32_t at = next_data_entry_;
    next_data_entry_ += 16;
    std::memcpy(out_.data() + next_data_, resource.bytes.data(), resource.bytes.size());
    Put32(out_, at, rva_ + next_data_);
    Put32(out_, at + 4, static_cast<std::uint32_t>(resource.bytes.size()));
    Put32(out_, at + 8, resource.code_page);
    next_data_ = static_cast<std::uint32_t>(AlignUp(next_data_ + resource.bytes.size(), 8));
    return at;
  }

  TypeLevel tree_;
  std::uint32_t rva_;
  std::string out_;
  std::uint32_t next_directory_ = 0;
  std::uint32_t next_data_entry_ = 0;
  std::uint32_t next_name_ = 0;
  std::uint32_t next_data_ = 0;
};

void WriteSectionHeader(std::string& image, std::uint32_t at, const Section& section) {
  std::memset(image.data() + at, 0, kSectionHeaderSize);
  std::memcpy(image.data() + at, section.name.data(), std::min<std::size_t>(section.name.size(), 8));
  Put32(image, at + 8, section.virtual_size);
  Put32(image, at + 12, section.virtual_address);
  Put32(image, at + 16, section.raw_size);
  Put32(image, at + 20, section.raw_pointer);
  Put32(image, at + 36, section.characteristics);
}

}  // namespace

// ---- ResourceId and ResourceTable ---------------------------------------------------

ResourceId ResourceId::Named(std::u16string name) {
  ResourceId id(0);
  id.is_name_ = true;
  id.name_ = std::move(name);
  return id;
}

std::string ResourceId::Describe() const {
  if (!is_name_) return std::to_string(number_);
  std::string text = "\"";
  for (char16_t unit : name_) text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return text + "\"";
}

std::strong_ordering ResourceId::operator<=>(const ResourceId& other) const {
  if (is_name_ != other.is_name_) return is_name_ ? std::strong_ordering::less : std::strong_ordering::greater;
  if (!is_name_) return number_ <=> other.number_;
  return name_ <=> other.name_;
}

void ResourceTable::Put(Resource resource) {
  auto key = [](const Resource& r) { return std::tie(r.type, r.name, r.language); };
  auto at = std::lower_bound(entries_.begin(), entries_.end(), resource,
                             [&](const Resource& a, const Resource& b) { return key(a) < key(b); });
  if (at != entries_.end() && key(*at) == key(resource)) {
    *at = std::move(resource);
  } else {
    entries_.insert(at, std::move(resource));
  }
}

std::size_t ResourceTable::Remove(const ResourceId& type, const ResourceId& name) {
  return std::erase_if(entries_, [&](const Resource& r) { return r.type == type && r.name == name; });
}

const Resource* ResourceTable::Find(const ResourceId& type, const ResourceId& name, std::uint16_t language) const {
  for (const Resource& r : entries_)
    if (r.type == type && r.name == name && r.language == language) return &r;
  return nullptr;
}

std::vector<const Resource*> ResourceTable::OfType(const ResourceId& type) const {
  std::vector<const Resource*> found;
  for (const Resource& r : entries_)
    if (r.type == type) found.push_back(&r);
  return found;
}

// ---- Reading and writing images ------------------------------------------------------

Status ReadResources(std::string_view image, ResourceTable& table) {
  table = ResourceTable();
  Layout layout;
  NXO_RETURN_IF_ERROR(ParseLayout(image, layout));
  const Directory resources = ReadDirectory(image, layout, kResourceDirectory);
  if (resources.rva == 0) return Status::Ok();
  const int index = layout.SectionOfRva(resources.rva);
  if (index < 0) return Status::Error("the resource directory lies in no section");
  const Section& section = layout.sections[static_cast<std::size_t>(index)];
  const std::uint32_t offset = resources.rva - section.virtual_address;
  if (offset >= section.raw_size) return Status::Error("the resource directory lies outside the section's data");
  const std::string_view bytes = image.substr(section.raw_pointer, std::min(section.raw_size, section.VirtualExtent()));
  // Data RVAs count from the section's start; the tree's own offsets from the
  // directory's, which is where the section begins in every linker's layout.
  if (offset != 0) return Status::Error("the resource directory does not begin its section");
  return TreeReader(bytes, section.virtual_address).Read(table);
}

Status WriteResources(std::string& image, const ResourceTable& table) {
  Layout layout;
  NXO_RETURN_IF_ERROR(ParseLayout(image, layout));
  if (layout.directory_count <= kRelocationDirectory)
    return Status::Error("the image's data directory has no resource entry");
  if (ReadDirectory(image, layout, kSecurityDirectory).rva != 0)
    return Status::Error("the image is signed: sign it after its resources are written");
  std::vector<Section>& sections = layout.sections;
  if (sections.empty()) return Status::Error("the image has no sections");

  // The resource section, or where a new one goes: before the relocations
  // that end the image, or at the end.
  const Directory old_resources = ReadDirectory(image, layout, kResourceDirectory);
  std::size_t first_moved = sections.size();
  std::optional<std::size_t> existing;
  if (old_resources.rva != 0) {
    const int index = layout.SectionOfRva(old_resources.rva);
    if (index < 0 || sections[static_cast<std::size_t>(index)].virtual_address != old_resources.rva)
      return Status::Error("the resource directory does not begin a section");
    existing = static_cast<std::size_t>(index);
    first_moved = *existing + 1;
  } else if (sections.back().name == ".reloc") {
    first_moved = sections.size() - 1;
  }
  // Only the relocations can move: nothing but their directory entry points
  // at them. Sections of code or data may be addressed from anywhere.
  for (std::size_t i = first_moved; i < sections.size(); ++i)
    if (sections[i].name != ".reloc")
      return Status::Error("section " + Quoted(sections[i].name) +
                           " follows the resources and cannot be moved (is the stub stripped?)");
  for (std::uint32_t d = 0; d < layout.directory_count; ++d) {
    if (d == kResourceDirectory || d == kRelocationDirectory || d == kSecurityDirectory) continue;
    const Directory entry = ReadDirectory(image, layout, d);
    const int in = entry.rva == 0 ? -1 : layout.SectionOfRva(entry.rva);
    if (in >= 0 && existing && static_cast<std::size_t>(in) == *existing)
      return Status::Error("data directory entry " + std::to_string(d) + " points into the resource section");
    if (in >= 0 && static_cast<std::size_t>(in) >= first_moved)
      return Status::Error("data directory entry " + std::to_string(d) + " points into a section that must move");
  }

  const std::size_t insert_at = existing ? *existing : first_moved;
  const Section& first_after = insert_at < sections.size() ? sections[insert_at] : sections.back();
  Section resource_section;
  if (existing) {
    resource_section = sections[*existing];
  } else {
    const std::uint64_t table_end = layout.section_table + (sections.size() + 1) * std::uint64_t{kSectionHeaderSize};
    std::uint32_t first_raw = UINT32_MAX;
    for (const Section& s : sections)
      if (s.raw_size != 0) first_raw = std::min(first_raw, s.raw_pointer);
    if (table_end > layout.size_of_headers || table_end > first_raw)
      return Status::Error("the image's headers have no room for another section");
    resource_section.name = ".rsrc";
    resource_section.characteristics = kInitializedData | kMemoryRead;
    if (insert_at < sections.size()) {
      resource_section.virtual_address = first_after.virtual_address;
      resource_section.raw_pointer = first_after.raw_pointer;
    } else {
      const Section& last = sections.back();
      resource_section.virtual_address =
          static_cast<std::uint32_t>(AlignUp(std::uint64_t{last.virtual_address} + last.VirtualExtent(), layout.section_alignment));
      resource_section.raw_pointer = static_cast<std::uint32_t>(AlignUp(std::uint64_t{last.raw_pointer} + last.raw_size, layout.file_alignment));
    }
  }
  const std::string tree = TreeWriter(table, resource_section.virtual_address).Build();
  const std::uint32_t old_raw_size = existing ? resource_section.raw_size : 0;
  resource_section.virtual_size = static_cast<std::uint32_t>(tree.size());
  resource_section.raw_size = static_cast<std::uint32_t>(AlignUp(tree.size(), layout.file_alignment));

  // What follows the resources: the relocation sections, then whatever the
  // file carries after its last section.
  std::uint64_t sections_end = 0;
  for (const Section& s : sections) sections_end = std::max<std::uint64_t>(sections_end, std::uint64_t{s.raw_pointer} + s.raw_size);
  std::string rebuilt = image.substr(0, std::min<std::uint64_t>(resource_section.raw_pointer, sections_end));
  rebuilt.resize(resource_section.raw_pointer, '\0');
  rebuilt += tree;
  rebuilt.resize(rebuilt.size() + (resource_section.raw_size - tree.size()), '\0');

  std::vector<Section> moved(sections.begin() + static_cast<std::ptrdiff_t>(first_moved), sections.end());
  std::uint64_t next_rva = AlignUp(std::uint64_t{resource_section.virtual_address} + resource_section.VirtualExtent(),
                                   layout.section_alignment);
  const Directory relocations = ReadDirectory(image, layout, kRelocationDirectory);
  std::uint32_t new_relocation_rva = relocations.rva;
  for (Section& section : moved) {
    const std::string data = image.substr(section.raw_pointer, section.raw_size);
    if (relocations.rva != 0 && section.HoldsRva(relocations.rva))
      new_relocation_rva = static_cast<std::uint32_t>(relocations.rva - section.virtual_address + next_rva);
    section.virtual_address = static_cast<std::uint32_t>(next_rva);
    section.raw_pointer = section.raw_size == 0 ? 0 : static_cast<std::uint32_t>(rebuilt.size());
    rebuilt += data;
    next_rva = AlignUp(next_rva + section.VirtualExtent(), layout.section_alignment);
  }
  if (image.size() > sections_end) rebuilt += image.substr(sections_end);

  // The section table: the sections before, the resources, the moved ones.
  std::vector<Section> table_sections(sections.begin(), sections.begin() + static_cast<std::ptrdiff_t>(insert_at));
  table_sections.push_back(resource_section);
  table_sections.insert(table_sections.end(), moved.begin(), moved.end());
  for (std::size_t i = 0; i < table_sections.size(); ++i)
    WriteSectionHeader(rebuilt, layout.section_table + static_cast<std::uint32_t>(i) * kSectionHeaderSize, table_sections[i]);
  Put16(rebuilt, layout.coff + 2, static_cast<std::uint16_t>(table_sections.size()));

  const Section& last = table_sections.back();
  Put32(rebuilt, layout.SizeOfImageOffset(),
        static_cast<std::uint32_t>(AlignUp(std::uint64_t{last.virtual_address} + last.VirtualExtent(), layout.section_alignment)));
  const std::uint32_t initialized = Get32(rebuilt, layout.SizeOfInitializedDataOffset());
  Put32(rebuilt, layout.SizeOfInitializedDataOffset(), initialized - old_raw_size + resource_section.raw_size);
  Put32(rebuilt, layout.DirectoryOffset(kResourceDirectory), table.entries().empty() ? 0 : resource_section.virtual_address);
  Put32(rebuilt, layout.DirectoryOffset(kResourceDirectory) + 4, table.entries().empty() ? 0 : resource_section.virtual_size);
  Put32(rebuilt, layout.DirectoryOffset(kRelocationDirectory), new_relocation_rva);
  image = std::move(rebuilt);
  UpdatePeChecksum(image);
  return Status::Ok();
}

std::uint32_t PeChecksum(const unsigned char* file, std::uint64_t size, std::uint64_t checksum_offset) {
  std::uint64_t sum = 0;
  for (std::uint64_t at = 0; at < size; at += 2) {
    if (at == checksum_offset || at == checksum_offset + 2) continue;
    const std::uint32_t word = at + 1 < size ? ReadLe16(file + at) : file[at];
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + size);
}

bool UpdatePeChecksum(std::string& image) {
  Layout layout;
  if (!ParseLayout(image, layout).ok()) return false;
  Put32(image, layout.ChecksumOffset(),
        PeChecksum(reinterpret_cast<const unsigned char*>(image.data()), image.size(), layout.ChecksumOffset()));
  return true;
}

}  // namespace nxo::tool::pe
