#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <filesystem>
#include <string>

#include "common/unique_handle.h"

// CNG provider and hash-object handles.
struct BCryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { BCryptCloseAlgorithmProvider(value, 0); }
};
struct BCryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { BCryptDestroyHash(value); }
};

// A running SHA-256 over CNG. Not copyable.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  void update(const void* data, unsigned long size);
  // 64 lowercase hexadecimal digits; call once.
  std::string finishHex();

 private:
  // Declared in this order so that the hash object goes before its provider.
  UniqueHandle<BCryptAlgorithmTraits> algorithm_;
  UniqueHandle<BCryptHashTraits> hash_;
};

// SHA-256 of the file's whole content as 64 lowercase hexadecimal digits,
// read in 64 KiB chunks without denying other readers or writers.
std::string sha256File(const std::filesystem::path& path);
