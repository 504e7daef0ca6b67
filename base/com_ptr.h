#pragma once
// ComPtr owns one COM reference. Raw AddRef/Release appear only where the object base,
// the enumerators and the class factory do the counting themselves.

#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference on p.
  explicit ComPtr(T* p) noexcept : ptr_(p) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  // Adopts a reference the caller already owns.
  void attach(T* p) noexcept {
    reset();
    ptr_ = p;
  }
  // Hands the reference to the caller.
  [[nodiscard]] T* detach() noexcept { return std::exchange(ptr_, nullptr); }
  // For out-parameters: releases the current reference first.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  void swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

  template <typename U>
  HRESULT query(ComPtr<U>* out) const noexcept {
    return ptr_ ? ptr_->QueryInterface(__uuidof(U), out->put_void()) : E_POINTER;
  }

 private:
  T* ptr_ = nullptr;
};
