// The natives of com.tarnwick.nxo.KestrelClassLoader. None of them looks into
// the payload: every lookup answers "no match", and the Java side falls back
// to the archive loader it extends. One more lists the runtime's module
// packages for that loader. The two that return the base class's
// answer call it non-virtually, because the Java method of the same name on
// the object may itself be this native and would call straight back here.
#include <string>
#include <vector>

#include "jni/jni_helpers.h"
#include "natives/natives.h"
#include "natives/remembered_keys.h"
#include "support/text.h"

namespace {

constexpr char kFindResourceDescriptor[] = "(Ljava/lang/String;)Ljava/net/URL;";
constexpr char kFindResourcesDescriptor[] = "(Ljava/lang/String;)Ljava/util/Enumeration;";

using nxo::jni::LocalRef;

// Calls the named method of the superclass of |self|'s class (found anew on
// each call) non-virtually with one argument. Null when the method cannot
// be found; the JVM's exception is then left pending for the caller.
jobject CallBaseMethod(JNIEnv* env, jobject self, const char* name, const char* descriptor,
                       jobject argument) {
  const LocalRef<jclass> own_class(env, env->GetObjectClass(self));
  const LocalRef<jclass> base_class(env, env->GetSuperclass(own_class.get()));
  if (!base_class) return nullptr;
  const jmethodID method = env->GetMethodID(base_class.get(), name, descriptor);
  if (method == nullptr) return nullptr;
  return env->CallNonvirtualObjectMethod(self, base_class.get(), method, argument);
}

jobject DescribeAndClear(JNIEnv* env) {
  nxo::jni::CheckException(env, true);
  return nullptr;
}

// Adds every element of |enumeration| to |vector| in order. False when a
// call threw; the exception stays pending.
bool CopyElements(JNIEnv* env, jobject enumeration, jobject vector, jmethodID add) {
  const LocalRef<jclass> enumeration_class(env, env->GetObjectClass(enumeration));
  const jmethodID has_more =
      env->GetMethodID(enumeration_class.get(), "hasMoreElements", "()Z");
  const jmethodID next =
      env->GetMethodID(enumeration_class.get(), "nextElement", "()Ljava/lang/Object;");
  if (has_more == nullptr || next == nullptr) return false;
  while (env->CallBooleanMethod(enumeration, has_more)) {
    const LocalRef<> element(env, env->CallObjectMethod(enumeration, next));
    if (env->ExceptionCheck()) return false;
    env->CallBooleanMethod(vector, add, element.get());
    if (env->ExceptionCheck()) return false;
  }
  return !env->ExceptionCheck();
}

// The payload's jars are reached on the Java side through its archive
// loader; the native list of them has no entries in this design.
std::vector<std::string> EmbeddedJarNames() { return {}; }

// The JDK's own map from package to module for every module its built-in
// loaders define (those of the boot layer): the application loader decides
// by it which classes are a module's, so asking it is asking exactly that,
// and costs no copy. Read through JNI, which module encapsulation does not
// restrict. Null, nothing pending, on a runtime that keeps no such map.
jobject BuiltinLoaderPackages(JNIEnv* env) {
  const LocalRef<jclass> builtin = nxo::jni::FindClass(env, "jdk/internal/loader/BuiltinClassLoader");
  const jfieldID field =
      builtin ? env->GetStaticFieldID(builtin.get(), "packageToModule", "Ljava/util/Map;") : nullptr;
  const LocalRef<jclass> map_class = nxo::jni::FindClass(env, "java/util/Map");
  const jmethodID key_set =
      map_class ? env->GetMethodID(map_class.get(), "keySet", "()Ljava/util/Set;") : nullptr;
  if (field == nullptr || key_set == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  const LocalRef<> map(env, env->GetStaticObjectField(builtin.get(), field));
  jobject keys = map ? env->CallObjectMethod(map.get(), key_set) : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return nullptr;
  }
  return keys;
}

// Else through the public module API, one array of names per module;
// through JNI rather than reflection on the Java side: there, a method
// called once per module (some seventy) has the JDK generate an accessor
// class, which costs milliseconds of the start.
jobject PackagesPerModule(JNIEnv* env) {
  const LocalRef<jclass> layer_class = nxo::jni::FindClass(env, "java/lang/ModuleLayer");
  if (!layer_class) {
    env->ExceptionClear();  // a runtime without modules
    return nullptr;
  }
  const LocalRef<jclass> module_class = nxo::jni::FindClass(env, "java/lang/Module");
  const LocalRef<jclass> set_class = nxo::jni::FindClass(env, "java/util/Set");
  const LocalRef<jclass> object_class = nxo::jni::FindClass(env, "java/lang/Object");
  if (!module_class || !set_class || !object_class) return DescribeAndClear(env);
  const jmethodID boot = env->GetStaticMethodID(layer_class.get(), "boot", "()Ljava/lang/ModuleLayer;");
  const jmethodID modules = env->GetMethodID(layer_class.get(), "modules", "()Ljava/util/Set;");
  const jmethodID packages = env->GetMethodID(module_class.get(), "getPackages", "()Ljava/util/Set;");
  const jmethodID to_array = env->GetMethodID(set_class.get(), "toArray", "()[Ljava/lang/Object;");
  if (!boot || !modules || !packages || !to_array) return DescribeAndClear(env);

  const LocalRef<> layer(env, env->CallStaticObjectMethod(layer_class.get(), boot));
  const LocalRef<> module_set(env, layer ? env->CallObjectMethod(layer.get(), modules) : nullptr);
  const LocalRef<jobjectArray> module_array(
      env, module_set ? static_cast<jobjectArray>(env->CallObjectMethod(module_set.get(), to_array)) : nullptr);
  if (!module_array) return DescribeAndClear(env);
  const jsize count = env->GetArrayLength(module_array.get());
  jobjectArray per_module = env->NewObjectArray(count, object_class.get(), nullptr);
  for (jsize i = 0; per_module != nullptr && i < count; ++i) {
    const LocalRef<> module(env, env->GetObjectArrayElement(module_array.get(), i));
    const LocalRef<> package_set(env, env->CallObjectMethod(module.get(), packages));
    const LocalRef<> names(env, package_set ? env->CallObjectMethod(package_set.get(), to_array) : nullptr);
    if (!names) {
      env->DeleteLocalRef(per_module);
      return DescribeAndClear(env);
    }
    env->SetObjectArrayElement(per_module, i, names.get());
  }
  return per_module;
}

}  // namespace

extern "C" {

jclass JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_findClass(JNIEnv*, jobject, jstring) {
  return nullptr;
}

jclass JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_defineClass(JNIEnv*, jobject, jstring,
                                                                    jobject) {
  return nullptr;
}

jobject JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_findResource0(JNIEnv*, jobject, jstring) {
  return nullptr;
}

jobject JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_findResource(JNIEnv* env, jobject self,
                                                                     jstring name) {
  Java_com_tarnwick_nxo_KestrelClassLoader_findResource0(env, self, name);
  return CallBaseMethod(env, self, "findResource", kFindResourceDescriptor, name);
}

jobject JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_findResources(JNIEnv* env, jobject self,
                                                                      jstring name) {
  // A copy into a Vector, so the caller gets an enumeration that no longer
  // depends on the base class's (possibly lazy) one.
  const LocalRef<jclass> vector_class = nxo::jni::FindClass(env, "java/util/Vector");
  if (!vector_class) return DescribeAndClear(env);
  const jmethodID init = env->GetMethodID(vector_class.get(), "<init>", "()V");
  const jmethodID add = init ? env->GetMethodID(vector_class.get(), "add", "(Ljava/lang/Object;)Z")
                             : nullptr;
  const jmethodID elements =
      add ? env->GetMethodID(vector_class.get(), "elements", "()Ljava/util/Enumeration;")
          : nullptr;
  if (elements == nullptr) return DescribeAndClear(env);
  const LocalRef<> vector(env, env->NewObject(vector_class.get(), init));
  if (!vector) return DescribeAndClear(env);

  const LocalRef<> found(env, CallBaseMethod(env, self, "findResources", kFindResourcesDescriptor, name));
  if (env->ExceptionCheck()) return nullptr;  // the base class's failure is the caller's
  if (found && !CopyElements(env, found.get(), vector.get(), add)) return nullptr;

  jobject result = env->CallObjectMethod(vector.get(), elements);
  if (result == nullptr) return DescribeAndClear(env);
  return result;
}

jobjectArray JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_getEmbeddedJars(JNIEnv* env, jobject) {
  const std::vector<std::string> jars =
      nxo::natives::UseJarProtocolOff() ? std::vector<std::string>() : EmbeddedJarNames();
  const LocalRef<jclass> string_class = nxo::jni::FindClass(env, "java/lang/String");
  if (!string_class) return nullptr;
  jobjectArray array =
      env->NewObjectArray(static_cast<jsize>(jars.size()), string_class.get(), nullptr);
  for (std::size_t i = 0; array != nullptr && i < jars.size(); ++i) {
    // Entry names are UTF-8; NewStringUTF takes the modified form.
    const LocalRef<jstring> jar(env, env->NewStringUTF(nxo::EncodeModifiedUtf8(nxo::DecodeUtf8(jars[i])).c_str()));
    env->SetObjectArrayElement(array, static_cast<jsize>(i), jar.get());
  }
  return array;
}

jobject JNICALL Java_com_tarnwick_nxo_KestrelClassLoader_modulePackages(JNIEnv* env, jclass) {
  jobject packages = BuiltinLoaderPackages(env);
  return packages != nullptr ? packages : PackagesPerModule(env);
}

}  // extern "C"
