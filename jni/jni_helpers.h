// The small JNI layer under the launcher, the natives and the splash: local
// references that delete themselves, Java strings, system properties, class
// lookup and the exception check. Each routine works with the JNI
// environment of the calling thread and leaves no local reference behind
// except the one it returns.
#pragma once

#include <jni.h>

#include <optional>
#include <string>
#include <string_view>

namespace nxo::jni {

// Owns one local reference and deletes it when it goes out of scope; the
// launch and the natives may run in long loops of the JVM, so none is left
// for the frame to collect.
template <typename T = jobject>
class LocalRef {
 public:
  LocalRef() = default;
  LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
  ~LocalRef() { Reset(); }
  LocalRef(LocalRef&& other) noexcept : env_(other.env_), ref_(other.Release()) {}
  LocalRef& operator=(LocalRef&& other) noexcept {
    if (this != &other) {
      Reset();
      env_ = other.env_;
      ref_ = other.Release();
    }
    return *this;
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Hands the reference to the caller, who then deletes it (or returns it
  // to Java).
  T Release() {
    T ref = ref_;
    ref_ = nullptr;
    return ref;
  }

 private:
  void Reset() {
    if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    ref_ = nullptr;
  }

  JNIEnv* env_ = nullptr;
  T ref_ = nullptr;
};

// True when an exception was pending. It is described first when |describe|
// is set (the runtime prints the stack trace), and always cleared.
bool CheckException(JNIEnv* env, bool describe);

// FindClass with a dotted or slashed name. Null when there is no such class;
// the exception is then left pending for the caller's CheckException.
LocalRef<jclass> FindClass(JNIEnv* env, std::string_view name);

// Every UTF-16 unit of |text|, zero units included; a null string reads as
// empty.
std::u16string StringUnits(JNIEnv* env, jstring text);

// A Java string of exactly these units; null when the JVM cannot make one.
LocalRef<jstring> NewString(JNIEnv* env, std::u16string_view units);

// System.getProperty(name); nothing when the property is unset or the
// runtime could not be asked. Nothing is left pending.
std::optional<std::u16string> GetSystemProperty(JNIEnv* env, const char* name);

// System.setProperty(name, value), with both texts in UTF-8 (malformed bytes
// become U+FFFD). False
// when the property could not be set; nothing is left pending.
bool SetSystemProperty(JNIEnv* env, const char* name, const char* value);
bool SetSystemProperty(JNIEnv* env, const char* name, std::u16string_view value);

}  // namespace nxo::jni
