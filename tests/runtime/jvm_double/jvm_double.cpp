// A stand-in for a Java runtime's JVM library, for tests of loading the
// runtime and launching through JNI without a real Java runtime (32-bit
// Windows has none on the build machine).
//
// It answers the JNI invocation interface and the few JNI functions the
// launcher calls, with the real layouts and calling conventions of jni.h,
// and writes what it receives, one line each, to the file named by
// NXO_JVM_DOUBLE_LOG (with ".training" added in a launcher's training start,
// whose environment names NXO_CDS_TRAINING, so that the log of the start
// that left it behind stays its own, and ".base" in the copy that dumps its
// base archive, whose environment names NXO_CDS_BASE). Its behaviour is
// chosen through the environment:
//   NXO_JVM_DOUBLE_VERSION       the "java.version" it answers
//   NXO_JVM_DOUBLE_REFUSE        creation fails with JNI_ERR
//   NXO_JVM_DOUBLE_NO_LAUNCHER   the launcher class is missing
//   NXO_JVM_DOUBLE_NO_MAIN       the launcher class has no main
//   NXO_JVM_DOUBLE_THROW         the launcher's main throws
//   NXO_JVM_DOUBLE_NO_GETPROPERTY  java.lang.System has no getProperty, so
//                                the runtime's version cannot be read
//   NXO_JVM_DOUBLE_MAIN_WAIT     the launcher's main takes this many
//                                milliseconds, as an application's would
//   NXO_JVM_DOUBLE_LOG_THREAD    creation also logs whether it runs on the
//                                process's first thread
//   NXO_JVM_DOUBLE_PRINT         main writes "double stdout" and "double
//                                stderr" lines to the process's standard
//                                handles, as a runtime's FileDescriptor.out
//                                and .err do, and "bridge stdout"/"bridge
//                                stderr" through the launcher's exported
//                                RedirOutputStream.write native when the
//                                launcher installed the bridge (System.setOut
//                                or setErr); at unload, "at unload" goes to
//                                the standard output handle (before the
//                                launcher's exit-time teardown when the
//                                launch unloads the JVM, after it when the
//                                process ends through System.exit)
//   NXO_JVM_DOUBLE_RAISE         main raises this signal number through the
//                                C runtime (the launcher's handler then asks
//                                for System.exit, which the double performs
//                                with the C runtime's exit)
//   NXO_JVM_DOUBLE_MAIN_SLEEP    the launcher's main takes this many
//                                milliseconds, as a running application would
// Class-data sharing as a real runtime does it, chosen by the options:
//   -XX:ArchiveClassesAtExit=PATH  on the way out (DestroyJavaVM, or
//                                System.exit before the C runtime's exit) an
//                                "archive" is written there: the JVM's magic
//                                number and a line, made read-only as the
//                                JVM makes it
//   -XX:AOTCacheOutput=PATH        the same for an ahead-of-time cache, which
//                                starts with the magic number of a static
//                                archive
//   -XX:AOTCache=PATH              "mapped" as -XX:SharedArchiveFile is, when
//                                it starts with that magic number
//   -XX:DumpLoadedClassList=PATH   a list of one class is written there at
//                                creation, as a real JVM lists the classes
//                                of its own loaders while it loads them
//   -XX:SharedArchiveFile=PATHS    files there (one, or a base archive and
//                                the archive over it, split as the class path
//                                is) that each start with a magic number are
//                                "mapped": java.vm.info names "sharing", as
//                                it does while a real JVM maps classes from
//                                archives
//   -Xshare:dump                   a static "archive" is written to
//                                -XX:SharedArchiveFile at creation, and the
//                                process ends with code 0 through the C
//                                runtime's exit, as a real JVM ends once it
//                                has dumped
// Every other JNI function is a trap: a call to it is logged and aborts,
// so a test notices the launcher needing more than the double offers.
//
// The build chooses the exported creation entry: NXO_DOUBLE_ENTRY 1 exports
// JNI_CreateJavaVM, 2 only JNI_CreateJavaVM_Impl, 0 neither.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#include <chrono>
#include <csignal>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/text.h"

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#ifdef NXO_DOUBLE_COMPANION
extern "C" const char* nxo_jvm_double_companion_version();
#endif

namespace {

// ---- Environment and log ----------------------------------------------------

std::string Setting(const char* name) {
#ifdef _WIN32
  char buffer[1024];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
#else
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
#endif
}

bool Enabled(const char* name) { return !Setting(name).empty(); }

std::mutex log_lock;

// Opens, appends and closes for every line, so the log is complete even
// when the process ends abruptly or the library is being unloaded.
void Log(const std::string& line) {
  std::lock_guard<std::mutex> hold(log_lock);
  std::string path = Setting("NXO_JVM_DOUBLE_LOG");
  if (path.empty()) return;
  if (Enabled("NXO_CDS_BASE"))
    path += ".base";
  else if (Enabled("NXO_CDS_TRAINING"))
    path += ".training";
  std::string text = line + "\n";
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
#else
  if (FILE* file = std::fopen(path.c_str(), "ab")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
#endif
}

// ---- Objects ------------------------------------------------------------------

struct Object {
  enum Kind { kClass, kString, kArray, kThrowable, kInstance } kind;
  std::string name;      // class name, or the throwable's class
  std::u16string text;   // strings
  std::vector<jobject> items;  // arrays; an instance's constructor argument
  jlong long_field = 0;  // an instance's one long field (RedirOutputStream.h)
};

std::set<Object*> live_locals;

jobject NewLocal(Object* object) {
  live_locals.insert(object);
  return reinterpret_cast<jobject>(object);
}

Object* Of(jobject handle) { return reinterpret_cast<Object*>(handle); }

std::string TextOf(jobject handle) {
  if (handle == nullptr) return "(null)";
  return nxo::EncodeUtf8(Of(handle)->text);
}

jstring NewJavaString(std::u16string text) {
  return static_cast<jstring>(NewLocal(new Object{Object::kString, "java/lang/String", std::move(text), {}, 0}));
}

// ---- The pretend runtime ---------------------------------------------------

const char* const kLauncherClass = "com/tarnwick/nxo/KestrelLauncher";
const char* const kSystemClass = "java/lang/System";
const char* const kStringClass = "java/lang/String";

const char* const kBridgeClass = "com/tarnwick/nxo/RedirOutputStream";
// A class every runtime has and the double leaves out: the launcher asks for
// it to define its support classes itself, and must go on the usual way when
// it cannot. Logged as absent, not missing: asking for it is no fault.
const char* const kClassLoaderClass = "java/lang/ClassLoader";
const char* const kPrintStreamClass = "java/io/PrintStream";

int main_method, get_property_method, set_property_method, start_class_field;
int exit_method, set_out_method, set_err_method, bridge_init, print_stream_init, handle_field;

// The streams System.setOut and System.setErr received: copies of the
// RedirOutputStream inside each PrintStream, owned by the double.
Object* system_out_bridge = nullptr;
Object* system_err_bridge = nullptr;

std::string pending_exception;  // class name of the pending throwable, or ""
std::map<std::string, std::string> properties;

JNIEnv_ the_env;
JavaVM_ the_vm;
JNINativeInterface_ env_functions;
JNIInvokeInterface_ vm_functions;

void Throw(const std::string& throwable) { pending_exception = throwable; }

std::string DefaultVersion() {
#ifdef NXO_DOUBLE_COMPANION
  return nxo_jvm_double_companion_version();
#else
  return "17.0.2";
#endif
}

// What a Java program printing through System.out and System.err would
// cause: writes to the standard handles, or calls of the bridge's native.
void WriteToStandardHandle(bool error, const std::string& text) {
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text.data(),
            static_cast<DWORD>(text.size()), &written, nullptr);
#else
  ssize_t ignored = write(error ? 2 : 1, text.data(), text.size());
  (void)ignored;
#endif
}

void WriteThroughBridge(Object* bridge, const std::string& text) {
  using WriteNative = void(JNICALL*)(JNIEnv*, jobject, jint);
#ifdef _WIN32
  // How a runtime binds the native of a class whose library is the
  // executable: by its exported name.
  auto native = reinterpret_cast<WriteNative>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA(nullptr), "Java_com_tarnwick_nxo_RedirOutputStream_write")));
#else
  auto native = reinterpret_cast<WriteNative>(dlsym(RTLD_DEFAULT, "Java_com_tarnwick_nxo_RedirOutputStream_write"));
#endif
  if (native == nullptr) {
    Log("missing_native RedirOutputStream.write");
    return;
  }
  for (char c : text) native(&the_env, reinterpret_cast<jobject>(bridge), static_cast<unsigned char>(c));
}

void Print() {
  WriteToStandardHandle(false, "double stdout\n");
  WriteToStandardHandle(true, "double stderr\n");
  if (system_out_bridge != nullptr) WriteThroughBridge(system_out_bridge, "bridge stdout\n");
  if (system_err_bridge != nullptr) WriteThroughBridge(system_err_bridge, "bridge stderr\n");
}

void RecordMain(jobjectArray arguments) {
  Log("main");
  if (arguments != nullptr)
    for (jobject item : Of(arguments)->items) Log("main_arg " + TextOf(item));
  if (Enabled("NXO_JVM_DOUBLE_PRINT")) Print();
  if (!Setting("NXO_JVM_DOUBLE_RAISE").empty()) {
    const int signal_number = std::atoi(Setting("NXO_JVM_DOUBLE_RAISE").c_str());
    Log("raise " + std::to_string(signal_number));
    std::raise(signal_number);
    Log("raise returned");
  }
  const std::string wait = Setting("NXO_JVM_DOUBLE_MAIN_WAIT");
  if (!wait.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(wait.c_str())));
  if (Enabled("NXO_JVM_DOUBLE_THROW")) Throw("java/lang/IllegalStateException");
  const std::string sleep = Setting("NXO_JVM_DOUBLE_MAIN_SLEEP");
  if (!sleep.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep.c_str())));
}

void SetSystemStream(bool error, jobject print_stream) {
  Log(error ? "setErr" : "setOut");
  Object*& slot = error ? system_err_bridge : system_out_bridge;
  const std::vector<jobject>& inner = Of(print_stream)->items;
  if (!inner.empty() && inner[0] != nullptr) slot = new Object(*Of(inner[0]));
}

// The dynamic archive's magic number, in the machine's order.
const std::string kArchiveMagic("\xa8\xab\x0b\xf0", 4);
const std::string kStaticArchiveMagic("\xa2\xab\x0b\xf0", 4);
std::string archive_at_exit;  // -XX:ArchiveClassesAtExit or -XX:AOTCacheOutput
std::string archive_magic = kArchiveMagic;

void WriteArchiveAtExit() {
  if (archive_at_exit.empty()) return;
  const std::filesystem::path path = std::filesystem::u8path(archive_at_exit);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);  // the JVM removes what is there first
  std::ofstream(path, std::ios::binary) << archive_magic << "double archive\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read, ignored);
  archive_at_exit.clear();
}

bool dump_static = false;  // -Xshare:dump
std::string shared_archives;  // -XX:SharedArchiveFile

// Whether every one of |paths| (split as the class path is) starts with the
// magic number of an archive.
bool AllStartLikeArchives(const std::string& paths) {
#ifdef _WIN32
  const char separator = ';';
#else
  const char separator = ':';
#endif
  std::size_t start = 0;
  while (start <= paths.size()) {
    std::size_t end = paths.find(separator, start);
    if (end == std::string::npos) end = paths.size();
    std::ifstream file(std::filesystem::u8path(paths.substr(start, end - start)), std::ios::binary);
    std::string head(kArchiveMagic.size(), '\0');
    if (!file.read(head.data(), static_cast<std::streamsize>(head.size())) ||
        (head != kArchiveMagic && head != kStaticArchiveMagic))
      return false;
    start = end + 1;
  }
  return true;
}

void TakeSharingOption(const std::string& option) {
  static const std::string kAtExit = "-XX:ArchiveClassesAtExit=", kShared = "-XX:SharedArchiveFile=";
  static const std::string kClassList = "-XX:DumpLoadedClassList=";
  static const std::string kCacheOutput = "-XX:AOTCacheOutput=", kCache = "-XX:AOTCache=";
  if (option == "-Xshare:dump") dump_static = true;
  if (option.rfind(kAtExit, 0) == 0) archive_at_exit = option.substr(kAtExit.size());
  if (option.rfind(kCacheOutput, 0) == 0) {
    archive_at_exit = option.substr(kCacheOutput.size());
    archive_magic = kStaticArchiveMagic;
  }
  if (option.rfind(kClassList, 0) == 0)
    std::ofstream(std::filesystem::u8path(option.substr(kClassList.size())), std::ios::binary)
        << "java/lang/Object\n";
  std::string paths;
  if (option.rfind(kShared, 0) == 0) {
    paths = shared_archives = option.substr(kShared.size());
  } else if (option.rfind(kCache, 0) == 0) {
    paths = option.substr(kCache.size());
  } else {
    return;
  }
  if (!AllStartLikeArchives(paths)) return;
  properties["java.vm.info"] = "mixed mode, sharing";
  Log("archive_mapped " + paths);
}

// -Xshare:dump: the static archive, and the end of the process.
void DumpIfAsked() {
  if (!dump_static || shared_archives.empty()) return;
  archive_at_exit = shared_archives;
  archive_magic = kStaticArchiveMagic;
  WriteArchiveAtExit();
  Log("archive_dumped " + shared_archives);
  std::exit(0);
}

// System.exit as the runtime does it: the C runtime's exit, whose exit
// handlers (the launcher's teardown among them) run before the process ends.
[[noreturn]] void SystemExit(jint code) {
  Log("system_exit " + std::to_string(code));
  WriteArchiveAtExit();
  std::exit(code);
}

jobject CallStatic(jmethodID method, const std::vector<jobject>& arguments) {
  if (method == reinterpret_cast<jmethodID>(&get_property_method)) {
    std::string name = TextOf(arguments[0]);
    if (name == "java.version") {
      std::string version = Setting("NXO_JVM_DOUBLE_VERSION");
      return NewJavaString(nxo::DecodeUtf8(version.empty() ? DefaultVersion() : version));
    }
    auto found = properties.find(name);
    return found == properties.end() ? nullptr : NewJavaString(nxo::DecodeUtf8(found->second));
  }
  if (method == reinterpret_cast<jmethodID>(&set_property_method)) {
    std::string name = TextOf(arguments[0]);
    std::string value = TextOf(arguments[1]);
    Log("property " + name + "=" + value);
    auto found = properties.find(name);
    jobject previous = found == properties.end() ? nullptr : NewJavaString(nxo::DecodeUtf8(found->second));
    properties[name] = value;
    return previous;
  }
  if (method == reinterpret_cast<jmethodID>(&main_method)) {
    RecordMain(static_cast<jobjectArray>(arguments[0]));
    return nullptr;
  }
  if (method == reinterpret_cast<jmethodID>(&set_out_method) ||
      method == reinterpret_cast<jmethodID>(&set_err_method)) {
    SetSystemStream(method == reinterpret_cast<jmethodID>(&set_err_method), arguments[0]);
    return nullptr;
  }
  Log("unexpected static method");
  std::abort();
}

std::vector<jobject> TakeArguments(jmethodID method, va_list list) {
  int count = method == reinterpret_cast<jmethodID>(&set_property_method) ? 2 : 1;
  std::vector<jobject> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(va_arg(list, jobject));
  return arguments;
}

std::vector<jobject> TakeArguments(jmethodID method, const jvalue* values) {
  int count = method == reinterpret_cast<jmethodID>(&set_property_method) ? 2 : 1;
  std::vector<jobject> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(values[i].l);
  return arguments;
}

// ---- JNI functions -------------------------------------------------------------

jint JNICALL GetVersion(JNIEnv*) { return JNI_VERSION_1_8; }

jclass JNICALL FindClass(JNIEnv*, const char* name) {
  std::string wanted = name;
  bool known = wanted == kSystemClass || wanted == kStringClass || wanted == kBridgeClass ||
               wanted == kPrintStreamClass ||
               (wanted == kLauncherClass && !Enabled("NXO_JVM_DOUBLE_NO_LAUNCHER"));
  if (!known) {
    Log((wanted == kClassLoaderClass ? "absent_class " : "missing_class ") + wanted);
    Throw("java/lang/NoClassDefFoundError");
    return nullptr;
  }
  return static_cast<jclass>(NewLocal(new Object{Object::kClass, wanted, {}, {}, 0}));
}

jthrowable JNICALL ExceptionOccurred(JNIEnv*) {
  if (pending_exception.empty()) return nullptr;
  return static_cast<jthrowable>(NewLocal(new Object{Object::kThrowable, pending_exception, {}, {}, 0}));
}

void JNICALL ExceptionDescribe(JNIEnv*) {
  if (pending_exception.empty()) return;
  std::fprintf(stderr, "Exception in thread \"main\" %s\n", pending_exception.c_str());
  std::fflush(stderr);
  Log("describe " + pending_exception);
  pending_exception.clear();  // as the JNI specification says, describing clears
}

void JNICALL ExceptionClear(JNIEnv*) {
  Log("clear");
  pending_exception.clear();
}

jboolean JNICALL ExceptionCheck(JNIEnv*) { return pending_exception.empty() ? JNI_FALSE : JNI_TRUE; }

void JNICALL DeleteLocalRef(JNIEnv*, jobject object) {
  if (object == nullptr) return;
  if (live_locals.erase(Of(object)) == 0) {
    Log("bad_delete");
    return;
  }
  for (jobject item : Of(object)->items) delete Of(item);
  delete Of(object);
}

jfieldID JNICALL GetStaticFieldID(JNIEnv*, jclass cls, const char* name, const char* signature) {
  if (Of(cls)->name == kLauncherClass && std::strcmp(name, "startClass") == 0 &&
      std::strcmp(signature, "Ljava/lang/String;") == 0)
    return reinterpret_cast<jfieldID>(&start_class_field);
  Throw("java/lang/NoSuchFieldError");
  return nullptr;
}

void JNICALL SetStaticObjectField(JNIEnv*, jclass, jfieldID field, jobject value) {
  if (field == reinterpret_cast<jfieldID>(&start_class_field)) Log("startClass " + TextOf(value));
}

jmethodID JNICALL GetStaticMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
  std::string owner = Of(cls)->name;
  std::string method = name;
  std::string sig = signature;
  if (owner == kLauncherClass && method == "main" && sig == "([Ljava/lang/String;)V" &&
      !Enabled("NXO_JVM_DOUBLE_NO_MAIN"))
    return reinterpret_cast<jmethodID>(&main_method);
  if (owner == kSystemClass && method == "getProperty" && sig == "(Ljava/lang/String;)Ljava/lang/String;" &&
      !Enabled("NXO_JVM_DOUBLE_NO_GETPROPERTY"))
    return reinterpret_cast<jmethodID>(&get_property_method);
  if (owner == kSystemClass && method == "setProperty" &&
      sig == "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
    return reinterpret_cast<jmethodID>(&set_property_method);
  if (owner == kSystemClass && method == "exit" && sig == "(I)V")
    return reinterpret_cast<jmethodID>(&exit_method);
  if (owner == kSystemClass && method == "setOut" && sig == "(Ljava/io/PrintStream;)V")
    return reinterpret_cast<jmethodID>(&set_out_method);
  if (owner == kSystemClass && method == "setErr" && sig == "(Ljava/io/PrintStream;)V")
    return reinterpret_cast<jmethodID>(&set_err_method);
  Log("missing_method " + owner + "." + method + sig);
  Throw("java/lang/NoSuchMethodError");
  return nullptr;
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv*, jclass, jmethodID method, va_list list) {
  return CallStatic(method, TakeArguments(method, list));
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
  va_list list;
  va_start(list, method);
  jobject result = CallStaticObjectMethodV(env, cls, method, list);
  va_end(list);
  return result;
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv*, jclass, jmethodID method, const jvalue* values) {
  return CallStatic(method, TakeArguments(method, values));
}

void JNICALL CallStaticVoidMethodV(JNIEnv*, jclass, jmethodID method, va_list list) {
  if (method == reinterpret_cast<jmethodID>(&exit_method)) SystemExit(va_arg(list, jint));
  CallStatic(method, TakeArguments(method, list));
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
  va_list list;
  va_start(list, method);
  CallStaticVoidMethodV(env, cls, method, list);
  va_end(list);
}

void JNICALL CallStaticVoidMethodA(JNIEnv*, jclass, jmethodID method, const jvalue* values) {
  if (method == reinterpret_cast<jmethodID>(&exit_method)) SystemExit(values[0].i);
  CallStatic(method, TakeArguments(method, values));
}

jmethodID JNICALL GetMethodID(JNIEnv*, jclass cls, const char* name, const char* signature) {
  std::string owner = Of(cls)->name;
  std::string method = name;
  std::string sig = signature;
  if (owner == kBridgeClass && method == "<init>" && sig == "()V")
    return reinterpret_cast<jmethodID>(&bridge_init);
  if (owner == kPrintStreamClass && method == "<init>" && sig == "(Ljava/io/OutputStream;)V")
    return reinterpret_cast<jmethodID>(&print_stream_init);
  Log("missing_method " + owner + "." + method + sig);
  Throw("java/lang/NoSuchMethodError");
  return nullptr;
}

jfieldID JNICALL GetFieldID(JNIEnv*, jclass cls, const char* name, const char* signature) {
  if (Of(cls)->name == kBridgeClass && std::strcmp(name, "h") == 0 && std::strcmp(signature, "J") == 0)
    return reinterpret_cast<jfieldID>(&handle_field);
  Log(std::string("missing_field ") + Of(cls)->name + "." + name);
  Throw("java/lang/NoSuchFieldError");
  return nullptr;
}

// A PrintStream keeps a copy of the stream it was made around.
jobject Construct(jclass cls, jmethodID constructor, jobject argument) {
  Object* made = new Object{Object::kInstance, Of(cls)->name, {}, {}, 0};
  if (constructor == reinterpret_cast<jmethodID>(&print_stream_init))
    made->items.push_back(argument == nullptr ? nullptr : reinterpret_cast<jobject>(new Object(*Of(argument))));
  Log("new " + made->name);
  return NewLocal(made);
}

jobject JNICALL NewObjectV(JNIEnv*, jclass cls, jmethodID constructor, va_list list) {
  jobject argument = constructor == reinterpret_cast<jmethodID>(&print_stream_init) ? va_arg(list, jobject) : nullptr;
  return Construct(cls, constructor, argument);
}

jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID constructor, ...) {
  va_list list;
  va_start(list, constructor);
  jobject made = NewObjectV(env, cls, constructor, list);
  va_end(list);
  return made;
}

jobject JNICALL NewObjectA(JNIEnv*, jclass cls, jmethodID constructor, const jvalue* values) {
  return Construct(cls, constructor,
                   constructor == reinterpret_cast<jmethodID>(&print_stream_init) ? values[0].l : nullptr);
}

jclass JNICALL GetObjectClass(JNIEnv*, jobject object) {
  return static_cast<jclass>(NewLocal(new Object{Object::kClass, Of(object)->name, {}, {}, 0}));
}

void JNICALL SetLongField(JNIEnv*, jobject object, jfieldID, jlong value) { Of(object)->long_field = value; }

jlong JNICALL GetLongField(JNIEnv*, jobject object, jfieldID) { return Of(object)->long_field; }

jstring JNICALL NewString(JNIEnv*, const jchar* units, jsize length) {
  return NewJavaString(std::u16string(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length)));
}

jstring JNICALL NewStringUTF(JNIEnv*, const char* utf8) { return NewJavaString(nxo::DecodeUtf8(utf8)); }

jsize JNICALL GetStringLength(JNIEnv*, jstring text) { return static_cast<jsize>(Of(text)->text.size()); }

const jchar* JNICALL GetStringChars(JNIEnv*, jstring text, jboolean* is_copy) {
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  const std::u16string& units = Of(text)->text;
  jchar* copy = new jchar[units.size() + 1];
  std::memcpy(copy, units.data(), units.size() * sizeof(jchar));
  copy[units.size()] = 0;
  return copy;
}

void JNICALL ReleaseStringChars(JNIEnv*, jstring, const jchar* chars) { delete[] chars; }

// The launcher copies Java strings out a region at a time.
void JNICALL GetStringRegion(JNIEnv*, jstring text, jsize start, jsize length, jchar* out) {
  const std::u16string& units = Of(text)->text;
  std::memcpy(out, units.data() + start, static_cast<size_t>(length) * sizeof(jchar));
}

const char* JNICALL GetStringUTFChars(JNIEnv*, jstring text, jboolean* is_copy) {
  if (is_copy != nullptr) *is_copy = JNI_TRUE;
  std::string utf8 = nxo::EncodeUtf8(Of(text)->text);
  char* copy = new char[utf8.size() + 1];
  std::memcpy(copy, utf8.c_str(), utf8.size() + 1);
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char* chars) { delete[] chars; }

jsize JNICALL GetArrayLength(JNIEnv*, jarray array) { return static_cast<jsize>(Of(array)->items.size()); }

jobjectArray JNICALL NewObjectArray(JNIEnv*, jsize length, jclass element, jobject initial) {
  Object* array = new Object{Object::kArray, "[L" + Of(element)->name + ";", {}, {}, 0};
  array->items.assign(static_cast<size_t>(length), initial);
  return static_cast<jobjectArray>(NewLocal(array));
}

jobject JNICALL GetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index) {
  jobject item = Of(array)->items.at(static_cast<size_t>(index));
  return item == nullptr ? nullptr : NewLocal(new Object(*Of(item)));
}

void JNICALL SetObjectArrayElement(JNIEnv*, jobjectArray array, jsize index, jobject value) {
  // The element keeps its own copy: the caller deletes its local reference.
  Object* element = value == nullptr ? nullptr : new Object(*Of(value));
  jobject& slot = Of(array)->items.at(static_cast<size_t>(index));
  delete Of(slot);
  slot = reinterpret_cast<jobject>(element);
}

// ---- Invocation interface -----------------------------------------------------

jint JNICALL DestroyJavaVM(JavaVM*) {
  Log("destroy");
  WriteArchiveAtExit();
  Log("live_local_refs " + std::to_string(live_locals.size()));
  return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM*, void** env, void*) {
  Log("attach");
  *env = &the_env;
  return JNI_OK;
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** env, void*) {
  Log("attach_daemon");
  *env = &the_env;
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
  Log("detach");
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM*, void** env, jint) {
  *env = &the_env;
  return JNI_OK;
}

void Unexpected() {
  Log("unexpected_jni_call");
  std::abort();
}

template <typename Table>
void FillWithTraps(Table& table) {
  void** slots = reinterpret_cast<void**>(&table);
  for (size_t i = 0; i < sizeof(Table) / sizeof(void*); ++i) slots[i] = reinterpret_cast<void*>(&Unexpected);
}

void BuildTables() {
  FillWithTraps(env_functions);
  JNINativeInterface_& f = env_functions;
  f.GetVersion = GetVersion;
  f.FindClass = FindClass;
  f.ExceptionOccurred = ExceptionOccurred;
  f.ExceptionDescribe = ExceptionDescribe;
  f.ExceptionClear = ExceptionClear;
  f.ExceptionCheck = ExceptionCheck;
  f.DeleteLocalRef = DeleteLocalRef;
  f.GetStaticFieldID = GetStaticFieldID;
  f.SetStaticObjectField = SetStaticObjectField;
  f.GetStaticMethodID = GetStaticMethodID;
  f.CallStaticObjectMethod = CallStaticObjectMethod;
  f.CallStaticObjectMethodV = CallStaticObjectMethodV;
  f.CallStaticObjectMethodA = CallStaticObjectMethodA;
  f.CallStaticVoidMethod = CallStaticVoidMethod;
  f.CallStaticVoidMethodV = CallStaticVoidMethodV;
  f.CallStaticVoidMethodA = CallStaticVoidMethodA;
  f.NewString = NewString;
  f.NewStringUTF = NewStringUTF;
  f.GetStringLength = GetStringLength;
  f.GetStringChars = GetStringChars;
  f.ReleaseStringChars = ReleaseStringChars;
  f.GetStringRegion = GetStringRegion;
  f.GetStringUTFChars = GetStringUTFChars;
  f.ReleaseStringUTFChars = ReleaseStringUTFChars;
  f.GetArrayLength = GetArrayLength;
  f.NewObjectArray = NewObjectArray;
  f.GetObjectArrayElement = GetObjectArrayElement;
  f.SetObjectArrayElement = SetObjectArrayElement;
  f.GetMethodID = GetMethodID;
  f.GetFieldID = GetFieldID;
  f.NewObject = NewObject;
  f.NewObjectV = NewObjectV;
  f.NewObjectA = NewObjectA;
  f.GetObjectClass = GetObjectClass;
  f.SetLongField = SetLongField;
  f.GetLongField = GetLongField;
  the_env.functions = &env_functions;

  FillWithTraps(vm_functions);
  vm_functions.DestroyJavaVM = DestroyJavaVM;
  vm_functions.AttachCurrentThread = AttachCurrentThread;
  vm_functions.DetachCurrentThread = DetachCurrentThread;
  vm_functions.GetEnv = GetEnv;
  vm_functions.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
  the_vm.functions = &vm_functions;
}

#ifdef _WIN32
// The process's first thread is the one of its threads created earliest.
DWORD FirstThreadId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD first = 0;
  ULONGLONG earliest = ~0ULL;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      ULONGLONG when = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
      if (when < earliest) {
        earliest = when;
        first = entry.th32ThreadID;
      }
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return first;
}

bool OnFirstThread() { return FirstThreadId() == GetCurrentThreadId(); }
#else
bool OnFirstThread() { return syscall(SYS_gettid) == getpid(); }
#endif

// "-Dname=value" options become properties, as in a real runtime.
void TakeProperty(const std::string& option) {
  if (option.rfind("-D", 0) != 0) return;
  std::size_t equals = option.find('=');
  std::string name = option.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  properties[name] = equals == std::string::npos ? "" : option.substr(equals + 1);
}

std::string WideEnvironment(const std::string& name) {
#ifdef _WIN32
  std::wstring wide_name(name.begin(), name.end());
  wchar_t buffer[1024];
  DWORD length = GetEnvironmentVariableW(wide_name.c_str(), buffer, 1024);
  if (length == 0 || length >= 1024) return "(unset)";
  return nxo::EncodeUtf8(std::u16string(buffer, buffer + length));
#else
  std::string value = Setting(name.c_str());
  return value.empty() ? "(unset)" : value;
#endif
}

[[maybe_unused]] jint Create(JavaVM** vm, void** env, void* raw_arguments) {
  const JavaVMInitArgs* arguments = static_cast<const JavaVMInitArgs*>(raw_arguments);
  char header[96];
  std::snprintf(header, sizeof header, "create version=0x%08x ignore=%d options=%d",
                static_cast<unsigned>(arguments->version), arguments->ignoreUnrecognized,
                static_cast<int>(arguments->nOptions));
  Log(header);
  if (Enabled("NXO_JVM_DOUBLE_LOG_THREAD"))
    Log(OnFirstThread() ? "create_thread first" : "create_thread other");
  for (jint i = 0; i < arguments->nOptions; ++i) {
    Log(std::string("option ") + arguments->options[i].optionString);
    TakeProperty(arguments->options[i].optionString);
    TakeSharingOption(arguments->options[i].optionString);
  }
  // The runtime reads the environment as wide text on Windows: so does the
  // double, for the variable named here.
  const std::string logged_variable = Setting("NXO_JVM_DOUBLE_LOG_ENV");
  if (!logged_variable.empty()) Log("env " + logged_variable + "=" + WideEnvironment(logged_variable));
  if (Enabled("NXO_JVM_DOUBLE_REFUSE")) {
    Log("refused");
    return JNI_ERR;
  }
  DumpIfAsked();
  if (properties.find("java.vm.info") == properties.end()) properties["java.vm.info"] = "mixed mode";
  BuildTables();
  *vm = &the_vm;
  *env = &the_env;
  return JNI_OK;
}

}  // namespace

#if NXO_DOUBLE_ENTRY == 1
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* arguments) {
  return Create(vm, env, arguments);
}
#elif NXO_DOUBLE_ENTRY == 2
extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM_Impl(JavaVM** vm, void** env, void* arguments) {
  return Create(vm, env, arguments);
}
#else
// No creation entry under either name; the library still exports something.
extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_ERR; }
#endif

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    Log("unload");
    if (Enabled("NXO_JVM_DOUBLE_PRINT")) WriteToStandardHandle(false, "at unload\n");
  }
  return TRUE;
}
#else
__attribute__((destructor)) static void OnUnload() { Log("unload"); }
#endif
