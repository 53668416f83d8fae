// Every native method that the executable provides to the Java support
// classes, one line each:
//
//   NXO_NATIVE(Class, method, "JNI descriptor", argument bytes, result type, (C parameters))
//
// Class is the simple name of a class in package com.tarnwick.nxo; the C
// function is Java_com_tarnwick_nxo_<Class>_<method>. The argument bytes are
// the 32-bit stdcall size of the C parameters (4 for JNIEnv*, 4 for the object
// or class, 4 for each int or reference, 8 for a long or double); Windows
// exports the function as "_Java_com_tarnwick_nxo_<Class>_<method>@<bytes>".
//
// Adding a native is adding its line here and defining the function (the
// declaration comes from natives/natives.h). From this list come the
// declarations, the compile-time check of the byte counts against the
// descriptors, the Linux RegisterNatives table and the Windows .def file,
// which a CMake script reads line by line: keep one entry per line, in
// exactly this form, and names free of "_".
//
// The KestrelClassLoader lookups answer "no match" by contract: the payload's
// classes and resources are found by the archive loader it extends. Its
// modulePackages gives the packages of the runtime's modules (the JDK's own
// live set where it keeps one), which tell the loader which classes only its
// parent may define.
//
// No include guard: included several times with different NXO_NATIVE macros.

NXO_NATIVE(Handler, bindNatives, "(Ljava/lang/Class;)V", 12, void, (JNIEnv*, jclass, jclass))
NXO_NATIVE(Handler, loadResourceData, "(Ljava/lang/String;)[B", 12, jbyteArray, (JNIEnv*, jobject, jstring))
NXO_NATIVE(Instances, flush, "()V", 8, void, (JNIEnv*, jclass))
NXO_NATIVE(Instances, getCurrentInstance, "()I", 8, jint, (JNIEnv*, jclass))
NXO_NATIVE(Instances, getFirstInstance, "()I", 8, jint, (JNIEnv*, jclass))
NXO_NATIVE(Instances, getInstances, "()[I", 8, jintArray, (JNIEnv*, jclass))
NXO_NATIVE(Instances, sendObject, "(ILjava/io/Serializable;)V", 16, void, (JNIEnv*, jclass, jint, jobject))
NXO_NATIVE(Instances, setReceiver, "(Lcom/tarnwick/nxo/Instances$ReceiverInterface;)V", 12, void, (JNIEnv*, jclass, jobject))
NXO_NATIVE(KestrelClassLoader, defineClass, "(Ljava/lang/String;Ljava/security/CodeSource;)Ljava/lang/Class;", 16, jclass, (JNIEnv*, jobject, jstring, jobject))
NXO_NATIVE(KestrelClassLoader, findClass, "(Ljava/lang/String;)Ljava/lang/Class;", 12, jclass, (JNIEnv*, jobject, jstring))
NXO_NATIVE(KestrelClassLoader, findResource, "(Ljava/lang/String;)Ljava/net/URL;", 12, jobject, (JNIEnv*, jobject, jstring))
NXO_NATIVE(KestrelClassLoader, findResource0, "(Ljava/lang/String;)Ljava/net/URL;", 12, jobject, (JNIEnv*, jobject, jstring))
NXO_NATIVE(KestrelClassLoader, findResources, "(Ljava/lang/String;)Ljava/util/Enumeration;", 12, jobject, (JNIEnv*, jobject, jstring))
NXO_NATIVE(KestrelClassLoader, getEmbeddedJars, "()[Ljava/lang/String;", 8, jobjectArray, (JNIEnv*, jobject))
NXO_NATIVE(KestrelClassLoader, modulePackages, "()Ljava/lang/Object;", 8, jobject, (JNIEnv*, jclass))
NXO_NATIVE(RedirOutputStream, write, "(I)V", 12, void, (JNIEnv*, jobject, jint))
NXO_NATIVE(SplashScreen, nativeAutoClose, "(I)V", 12, void, (JNIEnv*, jobject, jint))
NXO_NATIVE(SplashScreen, nativeClose, "()V", 8, void, (JNIEnv*, jobject))
NXO_NATIVE(SplashScreen, nativeGetSplashScreen, "()Lcom/tarnwick/nxo/SplashScreen;", 8, jobject, (JNIEnv*, jclass))
