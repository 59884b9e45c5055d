#pragma once
// An interface pointer that owns one reference and releases it when it goes.
#include <utility>

namespace movra::com {

template <class I>
class ComPtr {
  public:
    ComPtr() = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(I* p) : p_(p) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }

    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    // Hands the reference to the caller.
    I* release() { return std::exchange(p_, nullptr); }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    I* p_ = nullptr;
};

}  // namespace movra::com
