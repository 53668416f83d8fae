#include "natives/instance_natives.h"

#include "instances/instances.h"
#include "jni/jni_helpers.h"
#include "natives/natives.h"
#include "support/never_destroyed.h"

namespace nxo::natives {

namespace {

constexpr std::size_t kHeaderSize = 4;

using jni::CheckException;
using jni::LocalRef;

// Messages arrive on the messaging thread: the receiver's classes are found
// through the thread's context loader, as on the thread that set it.
void SetContextLoader(JNIEnv* env, jobject loader) {
  LocalRef<jclass> thread_class = jni::FindClass(env, "java/lang/Thread");
  if (!thread_class) {
    CheckException(env, false);
    return;
  }
  jmethodID current =
      env->GetStaticMethodID(thread_class.get(), "currentThread", "()Ljava/lang/Thread;");
  jmethodID set = env->GetMethodID(thread_class.get(), "setContextClassLoader",
                                   "(Ljava/lang/ClassLoader;)V");
  if (current != nullptr && set != nullptr) {
    LocalRef<> thread(env, env->CallStaticObjectMethod(thread_class.get(), current));
    if (!env->ExceptionCheck() && thread) env->CallVoidMethod(thread.get(), set, loader);
  }
  CheckException(env, false);
}

// new |class_name|(a[, b]) through the constructor with |signature|; null
// with the exception left pending when that fails.
LocalRef<> Construct(JNIEnv* env, const char* class_name, const char* signature, jobject a,
                     jobject b = nullptr) {
  LocalRef<jclass> type = jni::FindClass(env, class_name);
  if (!type) return LocalRef<>();
  jmethodID constructor = env->GetMethodID(type.get(), "<init>", signature);
  if (constructor == nullptr) return LocalRef<>();
  return LocalRef<>(env, env->NewObject(type.get(), constructor, a, b));
}

// Calls a method without arguments; true when it raised nothing.
bool CallVoid(JNIEnv* env, jobject target, const char* name) {
  jmethodID method;
  {
    LocalRef<jclass> type(env, env->GetObjectClass(target));
    method = env->GetMethodID(type.get(), name, "()V");
  }
  if (method != nullptr) env->CallVoidMethod(target, method);
  return !CheckException(env, true) && method != nullptr;
}

LocalRef<> Deserialize(JNIEnv* env, jclass stream_class, jobject loader, const std::string& bytes) {
  const auto length = static_cast<jsize>(bytes.size() - kHeaderSize);
  LocalRef<jbyteArray> array(env, env->NewByteArray(length));
  if (!array) {
    CheckException(env, true);
    return LocalRef<>();
  }
  env->SetByteArrayRegion(array.get(), 0, length,
                          reinterpret_cast<const jbyte*>(bytes.data() + kHeaderSize));
  LocalRef<> object;
  LocalRef<> source = Construct(env, "java/io/ByteArrayInputStream", "([B)V", array.get());
  LocalRef<> stream;
  if (source) {
    jmethodID constructor =
        env->GetMethodID(stream_class, "<init>", "(Ljava/io/InputStream;Ljava/lang/ClassLoader;)V");
    if (constructor != nullptr)
      stream = LocalRef<>(env, env->NewObject(stream_class, constructor, source.get(), loader));
  }
  if (stream) {
    jmethodID read = env->GetMethodID(stream_class, "readObject", "()Ljava/lang/Object;");
    if (read != nullptr) object = LocalRef<>(env, env->CallObjectMethod(stream.get(), read));
    if (CheckException(env, true)) object = LocalRef<>();
    CallVoid(env, stream.get(), "close");
  }
  CheckException(env, true);
  return object;
}

// The class loader of |type|'s class; null, with nothing pending, when it
// cannot be had.
LocalRef<> LoaderOf(JNIEnv* env, jclass type) {
  LocalRef<jclass> class_class = jni::FindClass(env, "java/lang/Class");
  jmethodID get_loader =
      class_class ? env->GetMethodID(class_class.get(), "getClassLoader", "()Ljava/lang/ClassLoader;")
                  : nullptr;
  LocalRef<> loader;
  if (get_loader != nullptr) loader = LocalRef<>(env, env->CallObjectMethod(type, get_loader));
  if (CheckException(env, true)) loader = LocalRef<>();
  return loader;
}

}  // namespace

void JavaReceiver::Set(JNIEnv* env, jobject receiver) {
  jobject new_receiver = nullptr;
  jobject new_loader = nullptr;
  jclass new_stream_class = nullptr;
  jmethodID new_method = nullptr;
  if (receiver != nullptr) {
    LocalRef<jclass> type(env, env->GetObjectClass(receiver));
    new_method = env->GetMethodID(type.get(), "onReceive", "(ILjava/io/Serializable;)V");
    if (new_method == nullptr) CheckException(env, false);
    LocalRef<> loader = LoaderOf(env, type.get());
    // Found from this native's own class, so by the loader of the support classes.
    LocalRef<jclass> stream_class = jni::FindClass(env, "com/tarnwick/nxo/ClassLoaderObjectInputStream");
    if (!stream_class) CheckException(env, false);
    new_receiver = env->NewGlobalRef(receiver);
    if (loader) new_loader = env->NewGlobalRef(loader.get());
    if (stream_class) new_stream_class = static_cast<jclass>(env->NewGlobalRef(stream_class.get()));
  }
  std::lock_guard<platform::Mutex> hold(lock_);
  env->GetJavaVM(&vm_);
  if (receiver_ != nullptr) env->DeleteGlobalRef(receiver_);
  if (class_loader_ != nullptr) env->DeleteGlobalRef(class_loader_);
  if (input_stream_class_ != nullptr) env->DeleteGlobalRef(input_stream_class_);
  receiver_ = new_receiver;
  class_loader_ = new_loader;
  input_stream_class_ = new_stream_class;
  on_receive_ = new_method;
}

void JavaReceiver::Deliver(std::int32_t sender, const std::string& bytes) {
  if (bytes.size() < kHeaderSize || bytes.compare(0, kHeaderSize, std::string(kHeaderSize, '\0')) != 0)
    return;
  JavaVM* vm;
  {
    std::lock_guard<platform::Mutex> hold(lock_);
    if (receiver_ == nullptr || on_receive_ == nullptr || input_stream_class_ == nullptr) return;
    vm = vm_;
  }
  JNIEnv* env = nullptr;
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return;
  {
    LocalRef<> receiver;
    LocalRef<> loader;
    LocalRef<jclass> stream_class;
    jmethodID on_receive;
    {
      // Local references keep the objects alive should Set replace them now.
      std::lock_guard<platform::Mutex> hold(lock_);
      if (receiver_ != nullptr) receiver = LocalRef<>(env, env->NewLocalRef(receiver_));
      if (class_loader_ != nullptr) loader = LocalRef<>(env, env->NewLocalRef(class_loader_));
      if (input_stream_class_ != nullptr)
        stream_class = LocalRef<jclass>(env, static_cast<jclass>(env->NewLocalRef(input_stream_class_)));
      on_receive = on_receive_;
    }
    if (receiver && stream_class && on_receive != nullptr) {
      SetContextLoader(env, loader.get());
      LocalRef<> object = Deserialize(env, stream_class.get(), loader.get(), bytes);
      if (object) {
        env->CallVoidMethod(receiver.get(), on_receive, static_cast<jint>(sender), object.get());
        CheckException(env, false);  // what onReceive throws is its own affair
      }
    }
  }
  vm->DetachCurrentThread();
}

namespace {
// Never destroyed: the messaging thread may deliver while the process exits.
NeverDestroyed<JavaReceiver> java_receiver;
}  // namespace

JavaReceiver& TheJavaReceiver() { return java_receiver.get(); }

std::string SerializeJavaObject(JNIEnv* env, jobject object) {
  std::string message;
  LocalRef<> buffer = Construct(env, "java/io/ByteArrayOutputStream", "()V", nullptr);
  if (CheckException(env, true) || !buffer) return message;
  LocalRef<> stream =
      Construct(env, "java/io/ObjectOutputStream", "(Ljava/io/OutputStream;)V", buffer.get());
  bool failed = CheckException(env, true) || !stream;
  if (!failed) {
    jmethodID write;
    {
      LocalRef<jclass> stream_class(env, env->GetObjectClass(stream.get()));
      write = env->GetMethodID(stream_class.get(), "writeObject", "(Ljava/lang/Object;)V");
    }
    if (write != nullptr) env->CallVoidMethod(stream.get(), write, object);
    failed = CheckException(env, true) || write == nullptr;
    failed = !CallVoid(env, stream.get(), "close") || failed;
  }
  if (!failed) {
    jmethodID to_array;
    {
      LocalRef<jclass> buffer_class(env, env->GetObjectClass(buffer.get()));
      to_array = env->GetMethodID(buffer_class.get(), "toByteArray", "()[B");
    }
    LocalRef<jbyteArray> array;
    if (to_array != nullptr)
      array = LocalRef<jbyteArray>(
          env, static_cast<jbyteArray>(env->CallObjectMethod(buffer.get(), to_array)));
    if (!CheckException(env, true) && array) {
      const jsize length = env->GetArrayLength(array.get());
      message.assign(kHeaderSize + static_cast<std::size_t>(length), '\0');
      env->GetByteArrayRegion(array.get(), 0, length,
                              reinterpret_cast<jbyte*>(message.data() + kHeaderSize));
    }
  }
  return message;
}

}  // namespace nxo::natives

// ---- Natives of com.tarnwick.nxo.Instances -------------------------------------

using nxo::instances::CurrentInstanceState;
using nxo::instances::InstanceState;

jint JNICALL Java_com_tarnwick_nxo_Instances_getFirstInstance(JNIEnv*, jclass) {
  InstanceState* state = CurrentInstanceState();
  return state != nullptr && state->MessagingStarted() ? state->OwnerId() : -1;
}

jint JNICALL Java_com_tarnwick_nxo_Instances_getCurrentInstance(JNIEnv*, jclass) {
  InstanceState* state = CurrentInstanceState();
  return state != nullptr && state->MessagingStarted() ? state->OwnId() : -1;
}

jintArray JNICALL Java_com_tarnwick_nxo_Instances_getInstances(JNIEnv* env, jclass) {
  InstanceState* state = CurrentInstanceState();
  std::vector<std::int32_t> ids;
  if (state != nullptr) ids = state->Instances();
  jintArray array = env->NewIntArray(static_cast<jsize>(ids.size()));
  if (array != nullptr && !ids.empty())
    env->SetIntArrayRegion(array, 0, static_cast<jsize>(ids.size()),
                           reinterpret_cast<const jint*>(ids.data()));
  return array;
}

void JNICALL Java_com_tarnwick_nxo_Instances_sendObject(JNIEnv* env, jclass, jint recipient,
                                                        jobject object) {
  InstanceState* state = CurrentInstanceState();
  if (state == nullptr || !state->MessagingStarted()) return;
  if (recipient == 0) recipient = state->OwnerId();
  // A failed serialisation sends nothing.
  std::string message = nxo::natives::SerializeJavaObject(env, object);
  if (!message.empty()) state->Send(recipient, std::move(message));
}

void JNICALL Java_com_tarnwick_nxo_Instances_flush(JNIEnv*, jclass) {
  InstanceState* state = CurrentInstanceState();
  if (state != nullptr) state->Flush();
}

void JNICALL Java_com_tarnwick_nxo_Instances_setReceiver(JNIEnv* env, jclass, jobject receiver) {
  nxo::natives::TheJavaReceiver().Set(env, receiver);
}
