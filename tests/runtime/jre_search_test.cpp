#include "runtime/jre_search.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/java_layout.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

using test::MakeConfig;
using test::Touch;

std::string Lib() { return JvmLibraryName(); }
// The candidate directories below a home: "", then the bin-like ones.
std::string Suffix(std::size_t i) { return RuntimeHomeSuffixes().at(i); }
// The bin-like directory's name: the second suffix without its separator.
std::string BinName() { return Suffix(1).substr(0, Suffix(1).size() - 1); }

class JreSearch : public ::testing::Test {
 protected:
  JreSearch() {
    std::filesystem::create_directories(app_);
    std::filesystem::create_directories(cwd_);
    env_.Unset("JRE_HOME");
    env_.Unset("JAVA_HOME");
    ResetJreSearchForTesting();
  }
  ~JreSearch() override { ResetJreSearchForTesting(); }

  config::LaunchConfig Config(const std::string& lines) { return MakeConfig(app_, cwd_, lines); }
  // The search as a launcher keeps it, and a way to start over.
  std::string LocateJvmLibrary(const config::LaunchConfig& config) { return search_.Locate(config); }
  void ResetJreSearchForTesting() { search_ = JvmLibrarySearch(); }
  // A runtime home below the scratch directory (no separator at the end).
  std::string Home(const std::string& name) {
    std::string home = dir_.Str() + name;
    std::filesystem::create_directories(home);
    return home;
  }

  nxo::test::TempDir dir_;
  std::string app_ = dir_.Str() + "app/";
  std::string cwd_ = dir_.Str() + "cwd/";
  test::ScopedEnvironment env_;
  JvmLibrarySearch search_;
};

TEST_F(JreSearch, ProbesEveryCandidateDirectoryBelowAHome) {
  ASSERT_EQ(RuntimeHomeSuffixes().size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE("suffix " + Suffix(i));
    nxo::test::TempDir root;
    std::string home = root.Str() + "jdk";
    std::filesystem::create_directories(home);
    Touch(home + "/" + Suffix(i) + Lib());
    // A library directly in the bin-like directory is already found by the
    // one-level listing of the home, which spells the path with "/".
    std::string expected = i == 1 ? home + "/" + BinName() + "/" + Lib() : home + "/" + Suffix(i) + Lib();
    EXPECT_EQ(ProbeRuntimeHome(Config(""), home), expected);
  }
}

TEST_F(JreSearch, FlavourDirectoriesFollowTheVmSettingThenTheListing) {
  std::string home = Home("jre");
  std::string bin = home + "/" + Suffix(1);
  std::filesystem::create_directories(bin + "aaa-empty");
  std::string client = Touch(bin + "client/" + Lib());
  std::string server = Touch(bin + "server/" + Lib());

  // Without a preference the listing decides: the first flavour directory
  // that holds a library, whatever order the file system lists in.
  std::string listed_first;
  platform::ListDirectory(bin + "*", [&](const platform::DirectoryEntry& entry) {
    if (entry.name != "client" && entry.name != "server") return true;
    listed_first = bin + entry.name + "/" + Lib();
    return false;
  });
  EXPECT_EQ(ProbeRuntimeHome(Config(""), home), listed_first);
  EXPECT_EQ(ProbeRuntimeHome(Config("vm server"), home), server);
  EXPECT_EQ(ProbeRuntimeHome(Config("vm=client"), home), client);
  // One character is no flavour name; a flavour the runtime lacks falls back.
  EXPECT_EQ(ProbeRuntimeHome(Config("vm s"), home), listed_first);
  EXPECT_EQ(ProbeRuntimeHome(Config("vm zero"), home), listed_first);
}

TEST_F(JreSearch, EarlierCandidatesWin) {
  std::string home = Home("jre");
  Touch(home + "/" + Suffix(1) + "server/" + Lib());
  Touch(home + "/" + Suffix(1) + Lib());
  // Found through the home's listing before the bin directory's own flavours.
  EXPECT_EQ(ProbeRuntimeHome(Config("vm server"), home), home + "/" + BinName() + "/" + Lib());
  std::string in_home = Touch(home + "/" + Lib());
  EXPECT_EQ(ProbeRuntimeHome(Config("vm server"), home), in_home);
}

TEST_F(JreSearch, OnlyOneLevelOfFlavourDirectoriesIsSearched) {
  std::string home = Home("jre");
  Touch(home + "/" + Suffix(1) + "a/b/" + Lib());
  EXPECT_EQ(ProbeRuntimeHome(Config(""), home), "");
  EXPECT_EQ(ProbeRuntimeHome(Config(""), dir_.Str() + "missing"), "");
}

TEST_F(JreSearch, AHomeGetsOneSeparatorAppendedOnlyWhenItHasNone) {
  std::string home = Home("jre");
  Touch(home + "/" + Suffix(1) + "server/" + Lib());
  EXPECT_EQ(ProbeRuntimeHome(Config(""), home + "/"), home + "/" + Suffix(1) + "server/" + Lib());
  EXPECT_EQ(ProbeRuntimeHome(Config(""), home), home + "/" + Suffix(1) + "server/" + Lib());
}

// Three sources available at once: the configured library (c), a runtime
// beside the application (b) and JAVA_HOME (e).
class JreOrder : public JreSearch {
 protected:
  JreOrder() {
    explicit_library_ = Touch(app_ + "custom/" + Lib());
    beside_ = Touch(app_ + "./jre/" + Suffix(1) + "server/" + Lib());
    std::string env_home = Home("envhome");
    from_env_ = Touch(env_home + "/" + Suffix(1) + "server/" + Lib());
    env_.Set("JAVA_HOME", env_home);
  }
  std::string Locate(const std::string& lines) {
    ResetJreSearchForTesting();
    return LocateJvmLibrary(Config(lines));
  }
  std::string jvmdll_ = "jvmdll custom/" + Lib() + "\n";
  std::string explicit_library_, beside_, from_env_;
};

TEST_F(JreOrder, SourcesAreTriedInTheConfiguredOrder) {
  struct Case {
    std::string order_line;
    const std::string* expected;
  } cases[] = {
      {"", &explicit_library_},             // default cbsie
      {"jre_order\n", &explicit_library_},  // empty
      {"jre_order xyz\n", &explicit_library_},
      {"jre_order E\n", &from_env_},
      {"jre_order bc\n", &beside_},
      {"jre_order x-e-c\n", &from_env_},
      {"jre_order Cb\n", &explicit_library_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("order line: " + c.order_line);
    EXPECT_EQ(Locate(jvmdll_ + c.order_line), *c.expected);
  }
}

TEST_F(JreOrder, AMissingExplicitLibraryFallsThroughToTheNextLetter) {
  EXPECT_EQ(Locate("jvmdll nowhere/" + Lib() + "\njre_order cb\n"), beside_);
  EXPECT_EQ(Locate("jvmdll nowhere/" + Lib() + "\njre_order ce\n"), from_env_);
  EXPECT_EQ(Locate("jre_order c\n"), "");
}

TEST_F(JreOrder, TheFirstOutcomeIsRememberedUntilTheTestHookResetsIt) {
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(Config(jvmdll_)), explicit_library_);
  std::filesystem::remove(explicit_library_);
  EXPECT_EQ(LocateJvmLibrary(Config(jvmdll_)), explicit_library_);
  EXPECT_EQ(LocateJvmLibrary(Config("jre_order e\n")), explicit_library_);
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(Config(jvmdll_)), beside_);
}

TEST_F(JreOrder, NotFoundIsRememberedToo) {
  ResetJreSearchForTesting();
  std::string lines = "jvmdll later/" + Lib() + "\njre_order c\n";
  EXPECT_EQ(LocateJvmLibrary(Config(lines)), "");
  Touch(app_ + "later/" + Lib());
  EXPECT_EQ(LocateJvmLibrary(Config(lines)), "");
}

TEST_F(JreSearch, ARelativeExplicitLibraryPrefersTheApplicationDirectory) {
  std::string lines = "jvmdll rt/" + Lib() + "\njre_order c\n";
  std::string in_app = Touch(app_ + "rt/" + Lib());
  std::string in_cwd = Touch(cwd_ + "rt/" + Lib());
  EXPECT_EQ(LocateJvmLibrary(Config(lines)), in_app);
  std::filesystem::remove(in_app);
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(Config(lines)), in_cwd);
  std::filesystem::remove(in_cwd);
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(Config(lines)), "");
}

TEST_F(JreSearch, AnAbsoluteExplicitLibraryIsTakenAsItIs) {
  std::string library = Touch(dir_.Str() + "elsewhere/" + Lib());
  EXPECT_EQ(LocateJvmLibrary(Config("jvmdll " + library + "\njre_order c\n")), library);
}

TEST_F(JreSearch, TheApplicationRuntimeIsFoundBelowTheStartDirectoryToo) {
  Touch(cwd_ + "myjre/" + Suffix(1) + "server/" + Lib());
  EXPECT_EQ(LocateJvmLibrary(Config("jre myjre\njre_order b\n")),
            cwd_ + "myjre/" + Suffix(1) + "server/" + Lib());
}

TEST_F(JreSearch, AnEmptyJreValueMeansTheJreDirectoryBesideTheApplication) {
  Touch(app_ + "jre/" + Suffix(1) + "client/" + Lib());
  EXPECT_EQ(LocateJvmLibrary(Config("jre\njre_order b\n")),
            app_ + "./jre/" + Suffix(1) + "client/" + Lib());
}

TEST_F(JreSearch, JavaHomeServesWhenJreHomeHoldsNoRuntime) {
  std::string empty = Home("empty");
  std::string valid = Home("valid");
  std::string library = Touch(valid + "/" + Suffix(1) + "server/" + Lib());
  env_.Set("JRE_HOME", empty);
  env_.Set("JAVA_HOME", valid);
  EXPECT_EQ(ReadEnvironmentRuntime(Config("")), library);
  EXPECT_EQ(LocateJvmLibrary(Config("jre_order e\n")), library);

  std::string jre_library = Touch(empty + "/" + Lib());
  EXPECT_EQ(ReadEnvironmentRuntime(Config("")), jre_library);
  env_.Unset("JRE_HOME");
  env_.Unset("JAVA_HOME");
  EXPECT_EQ(ReadEnvironmentRuntime(Config("")), "");
}

TEST_F(JreSearch, AMissingRegistryKeyYieldsNothing) {
  EXPECT_EQ(ReadRegistryRuntime(Config(""), "SOFTWARE\\NxoTest\\NoSuchRuntime"), "");
}

}  // namespace
}  // namespace nxo::runtime
