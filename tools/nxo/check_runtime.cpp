// nxo inspect --check-runtime: runs the packed executable's own runtime
// search on this machine (Windows executables under Wine) and shows the
// search part of its diagnostic trail. The executable is started with
// NXO_CHECK_RUNTIME set, which makes it search and end without starting a
// JVM, and with NXO_TRACE naming a scratch file.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/nxo/check_runtime.h"
#include "tools/nxo/commands.h"
#include "tools/nxo/files.h"

extern char** environ;

namespace nxo::tool {

namespace {

const char kCommand[] = "inspect";

// Wine shows the Unix root as drive Z:.
std::string WinePath(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

int RunAndWait(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// "    1234 search: text" -> "text" when the line is of the search area.
bool SearchPart(const std::string& line, std::string& text) {
  const std::string marker = " search: ";
  const std::string::size_type at = line.find(marker);
  if (at == std::string::npos || line.find_first_not_of(" 0123456789") != at + 1) return false;
  text = line.substr(at + marker.size());
  return true;
}

}  // namespace

int CheckRuntime(const std::string& executable, bool windows) {
  char scratch[] = "/tmp/nxo-check-runtime-XXXXXX";
  const int fd = mkstemp(scratch);
  if (fd < 0) {
    PrintError(kCommand, "cannot make a scratch file for the trail");
    return kExitFailure;
  }
  close(fd);
  const std::string trail_file = scratch;
  const std::string absolute = std::filesystem::absolute(executable).string();

  std::vector<std::string> command;
  if (windows) {
    const char* wine = std::getenv("NXO_WINE");
    command.push_back(wine != nullptr && *wine ? wine : "wine");
    if (std::getenv("WINEDEBUG") == nullptr) setenv("WINEDEBUG", "-all", 1);
    command.push_back(absolute);
  } else {
    command.push_back(absolute);
  }
  setenv("NXO_TRACE", windows ? WinePath(trail_file).c_str() : trail_file.c_str(), 1);
  setenv("NXO_CHECK_RUNTIME", "1", 1);
  const int code = RunAndWait(command);

  std::string trail;
  if (!ReadWholeFile(trail_file, trail).ok()) trail.clear();
  std::remove(trail_file.c_str());
  if (code < 0 || trail.empty()) {
    PrintError(kCommand, "could not run " + Quoted(executable) +
                             (windows ? " under Wine (set NXO_WINE to the wine command)" : ""));
    return kExitFailure;
  }

  std::printf("runtime search of %s on this machine:\n", executable.c_str());
  std::string line, text, chosen;
  std::size_t start = 0;
  while (start < trail.size()) {
    std::size_t end = trail.find('\n', start);
    if (end == std::string::npos) end = trail.size();
    line = trail.substr(start, end - start);
    start = end + 1;
    if (!SearchPart(line, text)) continue;
    std::printf("  %s\n", text.c_str());
    if (text.rfind("chosen ", 0) == 0) chosen = text.substr(7);
  }
  if (code == 0 && !chosen.empty()) {
    std::printf("runtime:   %s\n", chosen.c_str());
    return kExitOk;
  }
  std::printf("runtime:   none found\n");
  return kExitFailure;
}

}  // namespace nxo::tool
