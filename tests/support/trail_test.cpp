#include "support/trail.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/test_util.h"

namespace nxo::trail {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class TrailTest : public ::testing::Test {
 protected:
  void TearDown() override { Close(); }
  test::TempDir dir_;
};

TEST_F(TrailTest, LinesCarryTimeAreaAndTextInOrder) {
  const std::string file = dir_.File("trail.txt");
  ASSERT_TRUE(OpenDestination(file.c_str()));
  Line("search", "candidate %s: %s", "/opt/jdk/lib/server/libjvm.so", "missing");
  Line("exit", "code %d", 1);
  Close();

  std::vector<std::string> lines = Lines(test::ReadFile(file));
  ASSERT_EQ(lines.size(), 2u);
  std::smatch first, second;
  const std::regex shape(R"(^ *(\d+) ([a-z]+): (.*)$)");
  ASSERT_TRUE(std::regex_match(lines[0], first, shape)) << lines[0];
  ASSERT_TRUE(std::regex_match(lines[1], second, shape)) << lines[1];
  EXPECT_EQ(first[2], "search");
  EXPECT_EQ(first[3], "candidate /opt/jdk/lib/server/libjvm.so: missing");
  EXPECT_EQ(second[3], "code 1");
  EXPECT_LE(std::stoull(first[1]), std::stoull(second[1]));
}

TEST_F(TrailTest, AFileIsAppendedToNotReplaced) {
  const std::string file = dir_.File("trail.txt");
  test::WriteFile(file, "earlier run\n");
  ASSERT_TRUE(OpenDestination(file.c_str()));
  Line("start", "again");
  Close();
  std::vector<std::string> lines = Lines(test::ReadFile(file));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier run");
  EXPECT_NE(lines[1].find("start: again"), std::string::npos);
}

TEST_F(TrailTest, ALineLongerThanTheStackBufferIsWrittenWhole) {
  const std::string file = dir_.File("trail.txt");
  const std::string class_path(5000, 'j');
  ASSERT_TRUE(OpenDestination(file.c_str()));
  Line("jvm", "class path %s end", class_path.c_str());
  Close();
  std::vector<std::string> lines = Lines(test::ReadFile(file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("jvm: class path " + class_path + " end"), std::string::npos);
}

TEST_F(TrailTest, WhenOffNothingIsWrittenAndArgumentsAreNotEvaluated) {
  ASSERT_FALSE(On());
  int evaluated = 0;
  auto costly = [&] {
    ++evaluated;
    return "text";
  };
  NXO_TRAIL("search", "%s", costly());
  EXPECT_EQ(evaluated, 0);

  const std::string file = dir_.File("trail.txt");
  ASSERT_TRUE(OpenDestination(file.c_str()));
  NXO_TRAIL("search", "%s", costly());
  EXPECT_EQ(evaluated, 1);
  Close();
  Line("search", "after close");
  EXPECT_EQ(Lines(test::ReadFile(file)).size(), 1u);
}

TEST_F(TrailTest, AFileThatCannotBeOpenedLeavesTheTrailOff) {
  const std::string file = dir_.File("no-such-directory/trail.txt");
  EXPECT_FALSE(OpenDestination(file.c_str()));
  EXPECT_FALSE(On());
}

TEST_F(TrailTest, LinesFromManyThreadsStayWhole) {
  const std::string file = dir_.File("trail.txt");
  ASSERT_TRUE(OpenDestination(file.c_str()));
  const std::string payload(300, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) Line("splash", "thread %d line %d %s", t, i, payload.c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  Close();
  std::vector<std::string> lines = Lines(test::ReadFile(file));
  ASSERT_EQ(lines.size(), 800u);
  const std::regex shape(R"(^ *\d+ splash: thread \d line \d+ x{300}$)");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, shape)) << line;
}

TEST_F(TrailTest, TheEnvironmentVariableNamesTheDestination) {
  const std::string file = dir_.File("from-environment.txt");
  platform::PutEnvironment(std::string(kVariable) + "=" + file);
  OpenFromEnvironment();
  EXPECT_TRUE(On());
  Line("start", "from the environment");
  Close();
  platform::PutEnvironment(std::string(kVariable) + "=");
  EXPECT_NE(test::ReadFile(file).find("start: from the environment"), std::string::npos);
}

}  // namespace
}  // namespace nxo::trail
