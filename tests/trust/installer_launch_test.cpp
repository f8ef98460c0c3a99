#include "trust/installer_launch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "common/text.h"
#include "fixtures.h"
#include "test_support.h"
#include "trust_test_helpers.h"

namespace fs = std::filesystem;
using trusttest::failureOf;
using trusttest::isEnsureFailure;

namespace {

constexpr const wchar_t* fixedSwitches = L" /SUPPRESSMSGBOXES /NORESTART /SP-";

// A downloaded installer in a folder whose path holds a space, announced by
// its manifest, with the fixture reporting to a record file.
struct Download {
  explicit Download(const std::string& name, const wchar_t* fixture = fixture::setupCurrent) {
    folder = testsupport::freshTestFolder(name) / L"work folder";
    result.installerPath = trusttest::copyFixture(fixture, folder, L"NorvantaWinSetup.exe");
    result.manifest = trusttest::manifestFor(result.installerPath, "1.2.3.4");
    record = folder.parent_path() / L"installer.jsonl";
  }
  std::vector<nlohmann::json> records() const { return trusttest::readRecords(record); }

  fs::path folder;
  fs::path record;
  DownloadResult result;
};

TEST(RunInstaller, StartsTheInstallerQuietlyInItsFolderAndReturnsItsExitCode) {
  struct Case {
    bool verySilent;
    DWORD exitCode;
    const wchar_t* quietSwitch;
  };
  const Case cases[] = {
      {true, 0, L" /VERYSILENT"},
      {false, 3010, L" /SILENT"},
      {true, 2147483648u, L" /VERYSILENT"},
      {false, 4294967295u, L" /SILENT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exitCode);
    const Download download("run-installer");
    testsupport::ScopedEnvironment variables(
        {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring(),
         L"NORVANTA_FIXTURE_INSTALLER_EXIT_CODE=" + std::to_wstring(c.exitCode)});
    int hookCalls = 0;
    const DWORD exitCode = runInstaller(download.result, c.verySilent, [&] {
      ++hookCalls;
      EXPECT_TRUE(download.records().empty()) << "the hook runs before the start";
    });
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(hookCalls, 1);
    const auto records = download.records();
    ASSERT_EQ(records.size(), 1u);
    const std::wstring expected =
        quoteArgument(download.result.installerPath.wstring()) + c.quietSwitch + fixedSwitches;
    EXPECT_EQ(records[0]["commandLine"], wideToUtf8(expected));
    EXPECT_EQ(toLowerWide(utf8ToWide(records[0]["currentDirectory"].get<std::string>())),
              toLowerWide(download.folder.wstring()));
  }
}

TEST(RunInstaller, AnEmptyHookIsSkipped) {
  const Download download("run-installer-no-hook");
  testsupport::ScopedEnvironment variables(
      {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring(),
       L"NORVANTA_FIXTURE_INSTALLER_EXIT_CODE=5"});
  EXPECT_EQ(runInstaller(download.result, true, BeforeInstallHook()), 5u);
  EXPECT_EQ(download.records().size(), 1u);
}

// What must hold after a refused start: nothing ran, the hook was not
// called unless expected, and the file is no longer pinned.
void expectNothingStarted(const Download& download) {
  EXPECT_TRUE(download.records().empty());
  if (fs::exists(download.result.installerPath)) {
    UniqueHandleKernel exclusive(CreateFileW(download.result.installerPath.c_str(),
                                             GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive.valid()) << "still pinned: " << GetLastError();
  }
}

TEST(RunInstaller, AHookThatRaisesPreventsTheStart) {
  const Download download("run-installer-hook-raises");
  testsupport::ScopedEnvironment variables(
      {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring()});
  const std::string what = failureOf(
      [&] { runInstaller(download.result, true, [] { throw std::runtime_error("cancelled"); }); });
  EXPECT_EQ(what, "cancelled");
  expectNothingStarted(download);
}

TEST(RunInstaller, RefusesAnInstallerThatChangedOrWentAway) {
  struct Case {
    const char* what;
    std::function<void(const Download&)> change;
    const char* message;
    DWORD code;  // last-error suffix, or 0xFFFFFFFF for any
  };
  const Case cases[] = {
      {"deleted", [](const Download& d) { fs::remove(d.result.installerPath); },
       "インストーラを開けません。", ERROR_FILE_NOT_FOUND},
      {"replaced by a file changed after signing",
       [](const Download& d) {
         trusttest::copyFixture(fixture::setupAltered, d.folder, L"NorvantaWinSetup.exe");
       },
       "インストーラのハッシュが一致しません。", 0xFFFFFFFF},
      {"replaced by an unsigned build",
       [](const Download& d) {
         trusttest::copyFixture(fixture::setupUnsigned, d.folder, L"NorvantaWinSetup.exe");
       },
       "インストーラのサイズが一致しません。", 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Download download("run-installer-changed");
    testsupport::ScopedEnvironment variables(
        {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring()});
    c.change(download);
    bool hookCalled = false;
    const std::string what =
        failureOf([&] { runInstaller(download.result, true, [&] { hookCalled = true; }); });
    EXPECT_TRUE(isEnsureFailure(what, c.message)) << what;
    if (c.code != 0xFFFFFFFF) {
      EXPECT_EQ(trusttest::ensureCode(what), c.code);
    }
    EXPECT_FALSE(hookCalled);
    expectNothingStarted(download);
  }
}

TEST(RunInstaller, RefusesAnInstallerThatAnotherProcessHoldsForWriting) {
  const Download download("run-installer-writer");
  testsupport::ScopedEnvironment variables(
      {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring()});
  trusttest::HeldElsewhere writer(download.result.installerPath, GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(writer.holding());
  const std::string what = failureOf([&] { runInstaller(download.result, true, {}); });
  EXPECT_TRUE(isEnsureFailure(what, "インストーラを開けません。")) << what;
  EXPECT_EQ(trusttest::ensureCode(what), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(download.records().empty());
}

TEST(PinnedFile, OtherProcessesMayReadButNeitherWriteNorDelete) {
  const fs::path file = trusttest::copyFixture(
      fixture::setupCurrent, testsupport::freshTestFolder("pinned-file"), L"NorvantaWinSetup.exe");
  UniqueHandleKernel pin(
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(pin.valid());
  EXPECT_EQ(trusttest::probeFromOtherProcess("write", file), 32u);
  EXPECT_EQ(trusttest::probeFromOtherProcess("delete", file), 32u);
  EXPECT_EQ(trusttest::probeFromOtherProcess("read", file), 0u);
  pin.reset();
  EXPECT_EQ(trusttest::probeFromOtherProcess("write", file), 0u);
}

TEST(RunInstaller, KeepsTheInstallerPinnedWhileItRuns) {
  const Download download("run-installer-pinned");
  const fs::path release = download.folder.parent_path() / L"release";
  testsupport::ScopedEnvironment variables(
      {L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + download.record.wstring(),
       L"NORVANTA_FIXTURE_INSTALLER_WAIT_FOR=" + release.wstring(),
       L"NORVANTA_FIXTURE_INSTALLER_EXIT_CODE=3010"});
  DWORD exitCode = 0;
  std::string failure;
  std::thread launcher(
      [&] { failure = failureOf([&] { exitCode = runInstaller(download.result, false, {}); }); });
  const bool started = testsupport::waitUntil([&] { return !download.records().empty(); });
  if (started) {
    EXPECT_EQ(trusttest::probeFromOtherProcess("write", download.result.installerPath), 32u);
    EXPECT_EQ(trusttest::probeFromOtherProcess("delete", download.result.installerPath), 32u);
  }
  testsupport::writeFile(release, "");
  launcher.join();
  ASSERT_TRUE(started);
  EXPECT_EQ(failure, "");
  EXPECT_EQ(exitCode, 3010u);
  EXPECT_TRUE(fs::exists(download.result.installerPath));
}

}  // namespace
