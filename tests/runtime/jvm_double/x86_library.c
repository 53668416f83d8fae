/* A runtime library built for 32-bit x86: what a 32-bit Java installs. A
   64-bit launcher can never load it, and must not choose it. */
__declspec(dllexport) int JNI_CreateJavaVM(void** vm, void** env, void* args) {
  (void)vm;
  (void)env;
  (void)args;
  return -1;
}
