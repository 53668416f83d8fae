// The application's own resources in a Windows executable: its icon, its
// version information and its manifest, made from the packager's options and
// put into the stub's resource table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/nxo/pe_resources.h"
#include "tools/nxo/status.h"

namespace nxo::tool {

enum class ManifestChoice { kDefault, kFile, kNone };

struct ResourceOptions {
  std::optional<std::string> icon;             // --icon FILE.ico
  std::vector<std::string> version_settings;   // --version KEY=VALUE, in order
  std::optional<std::string> version_file;     // --version-file FILE
  ManifestChoice manifest = ManifestChoice::kDefault;
  std::optional<std::string> manifest_file;    // --manifest FILE
  bool ansi_code_page = false;                 // --ansi-code-page
};

// Adds the icon, the version information and the manifest to |table|.
// |output_name| is the executable's file name, which the version strings
// default to. Bad input fails with one line naming it.
Status AddApplicationResources(const ResourceOptions& options, const std::string& output_name, pe::ResourceTable& table);

// Reads the resources of the stub |image|, adds the application's and writes
// them back.
Status WriteStubResources(const ResourceOptions& options, const std::string& output_name, std::string& image);

// The parts, for the tests and for nxo inspect.
struct IconImage {
  std::string entry;  // the 16-byte directory entry of the .ico file
  std::string bytes;  // the image: a DIB or a PNG
};
Status ParseIconFile(const std::string& bytes, std::vector<IconImage>& images);

struct VersionInfo {
  std::uint16_t file_version[4] = {0, 0, 0, 0};
  std::uint16_t product_version[4] = {0, 0, 0, 0};
  std::vector<std::pair<std::string, std::string>> strings;  // key, UTF-8 value, in the table's order
};
Status BuildVersionInfo(const std::vector<std::string>& settings, const std::string& output_name, VersionInfo& info);
std::string EncodeVersionInfo(const VersionInfo& info);

std::string DefaultManifest(bool utf8_code_page);
Status CheckWellFormedXml(const std::string& text);

// One line per resource: type, name, language, size (and what it is).
std::vector<std::string> DescribeResources(const pe::ResourceTable& table);

}  // namespace nxo::tool
