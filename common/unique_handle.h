#pragma once

#include <windows.h>

#include <utility>

// One owner per Windows handle. Traits give the handle type, the value that
// means "nothing held" and how to release a held value:
//
//   struct Traits {
//     using Type = ...;
//     static Type empty() noexcept;
//     static bool isValid(Type) noexcept;  // false for every "nothing" value
//     static void close(Type) noexcept;
//   };
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept : value_(Traits::empty()) {}
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::isValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  Type release() noexcept { return std::exchange(value_, Traits::empty()); }
  void reset(Type value = Traits::empty()) noexcept {
    const Type old = std::exchange(value_, value);
    if (Traits::isValid(old)) {
      Traits::close(old);
    }
  }
  // For out-parameters: releases what is held and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

// Kernel handles. Some calls report failure with NULL, others with
// INVALID_HANDLE_VALUE; neither is ever closed.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept {
    return value != nullptr && value != INVALID_HANDLE_VALUE;
  }
  static void close(Type value) noexcept { CloseHandle(value); }
};
using UniqueHandleKernel = UniqueHandle<KernelHandleTraits>;

// Memory that the system hands out with LocalAlloc (SDDL conversions, SID
// strings, CommandLineToArgvW).
template <typename T>
struct LocalMemoryTraits {
  using Type = T;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { LocalFree(reinterpret_cast<HLOCAL>(value)); }
};
template <typename T>
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits<T>>;
