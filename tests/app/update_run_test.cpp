// The whole headless run of the real executable against the test update
// server, with the fixture installer and client.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "scenario.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::runDownloader;

constexpr const char* currentVersion = "1.2.3.4";

std::string quoted(const fs::path& path) { return "\"" + path.u8string() + "\""; }

void expectUnsignedInteger(const nlohmann::json& record, const char* key, std::uint64_t value) {
  ASSERT_TRUE(record.contains(key)) << record.dump();
  EXPECT_TRUE(record[key].is_number_unsigned()) << record.dump();
  EXPECT_EQ(record[key].get<std::uint64_t>(), value) << record.dump();
}

// Every record carries its name and an integer time stamp, keys sorted.
void expectWellFormed(const std::vector<nlohmann::json>& events) {
  for (const nlohmann::json& record : events) {
    EXPECT_TRUE(record["event"].is_string());
    EXPECT_TRUE(record["utcMs"].is_number_integer());
  }
  if (!events.empty()) {
    EXPECT_EQ(events.front()["server"],
              "https://localhost:" + std::to_string(NORVANTA_TEST_SERVER_PORT));
  }
}

TEST(UpdateRun, CurrentClientIsOpenedWithoutDownloading) {
  for (const auto& [client, name] : {std::pair{fs::path(fixture::clientCurrent), "current"},
                                     std::pair{fs::path(fixture::clientNewer), "newer"}}) {
    SCOPED_TRACE(name);
    DownloaderScenario scenario(std::string("open-") + name);
    scenario.installClient(client);
    scenario.publish(fixture::setupCurrent, currentVersion);

    EXPECT_EQ(runDownloader(L"", scenario.environment()), 0u);

    const auto events = scenario.events();
    expectWellFormed(events);
    EXPECT_EQ(scenario.eventNames(),
              (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                        "downloader_gui_open_requested"}));
    if (events.size() == 3) {
      EXPECT_EQ(events[1]["publishedVersion"], currentVersion);
      EXPECT_EQ(events[2].size(), 2u) << "no fields beyond event and utcMs";
    }
    // The downloader never waits for the client, so its record may come later.
    testsupport::waitUntil([&] { return !scenario.clientRecords().empty(); });
    const auto clients = scenario.clientRecords();
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(clients[0]["commandLine"], quoted(scenario.clientPath()));
    EXPECT_EQ(fs::u8path(clients[0]["currentDirectory"].get<std::string>()),
              scenario.clientFolder());
    EXPECT_TRUE(scenario.installerRecords().empty());
    // Only the manifest was asked for: never a download, never a downgrade.
    const auto requests = scenario.server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, manifestTarget);
    EXPECT_TRUE(DownloaderScenario::workFolders().empty());
  }
}

TEST(UpdateRun, InstallerExitCodeIsReturnedUnchanged) {
  for (const DWORD code : {0u, 3010u, 1603u, 3221225477u}) {
    SCOPED_TRACE(code);
    DownloaderScenario scenario("install-" + std::to_string(code));
    scenario.publish(fixture::setupCurrent, currentVersion);

    EXPECT_EQ(runDownloader(L"/verysilent", scenario.environment(code, fixture::clientCurrent)),
              code);

    const auto events = scenario.events();
    expectWellFormed(events);
    EXPECT_EQ(scenario.eventNames(),
              (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
    if (events.size() == 2) {
      expectUnsignedInteger(events[1], "exitCode", code);
      EXPECT_EQ(events[1]["version"], currentVersion);
      EXPECT_EQ(events[1].size(), 4u);
    }
    const auto installers = scenario.installerRecords();
    ASSERT_EQ(installers.size(), 1u);
    const fs::path workFolder = fs::u8path(installers[0]["currentDirectory"].get<std::string>());
    EXPECT_EQ((workFolder.parent_path() / L"").wstring(),
              (fs::temp_directory_path() / L"").wstring());
    EXPECT_EQ(workFolder.filename().wstring().rfind(L"NorvantaWinDownloader-", 0), 0u);
    EXPECT_EQ(installers[0]["commandLine"], quoted(workFolder / L"NorvantaWinSetup.exe") +
                                                " /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP-");
    EXPECT_FALSE(fs::exists(workFolder));
    EXPECT_TRUE(scenario.clientRecords().empty()) << "the installed client is not started";
  }
}

TEST(UpdateRun, OlderClientIsUpdated) {
  DownloaderScenario scenario("older");
  scenario.installClient(fixture::clientOlder);
  scenario.publish(fixture::setupCurrent, currentVersion);
  EXPECT_EQ(runDownloader(L"", scenario.environment(0, fixture::clientCurrent)), 0u);
  EXPECT_EQ(scenario.eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(scenario.installerRecords().size(), 1u);
  EXPECT_TRUE(DownloaderScenario::workFolders().empty());
}

struct FailureCase {
  const char* name;
  std::function<void(DownloaderScenario&)> arrange;
  std::string message;  // without the last-error suffix
};

void expectFailedRun(DownloaderScenario& scenario, const std::string& message,
                     const std::vector<std::string>& before = {"downloader_started"}) {
  EXPECT_EQ(runDownloader(L"", scenario.environment()), 1u);
  const auto events = scenario.events();
  expectWellFormed(events);
  std::vector<std::string> expected = before;
  expected.push_back("downloader_failed");
  EXPECT_EQ(scenario.eventNames(), expected);
  if (!events.empty() && events.back()["event"] == "downloader_failed") {
    EXPECT_EQ(withoutErrorSuffix(events.back()["message"].get<std::string>()), message)
        << events.back()["message"];
    expectUnsignedInteger(events.back(), "exitCode", 1);
  }
  EXPECT_TRUE(scenario.installerRecords().empty()) << "no installer may start";
  EXPECT_TRUE(DownloaderScenario::workFolders().empty()) << "no work folder may stay";
}

TEST(UpdateRun, ManifestFailuresEndTheRun) {
  const std::string noManifest =
      "更新サーバーに接続できませんでした。時間をおいて再実行してください。";
  const auto serve = [](unsigned status, std::string body, std::string location = {}) {
    return [=](DownloaderScenario& scenario) {
      testserver::Response response;
      response.status = status;
      response.body = body;
      response.location = location;
      scenario.serveManifest(response);
    };
  };
  const auto publishWith = [](nlohmann::json overrides) {
    return [=](DownloaderScenario& scenario) {
      scenario.publish(fixture::setupCurrent, currentVersion, overrides);
    };
  };
  const FailureCase cases[] = {
      {"404", serve(404, ""), noManifest},
      {"302", serve(302, "", "https://localhost:1/elsewhere"), noManifest},
      {"not-json", serve(200, "<html>"),
       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
       "parsing value - invalid literal; last read: '<'"},
      // The parser quotes the byte it stopped at; the failure text is repaired
      // (U+FFFD) so that the record stays valid UTF-8 and is not lost.
      {"not-utf8", serve(200, "\xFF"),
       "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
       "parsing value - invalid literal; last read: '\xEF\xBF\xBD'"},
      {"too-large", serve(200, std::string(65537, ' ')), "更新ファイルが上限を超えました"},
      {"unavailable", publishWith({{"available", false}}),
       "NorvantaWinのインストーラは現在配布されていません。"},
      {"product", publishWith({{"product", "norvantawin"}}), "別製品の配布情報は使用できません。"},
      {"version-dots", publishWith({{"latestVersion", "1.2.3"}}), "配布バージョンが不正です。"},
      {"version-syntax", publishWith({{"latestVersion", "1.2.3.x"}}), "Invalid version"},
      {"sha256", publishWith({{"sha256", "abc"}}), "配布ファイルのハッシュ情報が不正です。"},
      {"size-type", publishWith({{"sizeBytes", "12"}}), "配布サイズが不正です。"},
      {"size-limit", publishWith({{"sizeBytes", 268435457}}), "配布サイズが上限を超えています。"},
      {"download-path", publishWith({{"downloadPath", "/elsewhere"}}),
       "許可されていないダウンロード先です。"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    DownloaderScenario scenario(std::string("manifest-") + c.name);
    c.arrange(scenario);
    expectFailedRun(scenario, c.message);
    // Nothing but the manifest was asked for.
    for (const auto& request : scenario.server().requests()) {
      EXPECT_EQ(request.target, manifestTarget);
    }
  }
}

TEST(UpdateRun, InstallerThatFailsItsProofIsNeverStarted) {
  const auto publish = [](const wchar_t* installer,
                          nlohmann::json overrides = nlohmann::json::object()) {
    return [=](DownloaderScenario& scenario) {
      scenario.publish(installer, currentVersion, overrides);
    };
  };
  const std::string signature = "インストーラの発行元署名を確認できません。";
  const std::string product = "インストーラの製品またはバージョンが一致しません。";
  const FailureCase cases[] = {
      {"404",
       [](DownloaderScenario& scenario) {
         scenario.publish(fixture::setupCurrent, currentVersion);
         testserver::Response missing;
         missing.status = 404;
         scenario.server().setRoute(installerTarget, missing);
       },
       "NorvantaWinのダウンロードに失敗しました。"},
      {"size",
       [](DownloaderScenario& scenario) {
         const auto size = fs::file_size(fixture::setupCurrent);
         scenario.publish(fixture::setupCurrent, currentVersion, {{"sizeBytes", size + 1}});
       },
       "インストーラのサイズが一致しません。"},
      {"digest", publish(fixture::setupCurrent, {{"sha256", std::string(64, '0')}}),
       "インストーラのハッシュが一致しません。"},
      {"unsigned", publish(fixture::setupUnsigned), signature},
      {"other-publisher", publish(fixture::setupOtherPublisher), signature},
      {"altered", publish(fixture::setupAltered), signature},
      {"version", publish(fixture::setupNext), product},
      {"description", publish(fixture::setupShortDescription), product},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    DownloaderScenario scenario(std::string("installer-") + c.name);
    c.arrange(scenario);
    expectFailedRun(scenario, c.message);
  }
}

TEST(UpdateRun, UnreachableServerFailsWithTheTransferMessage) {
  DownloaderScenario scenario("unreachable");
  scenario.server().stop();
  expectFailedRun(scenario, "更新サーバーから応答がありません");
}

TEST(UpdateRun, UntrustedInstalledClientIsNotStarted) {
  for (const auto& [client, name] : {std::pair{fs::path(fixture::clientUnsigned), "unsigned"},
                                     std::pair{fs::path(fixture::clientOtherPublisher), "other"}}) {
    SCOPED_TRACE(name);
    DownloaderScenario scenario(std::string("untrusted-") + name);
    scenario.installClient(client);
    scenario.publish(fixture::setupCurrent, currentVersion);
    expectFailedRun(scenario,
                    "インストール済みのNorvantaWinの製品情報または発行元署名を確認できません。",
                    {"downloader_started", "downloader_setup_not_required"});
    EXPECT_TRUE(scenario.clientRecords().empty());
  }
}

}  // namespace
