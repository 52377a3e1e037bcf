// Work that must happen when a scope ends, however it ends: on a return, and while an
// exception passes. A failure of that work is swallowed (a destructor must not throw).
#pragma once

#include <utility>

namespace zq::fw {

template <class F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    try {
      f_();
    } catch (...) {
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

template <class F>
ScopeExit<F> Finally(F f) {
  return ScopeExit<F>(std::move(f));
}

}  // namespace zq::fw
