#include "tools/nxo/app_resources.h"

#include <expat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/bytes.h"
#include "support/text.h"
#include "tools/nxo/files.h"

namespace nxo::tool {

namespace {

using pe::ResourceId;

// Resource data is little-endian; these read and patch it in a std::string.
const unsigned char* At(const std::string& data, std::size_t at) {
  return reinterpret_cast<const unsigned char*>(data.data()) + at;
}
std::uint16_t Le16(const std::string& data, std::size_t at) { return ReadLe16(At(data, at)); }
std::uint32_t Le32(const std::string& data, std::size_t at) { return ReadLe32(At(data, at)); }
void Set16(std::string& out, std::size_t at, std::uint32_t value) {
  WriteLe16(reinterpret_cast<unsigned char*>(out.data()) + at, static_cast<std::uint16_t>(value));
}
void PadTo4(std::string& out) {
  while (out.size() % 4 != 0) out.push_back('\0');
}

// The language every resource of ours carries, as the stub's string table does.
constexpr std::uint16_t kLanguage = pe::kLanguageEnglishUs;
constexpr std::uint16_t kCodePageUnicode = 1200;
constexpr std::uint16_t kManifestId = 1;  // the manifest a process is created with
constexpr std::uint16_t kGroupIconId = 1;

// ---- Icon ------------------------------------------------------------------------

constexpr std::size_t kIconHeaderSize = 6;
constexpr std::size_t kIconEntrySize = 16;

Status AddIcon(const std::string& path, pe::ResourceTable& table) {
  std::string bytes;
  NXO_RETURN_IF_ERROR(ReadWholeFile(path, bytes));
  std::vector<IconImage> images;
  Status parsed = ParseIconFile(bytes, images);
  if (!parsed.ok()) return Status::Error("--icon " + Quoted(path) + " is not an icon file: " + parsed.message());
  // The icon is the application's: the stub's own icons (if a custom stub has
  // any) would otherwise come first in Explorer.
  for (const std::uint16_t type : {pe::kRtGroupIcon, pe::kRtIcon}) {
    std::vector<ResourceId> names;
    for (const pe::Resource* r : table.OfType(type)) names.push_back(r->name);
    for (const ResourceId& name : names) table.Remove(type, name);
  }
  std::string group;
  AppendLe16(group, 0);
  AppendLe16(group, 1);
  AppendLe16(group, static_cast<std::uint32_t>(images.size()));
  for (std::size_t i = 0; i < images.size(); ++i) {
    const auto id = static_cast<std::uint16_t>(i + 1);
    group += images[i].entry.substr(0, 12);  // size, colours, planes, bits, bytes
    AppendLe16(group, id);
    table.Put({pe::kRtIcon, id, kLanguage, images[i].bytes});
  }
  table.Put({pe::kRtGroupIcon, kGroupIconId, kLanguage, group});
  return Status::Ok();
}

// ---- Version information ----------------------------------------------------------

constexpr std::array<const char*, 8> kVersionKeys = {"FileDescription", "ProductName",      "CompanyName",
                                                      "LegalCopyright",  "OriginalFilename", "InternalName",
                                                      "FileVersion",     "ProductVersion"};

Status ParseFourPartVersion(const std::string& key, const std::string& text, std::uint16_t parts[4]) {
  const Status bad = Status::Error("version " + key + "=" + Quoted(text) + " is not a.b.c.d (four numbers 0-65535)");
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == at || end - at > 5) return bad;
    const unsigned long value = std::stoul(text.substr(at, end - at));
    if (value > 0xFFFF) return bad;
    parts[i] = static_cast<std::uint16_t>(value);
    if (i < 3 && (end >= text.size() || text[end] != '.')) return bad;
    at = end + 1;
  }
  if (at - 1 != text.size()) return bad;
  return Status::Ok();
}

// One node of the version tree: length, value length, type, key, value, children.
std::string VersionNode(const std::string& key, const std::string& value, std::uint16_t value_length, bool text,
                        const std::vector<std::string>& children) {
  std::string out(6, '\0');
  const std::u16string wide_key = DecodeUtf8(key);
  for (char16_t unit : wide_key) AppendLe16(out, unit);
  AppendLe16(out, 0);
  PadTo4(out);
  out += value;
  for (const std::string& child : children) {
    PadTo4(out);
    out += child;
  }
  Set16(out, 0, static_cast<std::uint32_t>(out.size()));
  Set16(out, 2, value_length);
  Set16(out, 4, text ? 1 : 0);
  return out;
}

std::string StringNode(const std::string& key, const std::string& utf8_value) {
  std::string value;
  const std::u16string wide = DecodeUtf8(utf8_value);
  for (char16_t unit : wide) AppendLe16(value, unit);
  AppendLe16(value, 0);
  return VersionNode(key, value, static_cast<std::uint16_t>(wide.size() + 1), true, {});
}

Status ReadVersionFile(const std::string& path, std::vector<std::string>& settings) {
  std::string text;
  NXO_RETURN_IF_ERROR(ReadWholeFile(path, text));
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] != '#') {
      if (line.find('=') == std::string::npos)
        return Status::Error("--version-file " + Quoted(path) + ": line " + Quoted(line) + " is not KEY=VALUE");
      settings.push_back(line.substr(first));
    }
    start = end + 1;
  }
  return Status::Ok();
}

// ---- Manifest -----------------------------------------------------------------------

Status AddManifest(const ResourceOptions& options, pe::ResourceTable& table) {
  table.Remove(pe::kRtManifest, kManifestId);
  if (options.manifest == ManifestChoice::kNone) return Status::Ok();
  std::string text;
  if (options.manifest == ManifestChoice::kFile) {
    NXO_RETURN_IF_ERROR(ReadWholeFile(*options.manifest_file, text));
    Status checked = CheckWellFormedXml(text);
    if (!checked.ok())
      return Status::Error("--manifest " + Quoted(*options.manifest_file) + " is not well-formed XML: " + checked.message());
  } else {
    text = DefaultManifest(!options.ansi_code_page);
  }
  table.Put({pe::kRtManifest, kManifestId, kLanguage, text});
  return Status::Ok();
}

std::string TypeName(const ResourceId& type) {
  if (type.is_name()) return type.Describe();
  switch (type.number()) {
    case pe::kRtBitmap: return "bitmap";
    case pe::kRtIcon: return "icon";
    case pe::kRtString: return "string table";
    case pe::kRtRcData: return "data";
    case pe::kRtGroupIcon: return "group icon";
    case pe::kRtVersion: return "version";
    case pe::kRtManifest: return "manifest";
    default: return "type " + type.Describe();
  }
}

std::size_t Align4(std::size_t at) { return (at + 3) & ~static_cast<std::size_t>(3); }

// The "Key: value" lines of a version resource's string tables: the nodes
// at depth 3 (VS_VERSION_INFO, StringFileInfo, the table, the string).
void CollectVersionStrings(const std::string& bytes, std::size_t at, std::size_t end, int depth,
                           std::vector<std::string>& lines) {
  while (at + 6 <= end) {
    const std::size_t length = Le16(bytes, at);
    const std::size_t value_length = Le16(bytes, at + 2);
    const bool text = Le16(bytes, at + 4) == 1;
    if (length < 6 || at + length > end) return;
    std::u16string key;
    std::size_t k = at + 6;
    for (; k + 2 <= at + length && Le16(bytes, k) != 0; k += 2) key.push_back(static_cast<char16_t>(Le16(bytes, k)));
    const std::size_t value = Align4(k + 2);
    const std::size_t value_bytes = text ? 2 * value_length : value_length;
    if (value + value_bytes > at + length && value_length != 0) return;
    if (depth == 3 && text) {
      std::u16string units;
      for (std::size_t v = value; v + 2 <= value + value_bytes && Le16(bytes, v) != 0; v += 2)
        units.push_back(static_cast<char16_t>(Le16(bytes, v)));
      lines.push_back(EncodeUtf8(key) + ": " + EncodeUtf8(units));
    } else if (depth < 3) {
      CollectVersionStrings(bytes, Align4(value + value_bytes), at + length, depth + 1, lines);
    }
    at = Align4(at + length);
  }
}

}  // namespace

Status ParseIconFile(const std::string& bytes, std::vector<IconImage>& images) {
  images.clear();
  if (bytes.size() < kIconHeaderSize || Le16(bytes, 0) != 0 || Le16(bytes, 2) != 1)
    return Status::Error("no icon header");
  const std::size_t count = Le16(bytes, 4);
  if (count == 0) return Status::Error("it holds no images");
  if (bytes.size() < kIconHeaderSize + count * kIconEntrySize) return Status::Error("its directory is cut short");
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kIconHeaderSize + i * kIconEntrySize;
    const std::uint32_t size = Le32(bytes, at + 8);
    const std::uint32_t offset = Le32(bytes, at + 12);
    if (size == 0 || offset > bytes.size() || size > bytes.size() - offset)
      return Status::Error("image " + std::to_string(i + 1) + " lies outside the file");
    std::string image = bytes.substr(offset, size);
    const bool png = image.rfind("\x89PNG\r\n\x1A\n", 0) == 0;
    const std::uint32_t header = size >= 4 ? Le32(image, 0) : 0;
    const bool dib = header == 40 || header == 108 || header == 124;
    if (!png && !dib) return Status::Error("image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG");
    images.push_back({bytes.substr(at, kIconEntrySize), std::move(image)});
  }
  return Status::Ok();
}

Status BuildVersionInfo(const std::vector<std::string>& settings, const std::string& output_name, VersionInfo& info) {
  const std::string stem = std::filesystem::path(output_name).stem().string();
  std::vector<std::pair<std::string, std::string>> values = {
      {"FileDescription", stem}, {"ProductName", stem},   {"CompanyName", ""},        {"LegalCopyright", ""},
      {"OriginalFilename", output_name}, {"InternalName", stem}, {"FileVersion", "1.0.0.0"}, {"ProductVersion", ""}};
  for (const std::string& setting : settings) {
    const std::size_t equals = setting.find('=');
    const std::string key = setting.substr(0, equals);
    if (equals == std::string::npos) return Status::Error("--version " + Quoted(setting) + " is not KEY=VALUE");
    auto known = std::find_if(values.begin(), values.end(), [&](const auto& v) { return EqualsIgnoreCase(v.first, key); });
    if (known == values.end()) {
      std::string names;
      for (const char* name : kVersionKeys) names += std::string(names.empty() ? "" : ", ") + name;
      return Status::Error("unknown version key " + Quoted(key) + " (known: " + names + ")");
    }
    const std::string value = setting.substr(equals + 1);
    if (value.find_first_of(std::string("\0", 1)) != std::string::npos)
      return Status::Error("version " + known->first + " holds a zero byte");
    known->second = value;
  }
  auto value_of = [&](const char* key) -> std::string& {
    return std::find_if(values.begin(), values.end(), [&](const auto& v) { return v.first == key; })->second;
  };
  if (value_of("ProductVersion").empty()) value_of("ProductVersion") = value_of("FileVersion");
  NXO_RETURN_IF_ERROR(ParseFourPartVersion("FileVersion", value_of("FileVersion"), info.file_version));
  NXO_RETURN_IF_ERROR(ParseFourPartVersion("ProductVersion", value_of("ProductVersion"), info.product_version));
  info.strings.clear();
  for (const auto& [key, value] : values)
    if (!value.empty()) info.strings.emplace_back(key, value);
  return Status::Ok();
}

std::string EncodeVersionInfo(const VersionInfo& info) {
  std::string fixed;
  AppendLe32(fixed, 0xFEEF04BD);  // signature
  AppendLe32(fixed, 0x00010000);  // structure version 1.0
  AppendLe32(fixed, static_cast<std::uint32_t>(info.file_version[0]) << 16 | info.file_version[1]);
  AppendLe32(fixed, static_cast<std::uint32_t>(info.file_version[2]) << 16 | info.file_version[3]);
  AppendLe32(fixed, static_cast<std::uint32_t>(info.product_version[0]) << 16 | info.product_version[1]);
  AppendLe32(fixed, static_cast<std::uint32_t>(info.product_version[2]) << 16 | info.product_version[3]);
  AppendLe32(fixed, 0x3F);        // flags mask
  AppendLe32(fixed, 0);           // flags
  AppendLe32(fixed, 0x00040004);  // VOS_NT_WINDOWS32
  AppendLe32(fixed, 1);           // VFT_APP
  AppendLe32(fixed, 0);           // subtype
  AppendLe32(fixed, 0);           // date
  AppendLe32(fixed, 0);

  std::vector<std::string> strings;
  for (const auto& [key, value] : info.strings) strings.push_back(StringNode(key, value));
  const std::string string_table = VersionNode("040904B0", "", 0, true, strings);  // US English, Unicode
  const std::string string_info = VersionNode("StringFileInfo", "", 0, true, {string_table});
  std::string translation;
  AppendLe16(translation, kLanguage);
  AppendLe16(translation, kCodePageUnicode);
  const std::string var = VersionNode("Translation", translation, 4, false, {});
  const std::string var_info = VersionNode("VarFileInfo", "", 0, true, {var});
  return VersionNode("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), false, {string_info, var_info});
}

std::string DefaultManifest(bool utf8_code_page) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
      "    <application>\r\n"
      "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/><!-- Windows 7 -->\r\n"
      "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/><!-- Windows 8 -->\r\n"
      "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/><!-- Windows 8.1 -->\r\n"
      "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/><!-- Windows 10 and 11 -->\r\n"
      "    </application>\r\n"
      "  </compatibility>\r\n"
      "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <windowsSettings>\r\n"
      "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\r\n"
      "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>\r\n"
      "      <longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>\r\n";
  if (utf8_code_page)
    text += "      <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>\r\n";
  text +=
      "    </windowsSettings>\r\n"
      "  </application>\r\n"
      "</assembly>\r\n";
  return text;
}

Status CheckWellFormedXml(const std::string& text) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) return Status::Error("out of memory");
  const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
  std::string message;
  if (!ok)
    message = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
              std::to_string(XML_GetCurrentLineNumber(parser));
  XML_ParserFree(parser);
  return ok ? Status::Ok() : Status::Error(message);
}

Status AddApplicationResources(const ResourceOptions& options, const std::string& output_name, pe::ResourceTable& table) {
  if (options.icon) NXO_RETURN_IF_ERROR(AddIcon(*options.icon, table));
  std::vector<std::string> settings;
  if (options.version_file) NXO_RETURN_IF_ERROR(ReadVersionFile(*options.version_file, settings));
  settings.insert(settings.end(), options.version_settings.begin(), options.version_settings.end());
  VersionInfo info;
  NXO_RETURN_IF_ERROR(BuildVersionInfo(settings, output_name, info));
  table.Remove(pe::kRtVersion, 1);
  table.Put({pe::kRtVersion, 1, kLanguage, EncodeVersionInfo(info)});
  return AddManifest(options, table);
}

Status WriteStubResources(const ResourceOptions& options, const std::string& output_name, std::string& image) {
  pe::ResourceTable table;
  Status read = pe::ReadResources(image, table);
  if (!read.ok()) return Status::Error("the stub's resources cannot be read: " + read.message());
  NXO_RETURN_IF_ERROR(AddApplicationResources(options, output_name, table));
  Status written = pe::WriteResources(image, table);
  if (!written.ok()) return Status::Error("the stub's resources cannot be written: " + written.message());
  return Status::Ok();
}

std::vector<std::string> DescribeResources(const pe::ResourceTable& table) {
  std::vector<std::string> lines;
  for (const pe::Resource& r : table.entries()) {
    char language[8];
    std::snprintf(language, sizeof language, "%04x", r.language);
    lines.push_back(TypeName(r.type) + " " + r.name.Describe() + ", language " + language + ", " +
                    std::to_string(r.bytes.size()) + " bytes");
    if (r.type == ResourceId(pe::kRtVersion)) {
      std::vector<std::string> strings;
      CollectVersionStrings(r.bytes, 0, r.bytes.size(), 0, strings);
      for (const std::string& line : strings) lines.push_back("  " + line);
    }
  }
  return lines;
}

}  // namespace nxo::tool
