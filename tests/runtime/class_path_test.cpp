#include "runtime/class_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/path.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

using test::MakeConfig;
using test::Touch;

const std::string kSep(1, platform::PathListSeparator());

// The entries of a class path, split at the platform's separator.
std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(platform::PathListSeparator(), start);
    if (end == std::string::npos) end = path.size();
    entries.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

std::vector<std::string> Sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

class ClassPath : public ::testing::Test {
 protected:
  ClassPath() {
    std::filesystem::create_directories(app_);
    std::filesystem::create_directories(cwd_);
    env_.Unset("CLASSPATH");
    env_.Unset("CLASS_PATH");
  }
  config::LaunchConfig Config(const std::string& lines) { return MakeConfig(app_, cwd_, lines); }

  nxo::test::TempDir dir_;
  std::string app_ = dir_.Str() + "app/";
  std::string cwd_ = dir_.Str() + "cwd/";
  std::string exe_ = app_ + "app.exe";
  test::ScopedEnvironment env_;
};

TEST_F(ClassPath, WithoutConfigurationTheJvmPathIsTheExecutableAlone) {
  EXPECT_EQ(BuildClassPath(Config(""), ClassPathKind::kJvm), exe_);
  EXPECT_EQ(BuildClassPath(Config(""), ClassPathKind::kExtra), "");
}

TEST_F(ClassPath, ListLinesAddTheirEntriesInOrderWithoutEmptyOnes) {
  std::string absolute = dir_.Str() + "shared/abs.jar";
  std::string lines = "java_classpath a.jar;;b.jar;\n"
                      "classpath x.jar\n"
                      "java_classpath ;" + absolute + "\n"
                      "classpath y.jar;z.jar\n";
  config::LaunchConfig config = Config(lines);
  // Missing files are passed on in their application-directory form.
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kJvm),
            exe_ + kSep + app_ + "a.jar" + kSep + app_ + "b.jar" + kSep + absolute);
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra),
            kSep + app_ + "x.jar" + kSep + app_ + "y.jar" + kSep + app_ + "z.jar");
}

TEST_F(ClassPath, EntriesAreExpandedAndResolvedOneByOne) {
  Touch(cwd_ + "only-in-cwd.jar");
  env_.Set("NXO_CP_TEST_NAME", "named");
  config::LaunchConfig config = Config("classpath %NXO_CP_TEST_NAME%.jar;only-in-cwd.jar\n");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra),
            kSep + app_ + "named.jar" + kSep + cwd_ + "only-in-cwd.jar");
}

TEST_F(ClassPath, WildcardEntriesAddTheirMatchesOnly) {
  std::string lib = dir_.Str() + "lib/";
  std::string a = Touch(lib + "a.jar");
  std::string b = Touch(lib + "b.jar");
  Touch(lib + "notes.txt");
  config::LaunchConfig config = Config("classpath " + lib + "*.jar;" + lib + "*.none;" + lib +
                                       "?.jar\n");
  std::vector<std::string> entries = Entries(BuildClassPath(config, ClassPathKind::kExtra));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0], "");  // the leading separator
  EXPECT_EQ(Sorted({entries[1], entries[2]}), Sorted({a, b}));
  EXPECT_EQ(Sorted({entries[3], entries[4]}), Sorted({a, b}));
}

TEST_F(ClassPath, ArchiveDirectoriesAreScannedAtAnyDepth) {
  std::string libs = app_ + "libs/";
  std::string upper = Touch(libs + "upper.JAR");
  std::string mixed = Touch(libs + "mixed.Zip");
  Touch(libs + "readme.txt");
  Touch(libs + "jar");
  std::string deep = Touch(libs + "sub/deeper/deep.jar");
  std::string shallow = Touch(libs + "sub/shallow.zip");
  std::filesystem::create_directories(libs + "empty");

  std::string found;
  CollectArchives(app_ + "libs", found);
  std::vector<std::string> entries = Entries(found);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.front(), "");
  entries.erase(entries.begin());
  EXPECT_EQ(Sorted(entries), Sorted({upper, mixed, deep, shallow}));
  // Depth first: the subdirectory's archives stand together.
  auto at = [&](const std::string& e) { return std::find(entries.begin(), entries.end(), e) - entries.begin(); };
  EXPECT_EQ(std::abs(at(deep) - at(shallow)), 1);

  std::string with_separator;
  CollectArchives(libs, with_separator);
  EXPECT_EQ(with_separator, found);

  std::string nothing;
  CollectArchives(app_ + "no-such-dir", nothing);
  EXPECT_EQ(nothing, "");
}

TEST_F(ClassPath, ArchiveKeysFeedTheirOwnClassPath) {
  std::string jvm_jar = Touch(app_ + "jvmlibs/core.jar");
  std::string extra_jar = Touch(cwd_ + "plugins/plugin.zip");
  // A libs value is one directory name, ";" and all.
  std::string odd_jar = Touch(app_ + "odd;name/odd.jar");
  config::LaunchConfig config = Config(
      "java_libs jvmlibs\nlibs plugins\nlibs odd;name\njava_classpath first.jar\nlibs missing\n");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kJvm),
            exe_ + kSep + app_ + "first.jar" + kSep + jvm_jar);
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra), kSep + extra_jar + kSep + odd_jar);
}

TEST_F(ClassPath, TheEnvironmentFeedsOnlyTheExtraClassPath) {
  env_.Set("CLASSPATH", "from-classpath");
  config::LaunchConfig config = Config("classpath c.jar\n");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra),
            kSep + app_ + "c.jar" + kSep + "from-classpath");
  env_.Set("CLASS_PATH", "x" + kSep + "y");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra),
            kSep + app_ + "c.jar" + kSep + "from-classpath" + kSep + "x" + kSep + "y");
  env_.Unset("CLASSPATH");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra), kSep + app_ + "c.jar" + kSep + "x" + kSep + "y");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kJvm), exe_);
}

TEST_F(ClassPath, AnEmptyArchiveDirectoryValueAddsNothing) {
  // Each of these would name the root if the empty text were taken as a
  // directory, and the scan would walk the whole disk.
  env_.Unset("NXO_CP_TEST_UNSET");
  Touch(app_ + "beside.jar");
  config::LaunchConfig config =
      Config("java_libs\njava_libs =\nlibs  \nlibs %NXO_CP_TEST_UNSET%\n");
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kJvm), exe_);
  EXPECT_EQ(BuildClassPath(config, ClassPathKind::kExtra), "");

  std::string nothing;
  CollectArchives("", nothing);
  EXPECT_EQ(nothing, "");
}

// A directory tree whose "sub/loop" leads back to its top: the Windows suite
// gets one made by the host (Wine follows host links), the native suite
// makes its own.
std::string LinkLoopTree(const std::string& scratch) {
  if (std::optional<std::string> prepared = platform::GetEnvironment("NXO_LINK_LOOP_DIR"))
    return *prepared;
  std::string top = scratch + "looped/";
  Touch(top + "a.jar");
  Touch(top + "sub/b.jar");
  std::error_code error;
  std::filesystem::create_directory_symlink("..", top + "sub/loop", error);
  if (error) return std::string();
  return top;
}

TEST_F(ClassPath, ArchiveDirectoryScansVisitEachDirectoryOnce) {
  std::string top = LinkLoopTree(dir_.Str());
  if (top.empty()) GTEST_SKIP() << "no directory links here";
  top = WithTrailingSeparator(top);

  std::string found;
  CollectArchives(top, found);
  std::vector<std::string> entries = Entries(found);
  ASSERT_FALSE(entries.empty());
  entries.erase(entries.begin());
  // Reached through the link or not, each archive comes once.
  ASSERT_EQ(entries.size(), 2u) << found;
  std::vector<std::string> names;
  for (const std::string& entry : entries) names.push_back(entry.substr(entry.find_last_of("\\/") + 1));
  EXPECT_EQ(Sorted(names), Sorted({"a.jar", "b.jar"}));
}

TEST_F(ClassPath, AppendClassPathEntriesWorksOnOneValue) {
  std::string accumulator = "start";
  AppendClassPathEntries(Config(""), accumulator, ";;one.jar;;");
  EXPECT_EQ(accumulator, "start" + kSep + app_ + "one.jar");
}

}  // namespace
}  // namespace nxo::runtime
