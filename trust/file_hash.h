#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <filesystem>
#include <string>

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
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// SHA-256 of the file's whole content as 64 lowercase hexadecimal digits,
// read in 64 KiB chunks without denying other readers or writers.
std::string sha256File(const std::filesystem::path& path);
