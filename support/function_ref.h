// A callable passed down for the length of one call, such as a visitor.
// std::function owns a copy of its callable and brings a type-erased manager
// into the executable for every lambda it is made from; a visitor needs
// neither, only the callable's address and one function that calls it.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace nxo {

template <typename Signature>
class FunctionRef;

template <typename Result, typename... Args>
class FunctionRef<Result(Args...)> {
 public:
  // Implicit, so that a lambda is passed as it is. The callable must outlive
  // every call through this reference: a temporary lives to the end of the
  // call it is an argument of.
  template <typename Callable,
            typename = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<Callable>, FunctionRef> &&
                                        std::is_invocable_r_v<Result, Callable&, Args...>>>
  FunctionRef(Callable&& callable)  // NOLINT(google-explicit-constructor)
      : callable_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
        call_(&Call<std::remove_reference_t<Callable>>) {}

  Result operator()(Args... args) const { return call_(callable_, std::forward<Args>(args)...); }

 private:
  template <typename Callable>
  static Result Call(void* callable, Args... args) {
    return (*static_cast<Callable*>(callable))(std::forward<Args>(args)...);
  }

  void* callable_;
  Result (*call_)(void*, Args...);
};

}  // namespace nxo
