#pragma once

#include <exception>
#include <string>

namespace qor {

// Root of every error the system raises: a message text, the class name, and the code address of
// the raise (for the uncaught-error report).
class Exception : public std::exception {
 public:
  explicit Exception(std::string AMessage = {}) : FMessage(std::move(AMessage)) {}

  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }
  const char* what() const noexcept override { return FMessage.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

  const void* RaiseAddress() const noexcept { return FRaiseAddress; }
  void SetRaiseAddress(const void* AAddress) noexcept { FRaiseAddress = AAddress; }

 private:
  std::string FMessage;
  const void* FRaiseAddress = nullptr;
};

// Raises an error, recording the address of the code that raised it. Kept out of line so that the
// return address is the raise site.
template <class E>
[[noreturn]] __attribute__((noinline)) void Raise(E AError) {
  AError.SetRaiseAddress(__builtin_return_address(0));
  throw AError;
}

}  // namespace qor

// Declares an error kind that carries only a message, with its class name.
#define QOR_ERROR_KIND(Name, Parent)                                  \
  class Name : public Parent {                                        \
   public:                                                            \
    using Parent::Parent;                                             \
    const char* ClassName() const noexcept override { return #Name; } \
  }

namespace qor {

// An error kind as a value, for code that is told which kind to raise: ExceptClass::Of<EKind>().
class ExceptClass {
 public:
  template <class E>
  static constexpr ExceptClass Of() noexcept {
    return ExceptClass(&RaiseKind<E>);
  }
  // Raises a new error of this kind with AMessage.
  [[noreturn]] void Raise(std::string AMessage) const {
    FRaise(std::move(AMessage));
    __builtin_unreachable();  // every FRaise is a RaiseKind, which always raises
  }

 private:
  using TRaise = void (*)(std::string);
  constexpr explicit ExceptClass(TRaise ARaise) noexcept : FRaise(ARaise) {}
  template <class E>
  static void RaiseKind(std::string AMessage) {
    qor::Raise(E(std::move(AMessage)));
  }
  TRaise FRaise;
};

}  // namespace qor
