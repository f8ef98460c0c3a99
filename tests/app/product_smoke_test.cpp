// A few whole runs of the shipped 32-bit executable, for machines that can
// execute it only under emulation (each start takes about a minute there):
// an install, the open of a current client, a refused argument, and a
// window-mode run that ends with its box. The helpers it starts (installer,
// client) are this build's own.
#include <windows.h>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "scenario.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::runDownloader;

constexpr const char* currentVersion = "1.2.3.4";
const std::vector<std::string> installed{"downloader_started", "downloader_setup_finished"};

std::string quoted(const fs::path& path) { return "\"" + path.u8string() + "\""; }

// What the run logged, for a failure's message.
std::string logged(const DownloaderScenario& scenario) {
  std::string text;
  for (const nlohmann::json& record : scenario.events()) text += record.dump() + "\n";
  return text;
}

TEST(ProductSmoke, InstallsAndReturnsTheInstallersFullExitCode) {
  DownloaderScenario scenario("smoke-install");
  scenario.publish(fixture::setupCurrent, currentVersion);
  EXPECT_EQ(runDownloader(L"/verysilent", scenario.environment(3010, fixture::clientCurrent)),
            3010u);
  EXPECT_EQ(scenario.eventNames(), installed) << logged(scenario);
  const auto installers = scenario.installerRecords();
  ASSERT_EQ(installers.size(), 1u);
  const fs::path workFolder = fs::u8path(installers[0]["currentDirectory"].get<std::string>());
  EXPECT_EQ(installers[0]["commandLine"], quoted(workFolder / L"NorvantaWinSetup.exe") +
                                              " /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP-");
  EXPECT_TRUE(DownloaderScenario::workFolders().empty());
}

TEST(ProductSmoke, OpensACurrentClient) {
  DownloaderScenario scenario("smoke-open");
  scenario.installClient(fixture::clientCurrent);
  scenario.publish(fixture::setupCurrent, currentVersion);
  EXPECT_EQ(runDownloader(L"", scenario.environment()), 0u);
  EXPECT_EQ(scenario.eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}))
      << logged(scenario);
  testsupport::waitUntil([&] { return !scenario.clientRecords().empty(); });
  ASSERT_EQ(scenario.clientRecords().size(), 1u);
  EXPECT_EQ(scenario.clientRecords()[0]["commandLine"], quoted(scenario.clientPath()));
  EXPECT_TRUE(scenario.installerRecords().empty());
}

TEST(ProductSmoke, RefusesAnUnknownArgumentWithoutRunning) {
  DownloaderScenario scenario("smoke-refused");
  scenario.publish(fixture::setupCurrent, currentVersion);
  EXPECT_EQ(runDownloader(L"/x", scenario.environment()), 1u);
  EXPECT_TRUE(scenario.events().empty());
  EXPECT_TRUE(scenario.server().requests().empty());
}

TEST(ProductSmoke, WindowModeShowsTheFailureBoxOwnedByTheWindow) {
  DownloaderScenario scenario("smoke-window");
  scenario.serveManifest(testserver::Response::text("", 404));
  const fs::path exe = testsupport::downloaderPath();
  ChildProcess child(exe.wstring(), L"\"" + exe.wstring() + L"\" /showui", scenario.environment());

  HWND window = nullptr;
  HWND box = nullptr;
  testsupport::waitUntil(
      [&] {
        for (HWND candidate : testsupport::topLevelWindows(child.id())) {
          const std::wstring name = testsupport::windowClass(candidate);
          if (name == L"Kavori.VelmoraDownloader") window = candidate;
          if (name == L"#32770" && IsWindowVisible(candidate)) box = candidate;
        }
        return box != nullptr || !child.running();
      },
      std::chrono::minutes(3));
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(testsupport::windowText(box), L"NorvantaWinのインストール");
  std::wstring text;
  for (HWND part : testsupport::childWindows(box)) {
    if (_wcsicmp(testsupport::windowClass(part).c_str(), L"Static") == 0 &&
        !testsupport::windowText(part).empty()) {
      text = testsupport::windowText(part);
    }
  }
  EXPECT_EQ(text.rfind(L"更新サーバーに接続できませんでした。", 0), 0u)
      << testing::PrintToString(text);
  EXPECT_EQ(GetWindow(box, GW_OWNER), window);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.wait(), 1u);
  EXPECT_EQ(scenario.eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_failed"}))
      << logged(scenario);
}

}  // namespace
