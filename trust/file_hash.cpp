#include "trust/file_hash.h"

#include <fstream>
#include <vector>

#include "common/ensure.h"
#include "trust/trust_texts.h"

namespace {

constexpr size_t chunkSize = 65536;
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
  std::ifstream in(path, std::ios::binary);
  ensure(in.good(), trustText::fileNotHashable);
  std::vector<char> buffer(chunkSize);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    hasher.update(buffer.data(), static_cast<unsigned long>(in.gcount()));
  }
  ensure(in.eof(), trustText::hashReadFailed);
  return hasher.finishHex();
}
