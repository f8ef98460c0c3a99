#include "trust/installed_client.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "fixtures.h"
#include "test_support.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using trusttest::failureOf;
using trusttest::isEnsureFailure;

namespace {

constexpr const char* notIdentified = "インストール済みのNorvantaWinを確認できません。";
constexpr const char* versionUnusable = "インストール済みのバージョンを確認できません。";
constexpr const char* notTrusted =
    "インストール済みのNorvantaWinの製品情報または発行元署名を確認できません。";

fs::path folderOf(const wchar_t* fixture) { return fs::path(fixture).parent_path(); }

std::wstring lower(const fs::path& path) { return toLowerWide(path.wstring()); }

TEST(KnownFolderPath, GivesLocalAppDataAndRefusesUnknownFolders) {
  wchar_t expected[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"LOCALAPPDATA", expected, MAX_PATH), 0u);
  EXPECT_EQ(lower(knownFolderPath(FOLDERID_LocalAppData)), lower(expected));

  const KNOWNFOLDERID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  const std::string what = failureOf([&] { knownFolderPath(unknown); });
  EXPECT_TRUE(isEnsureFailure(what, "User directory unavailable")) << what;
}

TEST(InstallDirectory, IsKavoriVelmoraBelowLocalAppData) {
  const fs::path expected = knownFolderPath(FOLDERID_LocalAppData) / L"Kavori" / L"Velmora";
  EXPECT_EQ(installDirectory(), expected);
  const std::wstring text = installDirectory().wstring();
  EXPECT_EQ(text.substr(text.size() - 15), L"\\Kavori\\Velmora");
}

TEST(IsTrustedClientPath, NeedsTheNameAndEitherTheFixedPlaceOrTheIdentity) {
  const fs::path folder = testsupport::freshTestFolder("trusted-client-path");
  const fs::path renamed = trusttest::copyFixture(fixture::clientCurrent, folder, L"Other.exe");
  const fs::path otherCase =
      trusttest::copyFixture(fixture::clientCurrent, folder / L"case", L"norvantawin.EXE");
  const fs::path fixed = installDirectory() / L"NorvantaWin.exe";
  const fs::path fixedLower = toLowerWide(fixed.wstring());
  struct Case {
    const char* what;
    fs::path path;
    bool trusted;
  };
  const Case cases[] = {
      {"client under another name", renamed, false},
      {"client name in other letter case", otherCase, true},
      // Nothing lies at the fixed location: its resources are not read.
      {"fixed location", fixed, true},
      {"fixed location in other letter case", fixedLower, true},
      {"copy elsewhere with the identity", fixture::clientCurrent, true},
      {"unsigned copy elsewhere with the identity", fixture::clientUnsigned, true},
      {"copy elsewhere, other product", fixture::clientOtherProduct, false},
      {"copy elsewhere, no implementation", fixture::clientNoImplementation, false},
      {"missing file elsewhere", folder / L"NorvantaWin.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(isTrustedClientPath(c.path), c.trusted);
  }
}

TEST(IsInstallRequired, ComparesTheInstalledVersionWithTheManifest) {
  const nlohmann::json manifest = trusttest::manifestFor(fixture::setupCurrent, "1.2.3.4");
  const fs::path withFolderNamedClient = testsupport::freshTestFolder("client-is-a-folder");
  fs::create_directories(withFolderNamedClient / L"NorvantaWin.exe");
  struct Case {
    const char* what;
    fs::path folder;
    bool required;        // when message is empty
    const char* message;  // expected failure
  };
  const Case cases[] = {
      {"no folder given", fs::path(), true, ""},
      {"no client in the folder", folderOf(fixture::setupCurrent), true, ""},
      {"missing folder", withFolderNamedClient / L"missing", true, ""},
      {"same version", folderOf(fixture::clientCurrent), false, ""},
      {"one patch behind", folderOf(fixture::clientOlder), true, ""},
      {"newer than offered", folderOf(fixture::clientNewer), false, ""},
      {"unsigned client is not judged here", folderOf(fixture::clientUnsigned), false, ""},
      {"version with two dots", folderOf(fixture::clientTwoDotVersion), false, versionUnusable},
      {"version without digits", folderOf(fixture::clientMalformedVersion), false,
       "Invalid version"},
      {"another product", folderOf(fixture::clientOtherProduct), false, notIdentified},
      {"no implementation", folderOf(fixture::clientNoImplementation), false, notIdentified},
      {"folder named like the client", withFolderNamedClient, false, notIdentified},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool required = false;
    const std::string what = failureOf([&] { required = isInstallRequired(manifest, c.folder); });
    if (*c.message == '\0') {
      EXPECT_EQ(what, "");
      EXPECT_EQ(required, c.required);
    } else {
      EXPECT_TRUE(isEnsureFailure(what, c.message)) << what;
    }
  }
}

TEST(IsInstallRequired, ValidatesTheManifestFirst) {
  nlohmann::json manifest = trusttest::manifestFor(fixture::setupCurrent, "1.2.3.4");
  manifest["product"] = "norvantawin";
  for (const fs::path& folder : {fs::path(), folderOf(fixture::clientOtherProduct)}) {
    const std::string what = failureOf([&] { isInstallRequired(manifest, folder); });
    EXPECT_TRUE(isEnsureFailure(what, "別製品の配布情報は使用できません。")) << what;
  }
  manifest = trusttest::manifestFor(fixture::setupCurrent, "1.2.4.0");
  EXPECT_TRUE(isInstallRequired(manifest, folderOf(fixture::clientNewer)));
}

struct ClientRun {
  std::string failure;
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<nlohmann::json> records;
};

// Opens the client in folder with the fixture client reporting to a record file.
ClientRun openClient(const fs::path& folder, const std::string& testName) {
  const fs::path record = testsupport::freshTestFolder(testName + "-record") / L"client.jsonl";
  testsupport::ScopedEnvironment variables({L"NORVANTA_FIXTURE_CLIENT_RECORD=" + record.wstring(),
                                            L"NORVANTA_FIXTURE_CLIENT_EXIT_CODE=4000000000"});
  ClientRun run;
  run.failure = failureOf([&] {
    UniqueHandleKernel process = openInstalledClient(folder);
    EXPECT_TRUE(process.valid());
    EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.get(), &run.exitCode);
  });
  run.records = trusttest::readRecords(record);
  return run;
}

TEST(OpenInstalledClient, StartsTheClientWithItsQuotedPathInItsFolder) {
  const fs::path folder = testsupport::freshTestFolder("open client") / L"with space";
  const fs::path client =
      trusttest::copyFixture(fixture::clientCurrent, folder, L"NorvantaWin.exe");
  const ClientRun run = openClient(folder, "open-client");
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(run.exitCode, 4000000000u);
  ASSERT_EQ(run.records.size(), 1u);
  EXPECT_EQ(run.records[0]["commandLine"], wideToUtf8(quoteArgument(client.wstring())));
  EXPECT_EQ(lower(utf8ToWide(run.records[0]["currentDirectory"].get<std::string>())),
            lower(folder));
}

TEST(OpenInstalledClient, NeverStartsAClientThatFailsItsChecks) {
  const fs::path missing = testsupport::freshTestFolder("open-client-missing");
  struct Case {
    const char* what;
    fs::path folder;
  };
  const Case cases[] = {
      {"unsigned", folderOf(fixture::clientUnsigned)},
      {"other publisher", folderOf(fixture::clientOtherPublisher)},
      {"signed, other product", folderOf(fixture::clientOtherProduct)},
      {"signed, no implementation", folderOf(fixture::clientNoImplementation)},
      {"missing", missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ClientRun run = openClient(c.folder, "open-client-refused");
    EXPECT_TRUE(isEnsureFailure(run.failure, notTrusted)) << run.failure;
    EXPECT_TRUE(run.records.empty());
  }
}

}  // namespace
