// nxo: packs a Java application into one executable (a launcher stub with
// the payload appended) and shows what a packed executable holds.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/nxo/commands.h"

#ifndef NXO_VERSION
#define NXO_VERSION "0.0.0"
#endif

namespace {

const char kHelp[] =
    "Usage: nxo <command> [options]\n"
    "\n"
    "Commands:\n"
    "  pack      build an executable from a launcher stub, a configuration and jars\n"
    "  inspect   show the stub, configuration, archive and integrity of an executable\n"
    "\n"
    "Options:\n"
    "  -h, --help      show this help (\"nxo <command> --help\" for a command)\n"
    "  -V, --version   show the version\n";

}  // namespace

int main(int argc, char** argv) {
  // Configuration files without a byte-order mark are in the user's code page.
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kHelp, stderr);
    return nxo::tool::kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kHelp, stdout);
    return nxo::tool::kExitOk;
  }
  if (command == "-V" || command == "--version") {
    std::printf("nxo %s\n", NXO_VERSION);
    return nxo::tool::kExitOk;
  }
  if (command == "pack") return nxo::tool::RunPack(args);
  if (command == "inspect") return nxo::tool::RunInspect(args);
  std::fprintf(stderr, "nxo: unknown command '%s' (see nxo --help)\n", command.c_str());
  return nxo::tool::kExitUsage;
}
