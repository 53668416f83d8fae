#include "natives/instance_natives.h"

#include "instances/instances.h"
#include "natives/natives.h"

namespace nxo::natives {

namespace {

constexpr std::size_t kHeaderSize = 4;

// True when an exception was pending; it is described, then cleared.
bool DescribeAndClear(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionDescribe();
  env->ExceptionClear();
  return true;
}

void DeleteLocal(JNIEnv* env, jobject object) {
  if (object != nullptr) env->DeleteLocalRef(object);
}

void SetContextLoader(JNIEnv* env, jobject loader) {
  jclass thread_class = env->FindClass("java/lang/Thread");
  if (thread_class == nullptr) {
    env->ExceptionClear();
    return;
  }
  jmethodID current = env->GetStaticMethodID(thread_class, "currentThread", "()Ljava/lang/Thread;");
  jmethodID set = env->GetMethodID(thread_class, "setContextClassLoader",
                                   "(Ljava/lang/ClassLoader;)V");
  if (current != nullptr && set != nullptr) {
    jobject thread = env->CallStaticObjectMethod(thread_class, current);
    if (!env->ExceptionCheck() && thread != nullptr) env->CallVoidMethod(thread, set, loader);
    DeleteLocal(env, thread);
  }
  env->ExceptionClear();
  env->DeleteLocalRef(thread_class);
}

// new |class_name|(argument) through the constructor with |signature|.
jobject Construct(JNIEnv* env, const char* class_name, const char* signature, jobject a,
                  jobject b = nullptr) {
  jclass type = env->FindClass(class_name);
  if (type == nullptr) return nullptr;
  jobject made = nullptr;
  jmethodID constructor = env->GetMethodID(type, "<init>", signature);
  if (constructor != nullptr) made = env->NewObject(type, constructor, a, b);
  env->DeleteLocalRef(type);
  return made;
}

// Calls a method without arguments; true when it raised nothing.
bool CallVoid(JNIEnv* env, jobject target, const char* name) {
  jclass type = env->GetObjectClass(target);
  jmethodID method = env->GetMethodID(type, name, "()V");
  env->DeleteLocalRef(type);
  if (method != nullptr) env->CallVoidMethod(target, method);
  return !DescribeAndClear(env) && method != nullptr;
}

jobject Deserialize(JNIEnv* env, jclass stream_class, jobject loader, const std::string& bytes) {
  const auto length = static_cast<jsize>(bytes.size() - kHeaderSize);
  jbyteArray array = env->NewByteArray(length);
  if (array == nullptr) {
    DescribeAndClear(env);
    return nullptr;
  }
  env->SetByteArrayRegion(array, 0, length,
                          reinterpret_cast<const jbyte*>(bytes.data() + kHeaderSize));
  jobject object = nullptr;
  jobject source = Construct(env, "java/io/ByteArrayInputStream", "([B)V", array);
  jobject stream = nullptr;
  if (source != nullptr) {
    jmethodID constructor =
        env->GetMethodID(stream_class, "<init>", "(Ljava/io/InputStream;Ljava/lang/ClassLoader;)V");
    if (constructor != nullptr) stream = env->NewObject(stream_class, constructor, source, loader);
  }
  if (stream != nullptr) {
    jmethodID read = env->GetMethodID(stream_class, "readObject", "()Ljava/lang/Object;");
    if (read != nullptr) object = env->CallObjectMethod(stream, read);
    if (DescribeAndClear(env)) object = nullptr;
    CallVoid(env, stream, "close");
  }
  DescribeAndClear(env);
  DeleteLocal(env, stream);
  DeleteLocal(env, source);
  env->DeleteLocalRef(array);
  return object;
}

}  // namespace

void JavaReceiver::Set(JNIEnv* env, jobject receiver) {
  jobject new_receiver = nullptr;
  jobject new_loader = nullptr;
  jclass new_stream_class = nullptr;
  jmethodID new_method = nullptr;
  if (receiver != nullptr) {
    jclass type = env->GetObjectClass(receiver);
    new_method = env->GetMethodID(type, "onReceive", "(ILjava/io/Serializable;)V");
    if (new_method == nullptr) env->ExceptionClear();
    jclass class_class = env->FindClass("java/lang/Class");
    jmethodID get_loader = env->GetMethodID(class_class, "getClassLoader", "()Ljava/lang/ClassLoader;");
    jobject loader = env->CallObjectMethod(type, get_loader);
    if (DescribeAndClear(env)) loader = nullptr;
    // Found from this native's own class, so by the loader of the support classes.
    jclass stream_class = env->FindClass("com/tarnwick/nxo/ClassLoaderObjectInputStream");
    if (stream_class == nullptr) env->ExceptionClear();
    new_receiver = env->NewGlobalRef(receiver);
    if (loader != nullptr) new_loader = env->NewGlobalRef(loader);
    if (stream_class != nullptr)
      new_stream_class = static_cast<jclass>(env->NewGlobalRef(stream_class));
    DeleteLocal(env, stream_class);
    DeleteLocal(env, loader);
    DeleteLocal(env, class_class);
    DeleteLocal(env, type);
  }
  std::lock_guard<std::mutex> hold(lock_);
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
    std::lock_guard<std::mutex> hold(lock_);
    if (receiver_ == nullptr || on_receive_ == nullptr || input_stream_class_ == nullptr) return;
    vm = vm_;
  }
  JNIEnv* env = nullptr;
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return;
  jobject receiver;
  jobject loader;
  jclass stream_class;
  jmethodID on_receive;
  {
    // Local references keep the objects alive should Set replace them now.
    std::lock_guard<std::mutex> hold(lock_);
    receiver = receiver_ != nullptr ? env->NewLocalRef(receiver_) : nullptr;
    loader = class_loader_ != nullptr ? env->NewLocalRef(class_loader_) : nullptr;
    stream_class = input_stream_class_ != nullptr
                       ? static_cast<jclass>(env->NewLocalRef(input_stream_class_))
                       : nullptr;
    on_receive = on_receive_;
  }
  if (receiver != nullptr && stream_class != nullptr && on_receive != nullptr) {
    SetContextLoader(env, loader);
    jobject object = Deserialize(env, stream_class, loader, bytes);
    if (object != nullptr) {
      env->CallVoidMethod(receiver, on_receive, static_cast<jint>(sender), object);
      env->ExceptionClear();  // what onReceive throws is its own affair
      env->DeleteLocalRef(object);
    }
  }
  DeleteLocal(env, stream_class);
  DeleteLocal(env, loader);
  DeleteLocal(env, receiver);
  vm->DetachCurrentThread();
}

JavaReceiver& TheJavaReceiver() {
  // Never destroyed: the messaging thread may deliver while the process exits.
  static JavaReceiver* receiver = new JavaReceiver;
  return *receiver;
}

std::string SerializeJavaObject(JNIEnv* env, jobject object) {
  std::string message;
  jobject buffer = Construct(env, "java/io/ByteArrayOutputStream", "()V", nullptr);
  if (DescribeAndClear(env) || buffer == nullptr) return message;
  jobject stream = Construct(env, "java/io/ObjectOutputStream", "(Ljava/io/OutputStream;)V", buffer);
  bool failed = DescribeAndClear(env) || stream == nullptr;
  if (!failed) {
    jclass stream_class = env->GetObjectClass(stream);
    jmethodID write = env->GetMethodID(stream_class, "writeObject", "(Ljava/lang/Object;)V");
    env->DeleteLocalRef(stream_class);
    if (write != nullptr) env->CallVoidMethod(stream, write, object);
    failed = DescribeAndClear(env) || write == nullptr;
    failed = !CallVoid(env, stream, "close") || failed;
  }
  if (!failed) {
    jclass buffer_class = env->GetObjectClass(buffer);
    jmethodID to_array = env->GetMethodID(buffer_class, "toByteArray", "()[B");
    env->DeleteLocalRef(buffer_class);
    auto array = static_cast<jbyteArray>(
        to_array != nullptr ? env->CallObjectMethod(buffer, to_array) : nullptr);
    if (!DescribeAndClear(env) && array != nullptr) {
      const jsize length = env->GetArrayLength(array);
      message.assign(kHeaderSize + static_cast<std::size_t>(length), '\0');
      env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(message.data() + kHeaderSize));
    }
    DeleteLocal(env, array);
  }
  DeleteLocal(env, stream);
  env->DeleteLocalRef(buffer);
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
