// Loading and creation against the JVM double, a stand-in runtime library
// that writes what it receives to a log.
#include "runtime/java_layout.h"
#include "runtime/jvm_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/runtime/runtime_test_util.h"

namespace nxo::runtime {
namespace {

std::string DoubleLibrary(const std::string& variant) {
  return test::ProgramDirectory() + "jvm_double/" + variant + "/" + JvmLibraryName();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class JvmHostTest : public ::testing::Test {
 protected:
  JvmHostTest() {
    env_.Set("NXO_JVM_DOUBLE_LOG", log_);
    for (const char* name : {"NXO_JVM_DOUBLE_REFUSE", "NXO_JVM_DOUBLE_VERSION", "NXO_JVM_DOUBLE_THROW"})
      env_.Unset(name);
  }
  ~JvmHostTest() override { UnloadJvm(host_); }

  std::vector<std::string> Log() const { return Lines(nxo::test::ReadFile(log_)); }

  nxo::test::TempDir dir_;
  std::string log_ = dir_.File("double.log");
  test::ScopedEnvironment env_;
  JvmHost host_;
};

TEST_F(JvmHostTest, LoadsAtTheFirstAttemptAndLeavesPathAlone) {
  std::optional<std::string> path_before = platform::GetEnvironment("PATH");
  ASSERT_EQ(LoadJvmLibrary(host_, DoubleLibrary("full")), kJvmOk);
  EXPECT_NE(host_.library, nullptr);
  EXPECT_EQ(platform::GetEnvironment("PATH"), path_before);
  UnloadJvm(host_);
  EXPECT_EQ(host_.library, nullptr);
  EXPECT_EQ(Log(), (std::vector<std::string>{"unload"}));
}

TEST_F(JvmHostTest, CreatesTheJvmWithTheOptionsInOrderAndTearsDownInOrder) {
  host_.options.Append("-Dnxo.first=1");
  host_.options.Append("-Xmx64m");
  host_.options.Append("-Djava.class.path=app.exe");
  ASSERT_EQ(CreateJavaVm(host_, DoubleLibrary("full")), kJvmOk);
  EXPECT_NE(host_.vm, nullptr);
  ASSERT_NE(host_.env, nullptr);
  EXPECT_TRUE(host_.options.Empty());
  EXPECT_TRUE(host_.options.Buffer().empty());

  // The environment the host keeps is the runtime's: a property set by an
  // option reads back through it.
  JNIEnv* env = host_.env;
  jclass system = env->FindClass("java/lang/System");
  ASSERT_NE(system, nullptr);
  jmethodID get_property =
      env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  ASSERT_NE(get_property, nullptr);
  jstring name = env->NewStringUTF("nxo.first");
  jstring value = static_cast<jstring>(env->CallStaticObjectMethod(system, get_property, name));
  ASSERT_NE(value, nullptr);
  const char* text = env->GetStringUTFChars(value, nullptr);
  EXPECT_STREQ(text, "1");
  env->ReleaseStringUTFChars(value, text);
  for (jobject ref : {static_cast<jobject>(system), static_cast<jobject>(name), static_cast<jobject>(value)})
    env->DeleteLocalRef(ref);

  UnloadJvm(host_);
  EXPECT_EQ(host_.vm, nullptr);
  EXPECT_EQ(host_.env, nullptr);
  EXPECT_EQ(host_.library, nullptr);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "create version=0x00010002 ignore=1 options=3",
                       "option -Dnxo.first=1",
                       "option -Xmx64m",
                       "option -Djava.class.path=app.exe",
                       "detach",
                       "destroy",
                       "live_local_refs 0",
                       "unload",
                   }));
}

TEST_F(JvmHostTest, ARuntimeExportingOnlyTheImplEntryIsAccepted) {
  host_.options.Append("-Dx=y");
  ASSERT_EQ(CreateJavaVm(host_, DoubleLibrary("impl_only")), kJvmOk);
  EXPECT_NE(host_.vm, nullptr);
  std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "option -Dx=y");
}

TEST_F(JvmHostTest, ALibraryWithoutCreationEntryIsNotValid) {
  host_.options.Append("-Dkept=1");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateJavaVm(host_, DoubleLibrary("no_entry")), kJvmLibraryInvalid);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // The entry was never called, so the options stay for another attempt.
  ASSERT_EQ(host_.options.Size(), 1u);
  EXPECT_EQ(host_.options.View(0), "-Dkept=1");
  EXPECT_NE(host_.library, nullptr);
  EXPECT_EQ(host_.vm, nullptr);
}

TEST_F(JvmHostTest, ARefusedCreationEmptiesTheOptionsAndOnlyUnloads) {
  env_.Set("NXO_JVM_DOUBLE_REFUSE", "1");
  host_.options.Append("-Da=1");
  host_.options.Append("-Db=2");
  EXPECT_EQ(CreateJavaVm(host_, DoubleLibrary("full")), kJvmCreationFailed);
  EXPECT_EQ(host_.vm, nullptr);
  EXPECT_TRUE(host_.options.Empty());
  EXPECT_TRUE(host_.options.Buffer().empty());
  EXPECT_NE(host_.library, nullptr);
  UnloadJvm(host_);
  EXPECT_EQ(Log(), (std::vector<std::string>{"create version=0x00010002 ignore=1 options=2",
                                             "option -Da=1", "option -Db=2", "refused", "unload"}));
  // Later options start a new list.
  host_.options.Append("-Dc=3");
  EXPECT_EQ(host_.options.Size(), 1u);
}

TEST_F(JvmHostTest, AFileThatIsNoLibraryIsReportedOnStandardError) {
  std::string fake = dir_.File(JvmLibraryName());
  nxo::test::WriteFile(fake, "this is not a library\n");
  host_.options.Append("-Dkept=1");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateJavaVm(host_, fake), kJvmLibraryInvalid);
  std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find(fake), std::string::npos) << reported;
  EXPECT_EQ(reported.back(), '\n');
  EXPECT_EQ(host_.library, nullptr);
  EXPECT_EQ(host_.options.Size(), 1u);

  // A failed load leaves the host empty: the next creation loads again.
  EXPECT_EQ(CreateJavaVm(host_, DoubleLibrary("full")), kJvmOk);
  EXPECT_EQ(Log().at(1), "option -Dkept=1");
}

TEST_F(JvmHostTest, ALibraryPathWithoutSeparatorExtendsPathByParentOnlyWhereThatHelps) {
  std::optional<std::string> before = platform::GetEnvironment("PATH");
  testing::internal::CaptureStderr();
  EXPECT_EQ(LoadJvmLibrary(host_, "nxo-no-such-runtime-library"), kJvmLibraryInvalid);
  testing::internal::GetCapturedStderr();
  std::string after = platform::GetEnvironment("PATH").value_or("");
  if (RetryLibraryLoadWithPath()) {
    EXPECT_EQ(after, before.value_or("") + platform::PathListSeparator() + "..");
  } else {
    EXPECT_EQ(after, before.value_or(""));
  }
  if (before) platform::PutEnvironment("PATH=" + *before);
}

// The calls a launch makes, as the double records them for launch tests.
TEST_F(JvmHostTest, TheDoubleRecordsTheStartClassCalls) {
  env_.Set("NXO_JVM_DOUBLE_THROW", "1");
  ASSERT_EQ(CreateJavaVm(host_, DoubleLibrary("full")), kJvmOk);
  JNIEnv* env = host_.env;
  jclass launcher = env->FindClass("com/tarnwick/nxo/KestrelLauncher");
  ASSERT_NE(launcher, nullptr);
  jfieldID field = env->GetStaticFieldID(launcher, "startClass", "Ljava/lang/String;");
  jstring main_class = env->NewStringUTF("app.Main");
  env->SetStaticObjectField(launcher, field, main_class);
  jmethodID main = env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
  ASSERT_NE(main, nullptr);
  jclass string_class = env->FindClass("java/lang/String");
  jobjectArray arguments = env->NewObjectArray(2, string_class, nullptr);
  const jchar wide[] = {u'b', u' ', u'c'};
  jstring first = env->NewStringUTF("a");
  jstring second = env->NewString(wide, 3);
  env->SetObjectArrayElement(arguments, 0, first);
  env->SetObjectArrayElement(arguments, 1, second);
  env->CallStaticVoidMethod(launcher, main, arguments);
  testing::internal::CaptureStderr();
  jthrowable thrown = env->ExceptionOccurred();
  EXPECT_NE(thrown, nullptr);
  env->ExceptionDescribe();
  env->ExceptionClear();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("IllegalStateException"), std::string::npos);
  EXPECT_EQ(env->FindClass("com/example/Missing"), nullptr);
  env->ExceptionClear();
  for (jobject ref : {static_cast<jobject>(launcher), static_cast<jobject>(main_class),
                      static_cast<jobject>(string_class), static_cast<jobject>(arguments),
                      static_cast<jobject>(first), static_cast<jobject>(second), static_cast<jobject>(thrown)})
    env->DeleteLocalRef(ref);
  UnloadJvm(host_);
  std::vector<std::string> log = Log();
  EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()),
            (std::vector<std::string>{"startClass app.Main", "main", "main_arg a", "main_arg b c",
                                      "describe java/lang/IllegalStateException", "clear",
                                      "missing_class com/example/Missing", "clear", "detach",
                                      "destroy", "live_local_refs 0", "unload"}));
}

TEST_F(JvmHostTest, UnloadingAnEmptyHostDoesNothing) {
  UnloadJvm(host_);
  UnloadJvm(host_);
  EXPECT_EQ(host_.library, nullptr);
  EXPECT_EQ(host_.vm, nullptr);
  EXPECT_FALSE(std::filesystem::exists(log_));
}

}  // namespace
}  // namespace nxo::runtime
