// Tests that put a client at the fixed location in LocalAppData; they run
// one at a time and restore what was there.
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "fixtures.h"
#include "test_support.h"
#include "trust/installed_client.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using trusttest::failureOf;
using trusttest::isEnsureFailure;

namespace {

// Puts a fixture at LocalAppData\Kavori\Velmora\NorvantaWin.exe and restores
// the previous state (file or no file, folders or none) afterwards.
class ClientAtFixedLocation {
 public:
  explicit ClientAtFixedLocation(const wchar_t* fixture)
      : folder_(installDirectory()), client_(folder_ / L"NorvantaWin.exe") {
    for (fs::path level = folder_; !fs::exists(level); level = level.parent_path()) {
      created_.push_back(level);
    }
    if (fs::exists(client_)) {
      backup_ = fs::path(client_).concat(L".test-backup");
      fs::rename(client_, backup_);
    }
    fs::create_directories(folder_);
    fs::copy_file(fixture, client_);
  }
  ~ClientAtFixedLocation() {
    std::error_code ignored;
    fs::remove(client_, ignored);
    if (!backup_.empty()) {
      fs::rename(backup_, client_, ignored);
    }
    for (const fs::path& level : created_) {
      fs::remove(level, ignored);  // innermost first; only if empty
    }
  }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_;
  fs::path client_;
  fs::path backup_;
  std::vector<fs::path> created_;
};

TEST(ClientAtFixedLocation, SignedClientStartsInItsFolder) {
  const fs::path record = testsupport::freshTestFolder("fixed-client-record") / L"client.jsonl";
  testsupport::ScopedEnvironment variables({L"NORVANTA_FIXTURE_CLIENT_RECORD=" + record.wstring()});
  ClientAtFixedLocation placed(fixture::clientCurrent);
  {
    UniqueHandleKernel process = openInstalledClient(installDirectory());
    ASSERT_TRUE(process.valid());
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  }
  const auto records = trusttest::readRecords(record);
  ASSERT_EQ(records.size(), 1u);
  const fs::path client = placed.folder() / L"NorvantaWin.exe";
  EXPECT_EQ(records[0]["commandLine"], wideToUtf8(quoteArgument(client.wstring())));
  EXPECT_EQ(toLowerWide(utf8ToWide(records[0]["currentDirectory"].get<std::string>())),
            toLowerWide(placed.folder().wstring()));
}

TEST(ClientAtFixedLocation, SignatureIsStillRequired) {
  for (const wchar_t* fixture : {fixture::clientUnsigned, fixture::clientOtherPublisher}) {
    SCOPED_TRACE(wideToUtf8(fixture));
    const fs::path record = testsupport::freshTestFolder("fixed-client-refused") / L"c.jsonl";
    testsupport::ScopedEnvironment variables(
        {L"NORVANTA_FIXTURE_CLIENT_RECORD=" + record.wstring()});
    ClientAtFixedLocation placed(fixture);
    const std::string what = failureOf([] { openInstalledClient(installDirectory()); });
    EXPECT_TRUE(isEnsureFailure(
        what, "インストール済みのNorvantaWinの製品情報または発行元署名を確認できません。"))
        << what;
    EXPECT_TRUE(trusttest::readRecords(record).empty());
  }
}

TEST(ClientAtFixedLocation, InstallDecisionReadsTheIdentityThereToo) {
  const nlohmann::json manifest = trusttest::manifestFor(fixture::setupCurrent, "1.2.3.4");
  {
    ClientAtFixedLocation placed(fixture::clientOlder);
    EXPECT_TRUE(isInstallRequired(manifest, installDirectory()));
  }
  {
    ClientAtFixedLocation placed(fixture::clientOtherProduct);
    const std::string what = failureOf([&] { isInstallRequired(manifest, installDirectory()); });
    EXPECT_TRUE(isEnsureFailure(what, "インストール済みのNorvantaWinを確認できません。")) << what;
  }
}

TEST(ClientAtFixedLocation, FixtureInstallerPutsTheChosenClientThere) {
  const nlohmann::json manifest = trusttest::manifestFor(fixture::setupCurrent, "1.2.3.5");
  const fs::path record = testsupport::freshTestFolder("fixture-installer-places") / L"i.jsonl";
  ClientAtFixedLocation placed(fixture::clientOlder);
  ASSERT_TRUE(isInstallRequired(manifest, installDirectory()));
  testsupport::ChildProcess installer(
      fixture::setupCurrent, quoteArgument(fixture::setupCurrent),
      {L"NORVANTA_FIXTURE_INSTALLER_CLIENT_SOURCE=" + std::wstring(fixture::clientNewer),
       L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + record.wstring()});
  EXPECT_EQ(installer.wait(), 0u);
  const auto records = trusttest::readRecords(record);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["clientCopied"], true);
  EXPECT_FALSE(isInstallRequired(manifest, installDirectory()));
}

}  // namespace
