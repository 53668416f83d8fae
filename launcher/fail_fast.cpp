// The launcher executable's answers to the C++ runtime's failure paths.
//
// The launcher's code is built without exception handling: a failure it can
// meet is a result code. What remains are the standard library's own
// failures (memory exhausted, a length beyond max_size()), which nothing in
// the launcher could recover from. Left to the library, each would throw,
// and the first such throw site would pull the whole exception runtime into
// the executable (the unwinder, the typed exception classes and their
// strings, the demangler of the default terminate handler): most of what the
// executable would weigh. Here each ends the process at once instead, with
// one line on standard error, which is what an uncaught exception did.
//
// Only the shipped executable links this file; the tests keep the library's
// own behaviour (and the sanitizers' allocator).
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fputs("nxo: fatal: ", stderr);
  std::fputs(what != nullptr ? what : "internal error", stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

// malloc(0) may answer null; new never does.
void* AllocateOrNull(std::size_t size) { return std::malloc(size != 0 ? size : 1); }

void* Allocate(std::size_t size) {
  void* block = AllocateOrNull(size);
  if (block == nullptr) Fail("out of memory");
  return block;
}

}  // namespace

// The replaceable global allocation functions ([new.delete]): the library's
// versions throw std::bad_alloc.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// libstdc++ raises its exceptions through these functions (declared in
// <bits/functexcept.h>); the containers and strings the launcher uses call
// them from inline code and from the library's own instantiations. Defining
// them here keeps the library's throwing versions out of the link.
namespace std {
void __throw_bad_alloc() { Fail("out of memory"); }
void __throw_bad_array_new_length() { Fail("bad array new length"); }
void __throw_length_error(const char* what) { Fail(what); }
void __throw_logic_error(const char* what) { Fail(what); }
void __throw_out_of_range(const char* what) { Fail(what); }
void __throw_out_of_range_fmt(const char* format, ...) { Fail(format); }
void __throw_invalid_argument(const char* what) { Fail(what); }
void __throw_bad_function_call() { Fail("bad function call"); }
void __throw_system_error(int) { Fail("system error"); }
}  // namespace std
