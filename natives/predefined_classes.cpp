#include "natives/predefined_classes.h"

#include <string>
#include <string_view>

#include "config/payload.h"
#include "jni/jni_helpers.h"
#include "platform/platform.h"
#include "support/trail.h"

namespace nxo::natives {

namespace {

// Every class the start path loads from the executable, in an order that
// defines each one's superclass and interfaces first: a class whose
// supertype is still missing would have the system loader fetch that from
// the executable after all. tests/launcher/test_class_loading_linux.py
// fails when a start loads one of them, or another support class, the slow
// way.
constexpr const char* kPredefinedClasses[] = {
    "com/tarnwick/nxo/Handler",
    "com/tarnwick/loader/LaunchedURLClassLoader",
    "com/tarnwick/nxo/KestrelClassLoader",
    "com/tarnwick/loader/LaunchedURLClassLoader$LazyPermissions",
    "com/tarnwick/loader/LaunchedURLClassLoader$ParentClasses",
    "com/tarnwick/loader/ClassPathRoot",
    "com/tarnwick/loader/ZipRoot",
    "com/tarnwick/loader/ExecutableArchiveLauncher",
    "com/tarnwick/nxo/KestrelLauncher",
    "com/tarnwick/loader/Archive",
    "com/tarnwick/loader/Archive$Entry",
    "com/tarnwick/loader/JarArchive",
    "com/tarnwick/loader/ZipCatalog",
    "com/tarnwick/loader/jar/Handler",
};

// The packager writes the support classes before the application's entries;
// their headers fit well within this much of the central directory.
constexpr std::size_t kDirectoryBytesRead = 64 * 1024;

// java.util.zip.Inflater, driven through JNI: the launcher carries no
// decompressor of its own, and the runtime's is the one the class loader
// would have used.
class JavaInflater {
 public:
  explicit JavaInflater(JNIEnv* env) : env_(env) {}
  ~JavaInflater() {
    if (!inflater_) return;
    env_->CallVoidMethod(inflater_.get(), end_);
    if (env_->ExceptionCheck()) env_->ExceptionClear();
  }
  JavaInflater(const JavaInflater&) = delete;
  JavaInflater& operator=(const JavaInflater&) = delete;

  bool Open() {
    type_ = jni::FindClass(env_, "java/util/zip/Inflater");
    if (!type_) return false;
    const jmethodID make = env_->GetMethodID(type_.get(), "<init>", "(Z)V");
    set_input_ = env_->GetMethodID(type_.get(), "setInput", "([BII)V");
    inflate_ = env_->GetMethodID(type_.get(), "inflate", "([BII)I");
    reset_ = env_->GetMethodID(type_.get(), "reset", "()V");
    end_ = env_->GetMethodID(type_.get(), "end", "()V");
    if (make == nullptr || set_input_ == nullptr || inflate_ == nullptr || reset_ == nullptr ||
        end_ == nullptr)
      return false;
    inflater_ = jni::LocalRef<jobject>(env_, env_->NewObject(type_.get(), make, JNI_TRUE));  // raw
    return !env_->ExceptionCheck() && inflater_;
  }

  // The |size| bytes |deflated| inflates to; false when it gives other than
  // exactly those, or a call threw (the exception is left pending).
  bool Inflate(const std::string& deflated, std::uint32_t size, std::string& bytes) {
    // Raw inflation may want one byte past the data before it reports the end.
    const jsize input_length = static_cast<jsize>(deflated.size() + 1);
    const jni::LocalRef<jbyteArray> input(env_, env_->NewByteArray(input_length));
    const jni::LocalRef<jbyteArray> output(env_, env_->NewByteArray(static_cast<jsize>(size)));
    if (!input || !output) return false;
    env_->SetByteArrayRegion(input.get(), 0, static_cast<jsize>(deflated.size()),
                             reinterpret_cast<const jbyte*>(deflated.data()));
    env_->CallVoidMethod(inflater_.get(), set_input_, input.get(), 0, input_length);
    if (env_->ExceptionCheck()) return false;
    const jint filled =
        env_->CallIntMethod(inflater_.get(), inflate_, output.get(), 0, static_cast<jint>(size));
    if (env_->ExceptionCheck() || filled != static_cast<jint>(size)) return false;
    env_->CallVoidMethod(inflater_.get(), reset_);
    if (env_->ExceptionCheck()) return false;
    bytes.resize(size);
    env_->GetByteArrayRegion(output.get(), 0, static_cast<jsize>(size),
                             reinterpret_cast<jbyte*>(bytes.data()));
    return !env_->ExceptionCheck();
  }

 private:
  JNIEnv* env_;
  jni::LocalRef<jclass> type_;
  jni::LocalRef<jobject> inflater_;
  jmethodID set_input_ = nullptr;
  jmethodID inflate_ = nullptr;
  jmethodID reset_ = nullptr;
  jmethodID end_ = nullptr;
};

jni::LocalRef<jobject> SystemClassLoader(JNIEnv* env) {
  const jni::LocalRef<jclass> type = jni::FindClass(env, "java/lang/ClassLoader");
  if (!type) return {};
  const jmethodID get =
      env->GetStaticMethodID(type.get(), "getSystemClassLoader", "()Ljava/lang/ClassLoader;");
  if (get == nullptr) return {};
  jni::LocalRef<jobject> loader(env, env->CallStaticObjectMethod(type.get(), get));
  if (env->ExceptionCheck()) return {};
  return loader;
}

// No support class comes near this; a larger size is a damaged directory,
// not a reason to have the runtime allocate it.
constexpr std::uint32_t kLargestClassFile = 1024 * 1024;

// The class file's bytes as the class loader would have read them.
bool ReadClassFile(const platform::RandomAccessFile& file, std::uint64_t archive_start,
                   const config::ArchiveEntry& entry, JavaInflater& inflater, std::string& bytes) {
  if (entry.size > kLargestClassFile || entry.compressed_size > kLargestClassFile) return false;
  std::string stored;
  if (!config::ReadArchiveEntryData(file, archive_start, config::RecordedArchiveLength(), entry,
                                    stored))
    return false;
  if (entry.method == 0 && stored.size() == entry.size) {
    bytes = std::move(stored);
    return true;
  }
  return entry.method == 8 && inflater.Inflate(stored, entry.size, bytes);
}

int DefineFromArchive(JNIEnv* env, const platform::RandomAccessFile& file,
                      std::uint64_t archive_start, std::string_view directory) {
  const jni::LocalRef<jobject> loader = SystemClassLoader(env);
  if (!loader) return 0;
  JavaInflater inflater(env);
  if (!inflater.Open()) return 0;
  int defined = 0;
  std::string name;
  std::string bytes;
  for (const char* class_name : kPredefinedClasses) {
    name.assign(class_name).append(".class");
    config::ArchiveEntry entry;
    if (!config::FindArchiveEntry(directory, name, entry) ||
        !ReadClassFile(file, archive_start, entry, inflater, bytes))
      break;
    const jni::LocalRef<jclass> type(
        env,
        env->DefineClass(class_name, loader.get(), reinterpret_cast<const jbyte*>(bytes.data()),
                         static_cast<jsize>(bytes.size())));
    if (!type) break;
    ++defined;
  }
  // Before the inflater ends: no call may run with an exception pending.
  jni::CheckException(env, false);
  return defined;
}

}  // namespace

int PredefineSupportClasses(JNIEnv* env, const config::LaunchConfig& config) {
  if (config.PayloadPosition() <= 0) return 0;
  platform::RandomAccessFile file;
  if (!file.Open(config.ExecutablePath())) return 0;
  const std::uint64_t archive_start =
      static_cast<std::uint64_t>(config.PayloadPosition()) + config::kDigestSize;
  std::string directory;
  if (!config::ReadArchiveDirectory(file, archive_start, config::RecordedArchiveLength(),
                                    kDirectoryBytesRead, directory))
    return 0;
  const int defined = DefineFromArchive(env, file, archive_start, directory);
  // A class this payload lacks, or one the runtime refused: the rest come
  // the usual way.
  jni::CheckException(env, false);
  if (defined > 0) jni::SetSystemProperty(env, kSupportPredefinedProperty, "true");
  NXO_TRAIL("jvm", "%d of %d support classes defined from the payload", defined,
            static_cast<int>(std::size(kPredefinedClasses)));
  return defined;
}

}  // namespace nxo::natives
