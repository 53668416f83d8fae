/* Machine-dependent JNI types for 32-bit Windows, as the Java runtimes for
 * that platform define them: stdcall natives, a 32-bit jint, a 64-bit jlong.
 * The JDK on the build machine ships only its own platform's header. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
