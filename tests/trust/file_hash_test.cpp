#include "trust/file_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using testsupport::freshTestFolder;
using testsupport::writeFile;
using trusttest::failureOf;
using trusttest::isEnsureFailure;

namespace {

constexpr const char* notHashable = "File could not be hashed";

// Bytes 0, 1, ..., 250, 0, 1, ...: no two chunks of 65536 bytes are alike.
std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(i % 251);
  }
  return bytes;
}

// Digests computed with Python's hashlib over pattern(size).
struct SizedDigest {
  size_t size;
  const char* digest;
};
const SizedDigest sizedDigests[] = {
    {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    // The digest holds a byte of value 10: it must read "0a".
    {1, "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
    {65535, "dda402a2c028f0cbbdbc5c6ebae965eed9c75f71236e7022b0386d3455d5ae2f"},
    {65536, "4b640d85ab3ba30fd02c9fc9db4a8928f416322ad27022ea58a65aaee68a4df2"},
    {65537, "237356e18b503616912abb8ffaed3a72591e397d4ac294c4637917d48a3f529d"},
    {200000, "e24bc62381f1224fbbb74688663f8f9743b9680b193edd666835e97b06e730eb"},
};

TEST(Sha256File, MatchesIndependentDigestsAcrossChunkBoundaries) {
  const fs::path folder = freshTestFolder("hash-sizes");
  for (const SizedDigest& entry : sizedDigests) {
    SCOPED_TRACE(entry.size);
    const fs::path file = folder / (std::to_string(entry.size) + ".bin");
    writeFile(file, pattern(entry.size));
    EXPECT_EQ(sha256File(file), entry.digest);
  }
}

TEST(Sha256Hasher, PiecesGiveTheDigestOfTheWhole) {
  // FIPS 180-2 vector for "abc", fed in pieces including an empty one.
  Sha256Hasher hasher;
  hasher.update("a", 1);
  hasher.update("", 0);
  hasher.update("bc", 2);
  EXPECT_EQ(hasher.finishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256File, UnopenablePathsFail) {
  const fs::path folder = freshTestFolder("hash-unopenable");
  const fs::path paths[] = {folder / L"missing.bin", folder, folder / L"no-such-folder" / L"x"};
  for (const fs::path& path : paths) {
    SCOPED_TRACE(path.u8string());
    const std::string what = failureOf([&] { sha256File(path); });
    EXPECT_TRUE(isEnsureFailure(what, notHashable)) << what;
  }
}

TEST(Sha256File, DependsOnHowOthersHoldTheFile) {
  const fs::path file = freshTestFolder("hash-held") / L"held.bin";
  writeFile(file, pattern(65537));
  const std::string expected = sizedDigests[4].digest;

  struct Holder {
    const char* what;
    DWORD access;
    DWORD share;
    bool hashable;
  };
  const Holder holders[] = {
      {"pinned for verification", GENERIC_READ, FILE_SHARE_READ, true},
      {"writer sharing reads and writes", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"reader without any sharing", GENERIC_READ, 0, false},
      {"writer without read sharing", GENERIC_WRITE, FILE_SHARE_WRITE, false},
  };
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.what);
    UniqueHandleKernel handle(
        CreateFileW(file.c_str(), holder.access, holder.share, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle.valid()) << GetLastError();
    if (holder.hashable) {
      EXPECT_EQ(sha256File(file), expected);
    } else {
      const std::string what = failureOf([&] { sha256File(file); });
      EXPECT_TRUE(isEnsureFailure(what, notHashable)) << what;
    }
  }
}

TEST(Sha256File, FailsWhileAnotherProcessDeniesReading) {
  const fs::path file = freshTestFolder("hash-held-elsewhere") / L"held.bin";
  writeFile(file, pattern(10));
  {
    trusttest::HeldElsewhere held(file, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_TRUE(held.holding());
    const std::string what = failureOf([&] { sha256File(file); });
    EXPECT_TRUE(isEnsureFailure(what, notHashable)) << what;
  }
}

}  // namespace
