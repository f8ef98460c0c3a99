#include "trust/installer_verification.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fixtures.h"
#include "test_support.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using nlohmann::json;
using trusttest::failureOf;
using trusttest::isEnsureFailure;
using trusttest::manifestFor;

namespace {

constexpr const char* sizeMismatch = "インストーラのサイズが一致しません。";
constexpr const char* digestMismatch = "インストーラのハッシュが一致しません。";
constexpr const char* signatureRejected = "インストーラの発行元署名を確認できません。";
constexpr const char* productMismatch = "インストーラの製品またはバージョンが一致しません。";

std::string upperDigest(std::string digest) {
  for (char& c : digest) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return digest;
}

std::string otherDigest(std::string digest) {
  digest[10] = digest[10] == '0' ? '1' : '0';
  return digest;
}

TEST(VerifyInstaller, ReportsTheFirstTestThatFails) {
  struct Case {
    const char* what;
    const wchar_t* file;
    const char* manifestVersion;
    std::function<void(json&)> change;
    const char* message;  // empty: accepted
  };
  const auto none = [](json&) {};
  const Case cases[] = {
      {"the announced installer", fixture::setupCurrent, "1.2.3.4", none, ""},
      {"digest in upper case", fixture::setupCurrent, "1.2.3.4",
       [](json& m) { m["sha256"] = upperDigest(m["sha256"]); }, ""},
      {"one byte longer announced", fixture::setupCurrent, "1.2.3.4",
       [](json& m) { m["sizeBytes"] = m["sizeBytes"].get<std::int64_t>() + 1; }, sizeMismatch},
      {"one byte shorter announced", fixture::setupCurrent, "1.2.3.4",
       [](json& m) { m["sizeBytes"] = m["sizeBytes"].get<std::int64_t>() - 1; }, sizeMismatch},
      {"other digest", fixture::setupCurrent, "1.2.3.4",
       [](json& m) { m["sha256"] = otherDigest(m["sha256"]); }, digestMismatch},
      {"unsigned", fixture::setupUnsigned, "1.2.3.4", none, signatureRejected},
      {"other publisher", fixture::setupOtherPublisher, "1.2.3.4", none, signatureRejected},
      {"changed after signing", fixture::setupAltered, "1.2.3.4", none, signatureRejected},
      {"newer version than announced", fixture::setupNext, "1.2.3.4", none, productMismatch},
      {"older version than announced", fixture::setupCurrent, "1.2.3.5", none, productMismatch},
      {"version with a leading zero", fixture::setupPaddedVersion, "1.2.3.4", none,
       productMismatch},
      {"description without Setup", fixture::setupShortDescription, "1.2.3.4", none,
       productMismatch},
      {"product name in other letter case", fixture::setupProductCase, "1.2.3.4", none,
       productMismatch},
      {"a client, not an installer", fixture::clientCurrent, "1.2.3.4", none, productMismatch},
      // Order: digest before signature, signature before product and version.
      {"unsigned with other digest", fixture::setupUnsigned, "1.2.3.4",
       [](json& m) { m["sha256"] = otherDigest(m["sha256"]); }, digestMismatch},
      {"unsigned with other version", fixture::setupUnsigned, "1.2.3.5", none, signatureRejected},
      // The manifest rules come before any look at the file.
      {"manifest of another product", fixture::setupCurrent, "1.2.3.4",
       [](json& m) { m["product"] = "Other"; }, "別製品の配布情報は使用できません。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    json manifest = manifestFor(c.file, c.manifestVersion);
    c.change(manifest);
    const std::string what = failureOf([&] { verifyInstaller(manifest, c.file); });
    if (*c.message == '\0') {
      EXPECT_EQ(what, "");
    } else {
      EXPECT_TRUE(isEnsureFailure(what, c.message)) << what;
    }
  }
}

TEST(VerifyInstaller, PathsThatAreNoFileFailTheSizeTest) {
  const fs::path folder = testsupport::freshTestFolder("verify-not-a-file");
  const json manifest = manifestFor(fixture::setupCurrent, "1.2.3.4");
  for (const fs::path& path : {folder / L"NorvantaWinSetup.exe", folder}) {
    SCOPED_TRACE(path.u8string());
    const std::string what = failureOf([&] { verifyInstaller(manifest, path); });
    EXPECT_TRUE(isEnsureFailure(what, sizeMismatch)) << what;
  }
  json invalid = manifest;
  invalid["available"] = false;
  const std::string what = failureOf([&] { verifyInstaller(invalid, folder / L"missing.exe"); });
  EXPECT_TRUE(isEnsureFailure(what, "NorvantaWinのインストーラは現在配布されていません。")) << what;
}

TEST(VerifyInstaller, ChecksTheSizeBeforeReadingTheFile) {
  // While another process denies reading, hashing fails; a wrong size must be
  // reported without getting that far.
  const fs::path file = trusttest::copyFixture(
      fixture::setupCurrent, testsupport::freshTestFolder("verify-size-first"), L"setup.exe");
  json manifest = manifestFor(file, "1.2.3.4");
  trusttest::HeldElsewhere held(file, GENERIC_READ, 0);
  ASSERT_TRUE(held.holding());

  std::string what = failureOf([&] { verifyInstaller(manifest, file); });
  EXPECT_TRUE(isEnsureFailure(what, "File could not be hashed")) << what;

  manifest["sizeBytes"] = manifest["sizeBytes"].get<std::int64_t>() + 1;
  what = failureOf([&] { verifyInstaller(manifest, file); });
  EXPECT_TRUE(isEnsureFailure(what, sizeMismatch)) << what;
}

TEST(VerifyInstaller, PassesWhileTheCallerPinsTheFile) {
  const json manifest = manifestFor(fixture::setupCurrent, "1.2.3.4");
  UniqueHandleKernel pin(CreateFileW(fixture::setupCurrent, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(pin.valid());
  EXPECT_EQ(failureOf([&] { verifyInstaller(manifest, fixture::setupCurrent); }), "");
}

}  // namespace
