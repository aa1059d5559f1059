// Private to the SQL driver: owners of the interfaces that the object-oriented
// API of the Firebird client library hands out.
//
// Every such interface holds a reference that must be given back: most by
// release(), a status and a parameter-block builder by dispose(). An
// attachment, a transaction, a statement, a result set and a blob also have
// an ending call of their own (detach, commit or rollback, free, close) that
// gives the reference back itself when it succeeds: the owner then forgets
// the interface (ended()) and must not release it again. After a failed
// ending call the reference is still held and the owner releases it.
//
// The interfaces may be incomplete types where an owner is only declared;
// the owner's code is compiled where the client library's header is.
#pragma once

#include <utility>

namespace cg {

// How an owner gives its reference back.
struct FbRelease {
  template <class T>
  static void drop(T* p) noexcept {
    p->release();
  }
};
struct FbDispose {
  template <class T>
  static void drop(T* p) noexcept {
    p->dispose();
  }
};

template <class T, class Drop = FbRelease>
class FbRef {
 public:
  FbRef() noexcept = default;
  explicit FbRef(T* p) noexcept : p_(p) {}
  ~FbRef() { reset(); }
  FbRef(FbRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  FbRef& operator=(FbRef&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  FbRef(const FbRef&) = delete;
  FbRef& operator=(const FbRef&) = delete;

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Gives the reference back now (and takes `p`, if any).
  void reset(T* p = nullptr) noexcept {
    if (p_) Drop::drop(p_);
    p_ = p;
  }
  // Forgets the interface whose ending call has succeeded and so has given
  // the reference back itself.
  void ended() noexcept { p_ = nullptr; }

 private:
  T* p_ = nullptr;
};

template <class T>
using FbDisposable = FbRef<T, FbDispose>;

}  // namespace cg
