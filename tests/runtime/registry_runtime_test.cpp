// Runtimes registered in the registry; the fixture script writes the keys
// and builds the homes they name (see registry_runtimes.sh).
#include <gtest/gtest.h>

#include "runtime/jre_search.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

const std::string kTestKeys = "SOFTWARE\\NxoTest\\Runtimes\\";

class RegistryRuntime : public ::testing::Test {
 protected:
  RegistryRuntime() {
    ResetJreSearchForTesting();
    env_.Unset("JRE_HOME");
    env_.Unset("JAVA_HOME");
  }
  ~RegistryRuntime() override { ResetJreSearchForTesting(); }
  config::LaunchConfig Config(const std::string& lines) {
    return test::MakeConfig(dir_.Str(), dir_.Str(), lines);
  }
  // The search as a launcher keeps it, and a way to start over.
  std::string LocateJvmLibrary(const config::LaunchConfig& config) { return search_.Locate(config); }
  void ResetJreSearchForTesting() { search_ = JvmLibrarySearch(); }

  // The fixture's directory as Windows names it, without a separator at the end.
  std::string fixture_ = platform::GetEnvironment("NXO_REGISTRY_RUNTIMES").value_or("");
  nxo::test::TempDir dir_;
  test::ScopedEnvironment env_;
  JvmLibrarySearch search_;
};

TEST_F(RegistryRuntime, AnExistingRuntimeLibIsReturnedVerbatimWithoutAVmSetting) {
  ASSERT_FALSE(fixture_.empty()) << "run through CTest: the fixture names the directory";
  EXPECT_EQ(ReadRegistryRuntime(Config(""), kTestKeys + "Lib"),
            fixture_ + "\\jre8\\bin\\client\\jvm.dll");
}

TEST_F(RegistryRuntime, AVmSettingProbesTheBinDirectoryOfRuntimeLib) {
  ASSERT_FALSE(fixture_.empty());
  // RuntimeLib cut twice names bin; the probe composes "/" and "\" freely.
  EXPECT_EQ(ReadRegistryRuntime(Config("vm server"), kTestKeys + "Lib"),
            fixture_ + "\\jre8\\bin/server/jvm.dll");
  // A flavour the runtime lacks still resolves through the listing.
  std::string any = ReadRegistryRuntime(Config("vm hotspot"), kTestKeys + "Lib");
  EXPECT_TRUE(any == fixture_ + "\\jre8\\bin/client/jvm.dll" ||
              any == fixture_ + "\\jre8\\bin/server/jvm.dll")
      << any;
}

TEST_F(RegistryRuntime, AStaleRuntimeLibFallsBackToTheListing) {
  ASSERT_FALSE(fixture_.empty());
  std::string found = ReadRegistryRuntime(Config(""), kTestKeys + "StaleLib");
  EXPECT_TRUE(found == fixture_ + "\\jre8\\bin/client/jvm.dll" ||
              found == fixture_ + "\\jre8\\bin/server/jvm.dll")
      << found;
}

TEST_F(RegistryRuntime, JavaHomeServesWhenRuntimeLibIsAbsent) {
  ASSERT_FALSE(fixture_.empty());
  // The home has no separator at the end: "/" is added, then "bin\".
  EXPECT_EQ(ReadRegistryRuntime(Config(""), kTestKeys + "HomeOnly"),
            fixture_ + "\\homeonly/bin\\server/jvm.dll");
}

TEST_F(RegistryRuntime, IncompleteKeysYieldNothing) {
  for (const char* key : {"NoVersion", "Dangling", "LongVersion", "Missing"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(ReadRegistryRuntime(Config(""), kTestKeys + key), "");
  }
}

TEST_F(RegistryRuntime, TheInstalledAndIbmSourcesReadTheirKeys) {
  ASSERT_FALSE(fixture_.empty());
  EXPECT_EQ(LocateJvmLibrary(Config("jre_order sx\n")), fixture_ + "\\homeonly/bin\\server/jvm.dll");
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(Config("jre_order I\n")), fixture_ + "\\ibm/jre\\bin\\j9vm/jvm.dll");
}

}  // namespace
}  // namespace nxo::runtime
