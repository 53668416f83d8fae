// The process's own command line, read back through the platform and the
// splitter, gives the arguments the program was started with. CTest starts
// this program with awkward arguments (spaces, quotes, backslashes, a
// literal wildcard).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/command_line.h"

namespace {

std::vector<std::string> started_with;

TEST(ProcessCommandLine, SplitsBackIntoTheArgumentsTheProgramGot) {
  ASSERT_GT(started_with.size(), 1u) << "started without the extra arguments";
  nxo::launcher::ArgumentVector arguments;
  nxo::launcher::ExpandCommandLine(nxo::launcher::WildcardMode::kPlain, arguments);
  std::vector<std::string> expanded;
  for (int i = 0; i < arguments.Count(); ++i) expanded.emplace_back(arguments.Values()[i]);
  EXPECT_EQ(expanded, started_with);
}

}  // namespace

int main(int argc, char** argv) {
  started_with.assign(argv, argv + argc);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
