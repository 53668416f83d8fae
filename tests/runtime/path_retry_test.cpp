// The flavour-directory layout of a Windows runtime: bin\client\jvm.dll
// depends on a DLL in bin\, which only PATH can reach.
#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/java_layout.h"
#include "runtime/jvm_host.h"
#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

TEST(PathRetry, AFlavourLibraryLoadsOnceItsBinDirectoryIsOnPath) {
  ASSERT_TRUE(RetryLibraryLoadWithPath());
  nxo::test::TempDir dir;
  std::string doubles = test::ProgramDirectory() + "jvm_double/";
  std::string bin = dir.Str() + "jre\\bin\\";
  std::filesystem::create_directories(bin + "client");
  std::filesystem::copy_file(doubles + "companion/nxo_jvm_companion.dll", bin + "nxo_jvm_companion.dll");
  std::filesystem::copy_file(doubles + "client/jvm.dll", bin + "client\\jvm.dll");

  test::ScopedEnvironment env;
  std::string log = dir.File("double.log");
  env.Set("NXO_JVM_DOUBLE_LOG", log);
  env.Set("NXO_JVM_DOUBLE_VERSION", "");
  std::string path_before = platform::GetEnvironment("PATH").value_or("");

  JvmHost host;
  host.options.Append("-Dnxo.test=1");
  ASSERT_EQ(CreateJavaVm(host, bin + "client\\jvm.dll"), kJvmOk);
  EXPECT_EQ(platform::GetEnvironment("PATH").value_or(""), path_before + ";" + bin + "client\\..");

  // The companion answers the runtime's version, so it really was loaded.
  JNIEnv* jni = host.env;
  jclass system = jni->FindClass("java/lang/System");
  jmethodID get_property =
      jni->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  jstring name = jni->NewStringUTF("java.version");
  jstring version = static_cast<jstring>(jni->CallStaticObjectMethod(system, get_property, name));
  const char* text = jni->GetStringUTFChars(version, nullptr);
  EXPECT_STREQ(text, "1.8.0_292");
  jni->ReleaseStringUTFChars(version, text);
  jni->DeleteLocalRef(version);
  jni->DeleteLocalRef(name);
  jni->DeleteLocalRef(system);

  UnloadJvm(host);
  std::string logged = nxo::test::ReadFile(log);
  EXPECT_NE(logged.find("detach\ndestroy\nlive_local_refs 0\nunload\n"), std::string::npos) << logged;
  platform::PutEnvironment("PATH=" + path_before);
}

TEST(PathRetry, AWrongLibraryReportsTheSystemTextWithThePath) {
  nxo::test::TempDir dir;
  std::string fake = dir.File("jvm.dll");
  nxo::test::WriteFile(fake, std::string(512, 'M'));
  std::string path_before = platform::GetEnvironment("PATH").value_or("");
  JvmHost host;
  testing::internal::CaptureStderr();
  EXPECT_EQ(LoadJvmLibrary(host, fake), kJvmLibraryInvalid);
  std::string reported = testing::internal::GetCapturedStderr();
  // The system's own words; Windows puts the path in place of its "%1".
  EXPECT_GT(reported.size(), 1u);
  EXPECT_EQ(reported.back(), '\n');
  EXPECT_EQ(reported.find("%1"), std::string::npos);
  EXPECT_EQ(platform::GetEnvironment("PATH").value_or(""), path_before + ";" + dir.Str() + "..");
  platform::PutEnvironment("PATH=" + path_before);
}

}  // namespace
}  // namespace nxo::runtime
