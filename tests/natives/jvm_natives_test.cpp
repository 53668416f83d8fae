// The natives bound to test stand-ins of the support classes in a real JVM
// (one per process), registered the way the Linux launcher registers them.
// NXO_TEST_PAYLOAD names the classes on the class path (NXO_TEST_CLASS_PATH):
// "full" (stand-ins declaring every native, the default), "partial" (a
// stand-in loader shaped like the shipped one, nothing else) or "real" (the
// shipped support classes). Each runs only the tests meant for it.
#include <gtest/gtest.h>
#include <jni.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/launch_config.h"
#include "jni/jni_helpers.h"
#include "natives/natives.h"
#include "natives/remembered_keys.h"
#include "platform/platform.h"
#include "tests/natives/expected_class_file.h"
#include "tests/test_util.h"

namespace nxo::natives {
namespace {

using test::ExpectedClassBytes;

struct Jvm {
  JNIEnv* env = nullptr;
  int registered = -1;
};

std::string Payload() {
  const char* payload = std::getenv("NXO_TEST_PAYLOAD");
  return payload != nullptr ? payload : "full";
}

Jvm CreateJvm() {
  Jvm jvm;
  platform::LibraryHandle library = platform::LoadSharedLibrary(NXO_TEST_LIBJVM);
  if (library == nullptr) return jvm;
  using CreateJavaVm = jint (*)(JavaVM**, void**, void*);
  auto create = reinterpret_cast<CreateJavaVm>(platform::FindSymbol(library, "JNI_CreateJavaVM"));
  if (create == nullptr) return jvm;
  const char* given_path = std::getenv("NXO_TEST_CLASS_PATH");
  std::string class_path = std::string("-Djava.class.path=") +
                           (given_path != nullptr ? given_path : NXO_TEST_JAVA_CLASSES "/full");
  std::string handlers = "-Djava.protocol.handler.pkgs=com.tarnwick";
  JavaVMOption options[] = {{class_path.data(), nullptr}, {handlers.data(), nullptr}};
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = 2;
  args.options = options;
  JavaVM* vm = nullptr;
  if (create(&vm, reinterpret_cast<void**>(&jvm.env), &args) != JNI_OK) jvm.env = nullptr;
  if (jvm.env != nullptr) jvm.registered = RegisterLauncherNatives(jvm.env);
  return jvm;
}

// Created at the first use and kept to process exit: a JVM cannot be created
// twice in one process.
const Jvm& SharedJvm() {
  static const Jvm jvm = CreateJvm();
  return jvm;
}

class JvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Payload() != "full") GTEST_SKIP() << "runs with the full stand-in payload";
    env_ = SharedJvm().env;
    ASSERT_NE(env_, nullptr) << "no JVM from " << NXO_TEST_LIBJVM;
    ASSERT_EQ(env_->PushLocalFrame(256), 0);
    context_.emplace();
    PublishNativeContext(&*context_);
  }
  void TearDown() override {
    if (env_ == nullptr) return;
    if (env_->ExceptionCheck()) {
      env_->ExceptionDescribe();
      env_->ExceptionClear();
      ADD_FAILURE() << "a Java exception was left pending";
    }
    env_->PopLocalFrame(nullptr);
    PublishNativeContext(nullptr);
  }
  // What start-up publishes for the natives: the configuration they read.
  void UseConfig(const config::LaunchConfig& config) { context_->config = &config; }

  std::optional<NativeContext> context_;

  jclass Class(const char* name) {
    jclass found = env_->FindClass(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  jstring Str(const std::string& text) { return env_->NewStringUTF(text.c_str()); }
  jstring Str16(const std::u16string& text) {
    return env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
  }
  std::string Text(jobject string) {
    if (string == nullptr) return "<null>";
    const char* chars = env_->GetStringUTFChars(static_cast<jstring>(string), nullptr);
    std::string text(chars);
    env_->ReleaseStringUTFChars(static_cast<jstring>(string), chars);
    return text;
  }
  std::string TextOf(jobject object) {
    if (object == nullptr) return "<null>";
    jclass object_class = Class("java/lang/Object");
    jmethodID to_string = env_->GetMethodID(object_class, "toString", "()Ljava/lang/String;");
    return Text(env_->CallObjectMethod(object, to_string));
  }
  std::optional<std::string> Bytes(jbyteArray array) {
    if (array == nullptr) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(env_->GetArrayLength(array)), '\0');
    env_->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                             reinterpret_cast<jbyte*>(bytes.data()));
    return bytes;
  }
  jbyteArray JavaBytes(const std::string& bytes) {
    jbyteArray array = env_->NewByteArray(static_cast<jsize>(bytes.size()));
    env_->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                             reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
  }
  // The text of every element, in order.
  std::vector<std::string> Elements(jobject enumeration) {
    std::vector<std::string> texts;
    jclass type = Class("java/util/Enumeration");
    jmethodID has_more = env_->GetMethodID(type, "hasMoreElements", "()Z");
    jmethodID next = env_->GetMethodID(type, "nextElement", "()Ljava/lang/Object;");
    while (env_->CallBooleanMethod(enumeration, has_more)) {
      texts.push_back(TextOf(env_->CallObjectMethod(enumeration, next)));
    }
    return texts;
  }
  std::string PendingExceptionClass() {
    jthrowable pending = env_->ExceptionOccurred();
    if (pending == nullptr) return "";
    env_->ExceptionClear();
    return TextOf(env_->CallObjectMethod(pending, env_->GetMethodID(Class("java/lang/Object"), "getClass",
                                                                   "()Ljava/lang/Class;")));
  }

  JNIEnv* env_ = nullptr;
};

// ---- Class loader ------------------------------------------------------------

class ClassLoaderNativesTest : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    if (HasFatalFailure()) return;
    loader_class_ = Class("com/tarnwick/nxo/KestrelClassLoader");
    ASSERT_NE(loader_class_, nullptr);
    loader_ = env_->NewObject(loader_class_, env_->GetMethodID(loader_class_, "<init>", "()V"));
    ASSERT_NE(loader_, nullptr);
  }
  void Put(const char* name, const char* url) {
    jmethodID put = env_->GetMethodID(loader_class_, "put", "(Ljava/lang/String;Ljava/lang/String;)V");
    env_->CallVoidMethod(loader_, put, Str(name), Str(url));
    ASSERT_FALSE(env_->ExceptionCheck());
  }
  // Called virtually, as Java code calls them.
  jobject CallWithName(const char* method, const char* descriptor, const char* name) {
    return env_->CallObjectMethod(loader_, env_->GetMethodID(loader_class_, method, descriptor), Str(name));
  }
  jobject FindResources(const char* name) {
    return CallWithName("findResources", "(Ljava/lang/String;)Ljava/util/Enumeration;", name);
  }
  jobject FindResource(const char* name) {
    return CallWithName("findResource", "(Ljava/lang/String;)Ljava/net/URL;", name);
  }

  jclass loader_class_ = nullptr;
  jobject loader_ = nullptr;
};

TEST_F(ClassLoaderNativesTest, RegistrationBindsTheWholeTableBeforeClassesInitialise) {
  EXPECT_EQ(SharedJvm().registered, 7);
  jfieldID seen = env_->GetStaticFieldID(loader_class_, "registeredAtInit", "Ljava/lang/String;");
  EXPECT_EQ(Text(env_->GetStaticObjectField(loader_class_, seen)), "true");
  // Binding again (a second launcher call) is harmless and complete.
  EXPECT_EQ(RegisterLauncherNatives(env_), 7);
}

TEST_F(ClassLoaderNativesTest, FindResourcesCopiesTheBaseResultsInOrderWithDuplicates) {
  Put("res/a.txt", "file:/one/a.txt");
  Put("res/a.txt", "file:/two/a.txt");
  Put("res/a.txt", "file:/one/a.txt");
  jobject found = FindResources("res/a.txt");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(TextOf(env_->GetObjectClass(found)), "class java.util.Vector$1");
  EXPECT_EQ(Elements(found),
            (std::vector<std::string>{"file:/one/a.txt", "file:/two/a.txt", "file:/one/a.txt"}));
}

TEST_F(ClassLoaderNativesTest, FindResourcesForUnknownNamesIsEmptyNotNull) {
  for (const char* name : {"no/such/thing", "null/enumeration"}) {
    jobject found = FindResources(name);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_TRUE(Elements(found).empty()) << name;
  }
}

TEST_F(ClassLoaderNativesTest, BaseFailuresStayPending) {
  EXPECT_EQ(FindResources("failing/resource"), nullptr);
  EXPECT_EQ(PendingExceptionClass(), "class java.io.IOException");
  EXPECT_EQ(FindResource("failing/resource"), nullptr);
  EXPECT_EQ(PendingExceptionClass(), "class java.lang.IllegalStateException");
}

TEST_F(ClassLoaderNativesTest, FindResourceGivesTheBaseAnswer) {
  Put("app.properties", "file:/first/app.properties");
  Put("app.properties", "file:/second/app.properties");
  EXPECT_EQ(TextOf(FindResource("app.properties")), "file:/first/app.properties");
  EXPECT_EQ(FindResource("missing.properties"), nullptr);
  EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(ClassLoaderNativesTest, LookupsOfTheirOwnAnswerNull) {
  EXPECT_EQ(CallWithName("findClass", "(Ljava/lang/String;)Ljava/lang/Class;", "java.lang.String"), nullptr);
  EXPECT_EQ(CallWithName("findResource0", "(Ljava/lang/String;)Ljava/net/URL;", "app.properties"), nullptr);
  jmethodID define = env_->GetMethodID(loader_class_, "defineClass",
                                       "(Ljava/lang/String;Ljava/security/CodeSource;)Ljava/lang/Class;");
  EXPECT_EQ(env_->CallObjectMethod(loader_, define, Str("a.B"), nullptr), nullptr);
  EXPECT_FALSE(env_->ExceptionCheck());
}

TEST_F(ClassLoaderNativesTest, EmbeddedJarsAreAlwaysAnEmptyStringArray) {
  config::LaunchConfig config;
  config.SetTextForTesting("usejarprotocol false", 0);
  UseConfig(config);
  jmethodID jars = env_->GetMethodID(loader_class_, "getEmbeddedJars", "()[Ljava/lang/String;");
  for (int call = 0; call < 3; ++call) {
    auto array = static_cast<jobjectArray>(env_->CallObjectMethod(loader_, jars));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(env_->GetArrayLength(array), 0);
    EXPECT_EQ(TextOf(env_->GetObjectClass(array)), "class [Ljava.lang.String;");
  }
  // The native read the key and keeps its first answer.
  config.SetTextForTesting("usejarprotocol true", 0);
  EXPECT_TRUE(UseJarProtocolOff());
}

// ---- URL handler -------------------------------------------------------------

class HandlerNativeTest : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    if (HasFatalFailure()) return;
    jclass handler_class = Class("com/tarnwick/nxo/Handler");
    ASSERT_NE(handler_class, nullptr);
    handler_ = env_->NewObject(handler_class, env_->GetMethodID(handler_class, "<init>", "()V"));
    load_ = env_->GetMethodID(handler_class, "loadResourceData", "(Ljava/lang/String;)[B");
    ASSERT_NE(load_, nullptr);
    classes_ = Class("com/tarnwick/nxo/test/Classes");
  }
  std::optional<std::string> Load(jstring url) {
    return Bytes(static_cast<jbyteArray>(env_->CallObjectMethod(handler_, load_, url)));
  }
  std::optional<std::string> Load(const std::string& url) { return Load(Str(url)); }
  // Through java.net.URL and the registered protocol handler package.
  std::optional<std::string> ReadUrl(const std::string& url) {
    jmethodID read = env_->GetStaticMethodID(classes_, "read", "(Ljava/lang/String;)[B");
    return Bytes(static_cast<jbyteArray>(env_->CallStaticObjectMethod(classes_, read, Str(url))));
  }
  std::string DefineAndDescribe(const std::string& bytes) {
    jmethodID define = env_->GetStaticMethodID(classes_, "defineAndDescribe", "([B)Ljava/lang/String;");
    return Text(env_->CallStaticObjectMethod(classes_, define, JavaBytes(bytes)));
  }
  void UseConfig(config::LaunchConfig& config, const std::string& embedded) {
    config.SetTextForTesting(embedded, 0);
    JvmTest::UseConfig(config);
  }

  jobject handler_ = nullptr;
  jmethodID load_ = nullptr;
  jclass classes_ = nullptr;
};

TEST_F(HandlerNativeTest, AnswersEachKindOfUrl) {
  struct Case {
    std::string url;
    std::optional<std::string> expected;
  } cases[] = {
      {"NXO:A.class", ExpectedClassBytes("A")},
      {"nxo:.class", ExpectedClassBytes("")},
      {"nxo:Main.class", ExpectedClassBytes("Main")},
      {"nxo:com/./app/Main.class", ExpectedClassBytes("com/app/Main")},
      {"nxo:com/x/../app/Main.class", ExpectedClassBytes("com/app/Main")},
      {"nxo:lib/a.jar!/com/app/Main.class", ExpectedClassBytes("com/app/Main")},
      {"nxo:data/readme.txt", std::string()},
      {"file:/x.class", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(Load(c.url), c.expected) << c.url;
  EXPECT_EQ(Load("nxo:.class")->size(), 115u);
  EXPECT_EQ(Load(static_cast<jstring>(nullptr)), std::nullopt);
}

TEST_F(HandlerNativeTest, LongNamesGetTheirLengthFieldOrNothing) {
  const std::optional<std::string> long_name = Load("nxo:" + std::string(300, 'L') + ".class");
  ASSERT_TRUE(long_name.has_value());
  ASSERT_EQ(long_name->size(), 415u);
  EXPECT_EQ(long_name->substr(49, 2), "\x01\x2C");
  EXPECT_EQ(Load("nxo:" + std::string(65536, 'L') + ".class"), std::string());
}

TEST_F(HandlerNativeTest, UrlStreamsOfTheSchemeCarryTheNativeBytes) {
  EXPECT_EQ(ReadUrl("nxo:com/app/Main.class"), ExpectedClassBytes("com/app/Main"));
  EXPECT_EQ(ReadUrl("nxo:data/readme.txt"), std::string());
}

TEST_F(HandlerNativeTest, SynthesisedClassesAreDefinedAndInstantiated) {
  struct Case {
    std::u16string url;
    std::u16string java_name;
  } cases[] = {
      // Names outside the BMP are not Java identifiers in a class file of
      // this version, so the JVM would refuse them whatever their encoding.
      {u"nxo:A.class", u"A"},
      {u"nxo:lib/a.jar!/com/app/Main.class", u"com.app.Main"},
      {u"nxo:pkg/Caf\u00e9.class", u"pkg.Caf\u00e9"},
      {u"nxo:\u65e5\u672c/\u30af\u30e9\u30b9.class", u"\u65e5\u672c.\u30af\u30e9\u30b9"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> bytes = Load(Str16(c.url));
    ASSERT_TRUE(bytes.has_value());
    const std::string expected_name = Text(Str16(c.java_name));
    EXPECT_EQ(DefineAndDescribe(*bytes), expected_name +
                                             "|public|java.lang.Object|1 public constructor(0)|"
                                             "0 methods|0 fields");
    EXPECT_FALSE(env_->ExceptionCheck()) << expected_name;
    if (env_->ExceptionCheck()) {
      env_->ExceptionDescribe();
      env_->ExceptionClear();
    }
  }
}

TEST_F(HandlerNativeTest, CompatibleTrueStopsSynthesis) {
  config::LaunchConfig config;
  UseConfig(config, "compatible TRUE");
  EXPECT_EQ(Load("nxo:A.class"), std::string());
  EXPECT_EQ(Load("file:/x.class"), std::nullopt);
}

TEST_F(HandlerNativeTest, FakeClassBytesFalseGivesEmptyClassResources) {
  config::LaunchConfig config;
  UseConfig(config, "fakeclassbytes False");
  EXPECT_EQ(Load("nxo:A.class"), std::string());
  // Remembered: a later configuration has no effect.
  UseConfig(config, "fakeclassbytes true");
  EXPECT_EQ(Load("nxo:A.class"), std::string());
}

// ---- A payload shaped like the shipped classes ------------------------------

TEST(PartialPayload, MethodsAndClassesThatAreNotThereAreSkipped) {
  if (Payload() != "partial") GTEST_SKIP() << "runs with NXO_TEST_PAYLOAD=partial";
  JNIEnv* env = SharedJvm().env;
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(SharedJvm().registered, 3);
  EXPECT_FALSE(env->ExceptionCheck());
  jclass loader_class = env->FindClass("com/tarnwick/nxo/KestrelClassLoader");
  ASSERT_NE(loader_class, nullptr);
  jobject loader = env->NewObject(loader_class, env->GetMethodID(loader_class, "<init>", "()V"));
  jobject found = env->CallObjectMethod(
      loader, env->GetMethodID(loader_class, "findResources", "(Ljava/lang/String;)Ljava/util/Enumeration;"),
      env->NewStringUTF("nothing/here"));
  ASSERT_NE(found, nullptr);
  jclass enumeration = env->FindClass("java/util/Enumeration");
  EXPECT_FALSE(env->CallBooleanMethod(found, env->GetMethodID(enumeration, "hasMoreElements", "()Z")));
  EXPECT_FALSE(env->ExceptionCheck());
}

// ---- The shipped support classes ---------------------------------------------

class RealPayload : public JvmTest {
 protected:
  void SetUp() override {
    if (Payload() != "real") GTEST_SKIP() << "runs with NXO_TEST_PAYLOAD=real";
    env_ = SharedJvm().env;
    ASSERT_NE(env_, nullptr);
    ASSERT_EQ(env_->PushLocalFrame(256), 0);
    loader_class_ = Class("com/tarnwick/nxo/KestrelClassLoader");
    ASSERT_NE(loader_class_, nullptr);
  }
  // A loader of the shipped class over directory URLs, without a parent.
  jobject NewLoader(const std::vector<std::string>& directories) {
    jclass url_class = Class("java/net/URL");
    jmethodID url_init = env_->GetMethodID(url_class, "<init>", "(Ljava/lang/String;)V");
    jobjectArray urls = env_->NewObjectArray(static_cast<jsize>(directories.size()), url_class, nullptr);
    for (std::size_t i = 0; i < directories.size(); ++i) {
      env_->SetObjectArrayElement(urls, static_cast<jsize>(i),
                                  env_->NewObject(url_class, url_init, Str("file:" + directories[i])));
    }
    jmethodID init = env_->GetMethodID(loader_class_, "<init>", "([Ljava/net/URL;Ljava/lang/ClassLoader;)V");
    jobject loader = env_->NewObject(loader_class_, init, urls, nullptr);
    EXPECT_NE(loader, nullptr);
    return loader;
  }
  std::optional<std::string> ReadUrl(const std::string& url) {
    jclass url_class = Class("java/net/URL");
    jobject object = env_->NewObject(url_class, env_->GetMethodID(url_class, "<init>", "(Ljava/lang/String;)V"),
                                     Str(url));
    jobject stream = env_->CallObjectMethod(object, env_->GetMethodID(url_class, "openStream",
                                                                      "()Ljava/io/InputStream;"));
    if (stream == nullptr) return std::nullopt;
    jclass stream_class = Class("java/io/InputStream");
    return Bytes(static_cast<jbyteArray>(
        env_->CallObjectMethod(stream, env_->GetMethodID(stream_class, "readAllBytes", "()[B"))));
  }

  jclass loader_class_ = nullptr;
};

TEST_F(RealPayload, BindsTheStartClassesAtOnceAndTheOthersWhenTheyInitialise) {
  // At start, KestrelClassLoader: defineClass, findResource0, findResources,
  // modulePackages (findClass and findResource are Java methods there);
  // Handler: bindNatives, loadResourceData.
  EXPECT_EQ(SharedJvm().registered, 6);
  // The others bind theirs as they initialise, inside a launched application
  // (which the launcher names in this property): a call then reaches the
  // launcher instead of ending in UnsatisfiedLinkError.
  ASSERT_TRUE(jni::SetSystemProperty(env_, "nxo.app.path", "/nonexistent/app"));
  jclass instances = Class("com/tarnwick/nxo/Instances");
  ASSERT_NE(instances, nullptr);
  env_->CallStaticIntMethod(instances, env_->GetStaticMethodID(instances, "getCurrentInstance", "()I"));
  EXPECT_EQ(PendingExceptionClass(), "");
  jclass splash = Class("com/tarnwick/nxo/SplashScreen");
  ASSERT_NE(splash, nullptr);
  env_->CallStaticObjectMethod(
      splash, env_->GetStaticMethodID(splash, "nativeGetSplashScreen", "()Lcom/tarnwick/nxo/SplashScreen;"));
  EXPECT_EQ(PendingExceptionClass(), "");
}

TEST_F(RealPayload, LoaderFallsBackToItsArchives) {
  test::TempDir first, second;
  test::WriteFile(first.File("r.txt"), "one");
  test::WriteFile(second.File("r.txt"), "two");
  std::filesystem::create_directories(second.Path() / "p");
  test::WriteFile((second.Path() / "p" / "Q.class").string(), ExpectedClassBytes("p/Q"));
  jobject loader = NewLoader({first.Str(), second.Str()});
  ASSERT_NE(loader, nullptr);

  jobject found = env_->CallObjectMethod(
      loader, env_->GetMethodID(loader_class_, "findResources", "(Ljava/lang/String;)Ljava/util/Enumeration;"),
      Str("r.txt"));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Elements(found), (std::vector<std::string>{"file:" + first.Str() + "r.txt",
                                                       "file:" + second.Str() + "r.txt"}));
  jobject none = env_->CallObjectMethod(
      loader, env_->GetMethodID(loader_class_, "findResources", "(Ljava/lang/String;)Ljava/util/Enumeration;"),
      Str("absent.txt"));
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(Elements(none).empty());

  // findClass asks findResource0 and defineClass, which find nothing, and
  // then defines the class from the directory.
  jobject loaded = env_->CallObjectMethod(
      loader, env_->GetMethodID(loader_class_, "loadClass", "(Ljava/lang/String;)Ljava/lang/Class;"), Str("p.Q"));
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(TextOf(loaded), "class p.Q");
}

TEST_F(RealPayload, SchemeUrlsReadTheNativeBytes) {
  EXPECT_EQ(ReadUrl("nxo:lib/a.jar!/com/app/Main.class"), ExpectedClassBytes("com/app/Main"));
  EXPECT_EQ(ReadUrl("nxo:data/readme.txt"), std::string());
}

}  // namespace
}  // namespace nxo::natives
