#include "trust/file_hash.h"

#include <vector>

#include "common/ensure.h"
#include "common/unique_handle.h"
#include "trust/trust_texts.h"

namespace {

constexpr DWORD chunkSize = 65536;
constexpr ULONG digestSize = 32;

bool succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

Sha256Hasher::Sha256Hasher() {
  ensure(
      succeeded(BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)),
      trustText::hashUnavailable);
  ensure(succeeded(BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0)),
         trustText::hashInitializationFailed);
}

Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::update(const void* data, unsigned long size) {
  // CNG takes a non-const pointer but does not write through it.
  ensure(
      succeeded(BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0)),
      trustText::hashFailed);
}

std::string Sha256Hasher::finishHex() {
  UCHAR digest[digestSize] = {};
  ensure(succeeded(BCryptFinishHash(hash_.get(), digest, digestSize, 0)), trustText::hashFailed);
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digestSize);
  for (const UCHAR byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

std::string sha256File(const std::filesystem::path& path) {
  // The hasher first: a CNG failure is reported even for a missing file.
  Sha256Hasher hasher;
  // Shared as a C runtime stream would share it: a pinned file stays readable.
  const UniqueHandleKernel file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ensure(file.valid(), trustText::fileNotHashable);
  std::vector<char> buffer(chunkSize);
  DWORD received = 0;
  do {
    const BOOL read = ReadFile(file.get(), buffer.data(), chunkSize, &received, nullptr);
    ensure(read, trustText::hashReadFailed);
    hasher.update(buffer.data(), received);
  } while (received > 0);
  return hasher.finishHex();
}
