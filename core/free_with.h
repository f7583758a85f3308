// Owners for objects of C libraries and system APIs: a std::unique_ptr whose deleter
// hands the pointer to the library's own release function, so that an owner is one
// line naming the type and how it goes away.
#pragma once

#include <memory>

namespace brisal {

// Calls Free(p). unique_ptr never calls its deleter with a null pointer, so Free need
// not accept one. A release that takes more than the pointer (a flags argument) is
// given a function of one parameter to call here; one that must do more than one call
// keeps a deleter of its own.
template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};

template <typename T, auto Free>
using OwningPtr = std::unique_ptr<T, FreeWith<Free>>;

}  // namespace brisal
