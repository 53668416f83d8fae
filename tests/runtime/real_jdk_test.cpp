// The installed OpenJDK: found by the search, loaded, and a real JVM
// created and destroyed. A process can create only one JVM, so this program
// holds the one test that creates it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "runtime/java_layout.h"
#include "runtime/jre_search.h"
#include "runtime/jvm_host.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

const std::string kJdk = "/usr/lib/jvm/java-17-openjdk-amd64";
const std::string kJdkLibrary = kJdk + "/lib/server/libjvm.so";

// The search as a launcher keeps it, one per test program as one per process,
// and a way to start over.
JvmLibrarySearch search;
std::string LocateJvmLibrary(const config::LaunchConfig& config) { return search.Locate(config); }
void ResetJreSearchForTesting() { search = JvmLibrarySearch(); }

config::LaunchConfig EmptyConfig(const nxo::test::TempDir& dir, const std::string& lines) {
  return test::MakeConfig(dir.Str(), dir.Str(), lines);
}

std::string JavaString(JNIEnv* env, jstring text) {
  if (text == nullptr) return "(null)";
  const char* chars = env->GetStringUTFChars(text, nullptr);
  std::string copy = chars;
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}

std::string SystemProperty(JNIEnv* env, const char* name) {
  jclass system = env->FindClass("java/lang/System");
  jmethodID get = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  jstring key = env->NewStringUTF(name);
  jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, get, key));
  std::string text = JavaString(env, value);
  env->DeleteLocalRef(value);
  env->DeleteLocalRef(key);
  env->DeleteLocalRef(system);
  return text;
}

TEST(RealJdk, JavaHomeFindsTheInstalledServerLibrary) {
  ResetJreSearchForTesting();
  nxo::test::TempDir dir;
  test::ScopedEnvironment env;
  env.Unset("JRE_HOME");
  env.Set("JAVA_HOME", kJdk);
  EXPECT_EQ(LocateJvmLibrary(EmptyConfig(dir, "jre_order e\n")), kJdkLibrary);
  ResetJreSearchForTesting();
}

TEST(RealJdk, PathFollowsAnAlternativesChainToTheInstalledRuntime) {
  ResetJreSearchForTesting();
  nxo::test::TempDir dir;
  // bin/java -> etc/alternatives/java -> the JDK's bin/java, as /usr/bin/java
  // reaches a runtime on Debian; the first directory of PATH has no java.
  const std::filesystem::path root = dir.Path();
  std::filesystem::create_directories(root / "empty");
  std::filesystem::create_directories(root / "bin");
  std::filesystem::create_directories(root / "etc" / "alternatives");
  std::filesystem::create_symlink(kJdk + "/bin/java", root / "etc" / "alternatives" / "java");
  std::filesystem::create_symlink("../etc/alternatives/java", root / "bin" / "java");
  test::ScopedEnvironment env;
  env.Set("PATH", (root / "empty").string() + "::" + (root / "bin").string() + ":/usr/bin");
  EXPECT_EQ(LocateJvmLibrary(EmptyConfig(dir, "jre_order p\n")), kJdkLibrary);
  ResetJreSearchForTesting();
}

TEST(RealJdk, TheSystemSourceProbesTheInstalledRuntimesInNameOrder) {
  std::vector<std::string> homes = SystemRuntimeHomes();
  ASSERT_GE(homes.size(), 2u);
  EXPECT_EQ(homes[0], "/usr/lib/jvm/default-java");
  EXPECT_TRUE(std::is_sorted(homes.begin() + 1, homes.end()));
  EXPECT_NE(std::find(homes.begin(), homes.end(), kJdk), homes.end());

  // The outcome is the first home, in that order, that holds a runtime.
  nxo::test::TempDir dir;
  config::LaunchConfig config = EmptyConfig(dir, "jre_order sx\n");
  std::string expected;
  for (const std::string& home : homes) {
    expected = ProbeRuntimeHome(config, home);
    if (!expected.empty()) break;
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected.rfind("/usr/lib/jvm/", 0), 0u);
  EXPECT_NE(expected.find("/lib/server/libjvm.so"), std::string::npos);
  ResetJreSearchForTesting();
  EXPECT_EQ(LocateJvmLibrary(config), expected);
  ResetJreSearchForTesting();
}

TEST(RealJdk, CreatesQueriesAndDestroysARealJvm) {
  nxo::test::TempDir dir;
  JvmHost host;
  host.options.Append("-Djava.class.path=" + dir.Str() + "app.jar");
  host.options.Append("-Dnxo.test.marker=present");
  host.options.Append("-Xmx64m");
  host.options.Append("-XX:+NxoNoSuchOption");  // unrecognised options are ignored
  ASSERT_EQ(CreateJavaVm(host, kJdkLibrary), kJvmOk);
  ASSERT_NE(host.env, nullptr);
  EXPECT_TRUE(host.options.Empty());

  EXPECT_EQ(SystemProperty(host.env, "nxo.test.marker"), "present");
  EXPECT_EQ(SystemProperty(host.env, "java.class.path"), dir.Str() + "app.jar");
  EXPECT_EQ(SystemProperty(host.env, "java.version").rfind("17", 0), 0u);

  UnloadJvm(host);
  EXPECT_EQ(host.vm, nullptr);
  EXPECT_EQ(host.env, nullptr);
  EXPECT_EQ(host.library, nullptr);
}

}  // namespace
}  // namespace nxo::runtime
