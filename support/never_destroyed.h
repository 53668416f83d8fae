// Process-wide state that is built before main and never torn down.
//
// Threads the launcher does not own (the JVM's, a splash thread that is
// still ending) may use such state while the process exits, so its
// destructor must never run. A namespace-scope NeverDestroyed is
// constant-initialised where T allows it, otherwise built during static
// initialisation on the one thread that exists then; either way no first use
// has to be made thread-safe at run time.
#pragma once

#include <new>
#include <utility>

namespace nxo {

template <typename T>
class NeverDestroyed {
 public:
  template <typename... Arguments>
  constexpr explicit NeverDestroyed(Arguments&&... arguments)
      : value_(std::forward<Arguments>(arguments)...) {}
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;
  // Deliberately leaves value_ alone.
  ~NeverDestroyed() {}

  T& get() { return value_; }
  T* operator->() { return &value_; }
  T& operator*() { return value_; }

 private:
  union {
    T value_;
  };
};

}  // namespace nxo
