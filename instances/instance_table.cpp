#include "instances/instance_table.h"

namespace nxo::instances {

std::string MappingName(const std::string& appid) {
  std::string name = appid;
  for (char& c : name)
    if (c == '\\') c = '.';
  return name + ".nxo.mapping";
}

std::string MutexName(const std::string& appid, const std::string& executable_path) {
  std::string name = appid.empty() ? executable_path : appid;
  for (char& c : name)
    if (c == ':' || c == '\\') c = '.';
  return name + ".nxo.mutex";
}

}  // namespace nxo::instances
