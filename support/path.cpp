#include "support/path.h"

namespace nxo {

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithTrailingSeparator(std::string directory) {
  if (directory.empty() || !IsPathSeparator(directory.back())) directory.push_back('/');
  return directory;
}

std::string DirectoryPart(const std::string& path) {
  std::string::size_type last = path.find_last_of("\\/");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

}  // namespace nxo
