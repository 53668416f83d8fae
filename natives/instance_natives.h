// Delivery of received messages to the Java receiver that the application
// set with Instances.setReceiver.
#pragma once

#include <jni.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "instances/instance_state.h"
#include "platform/platform.h"

namespace nxo::natives {

class JavaReceiver : public instances::MessageReceiver {
 public:
  // Stores |receiver| (null clears it), its onReceive and its class's loader.
  void Set(JNIEnv* env, jobject receiver);
  // Drops messages shorter than the 4-byte header or with a header other
  // than 0, and everything while no receiver is set; otherwise deserialises
  // with the receiver's loader and calls onReceive on a daemon-attached thread.
  void Deliver(std::int32_t sender, const std::string& bytes) override;

 private:
  platform::Mutex lock_;  // Set may run on a Java thread during a delivery
  JavaVM* vm_ = nullptr;
  jobject receiver_ = nullptr;      // global references
  jobject class_loader_ = nullptr;
  jclass input_stream_class_ = nullptr;
  jmethodID on_receive_ = nullptr;
};

JavaReceiver& TheJavaReceiver();

// The 4-byte header and the Java serialisation of |object|; empty when
// serialisation fails (the exception is described and cleared).
std::string SerializeJavaObject(JNIEnv* env, jobject object);

}  // namespace nxo::natives
