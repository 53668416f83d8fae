/* Machine-dependent JNI types for Windows, as the Java runtimes for that
 * platform define them: stdcall natives on 32-bit x86 (the convention is
 * implied on x64), a 32-bit jint, a 64-bit jlong. The JDK on the build
 * machine ships only its own platform's header. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#if defined(_WIN64)
#define JNICALL
#else
#define JNICALL __stdcall
#endif

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
