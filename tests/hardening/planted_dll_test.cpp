// The downloader is usually started from a Downloads folder full of other
// files: DLLs planted beside it under system names must never be loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "hardening_config.h"
#include "scenario.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const wchar_t* const plantedNames[] = {L"version.dll", L"winhttp.dll", L"wintrust.dll",
                                       L"bcrypt.dll",  L"crypt32.dll", L"cryptbase.dll"};

// A folder holding the downloader, the planted DLLs and the control program.
// CTest starts this program with WINEDLLOVERRIDES set so that Wine, like
// Windows, prefers a DLL found by the search order; children inherit it.
struct PlantedFolder {
  fs::path folder;
  fs::path markers;
  std::vector<std::wstring> environment;

  explicit PlantedFolder(const std::string& name) {
    folder = testsupport::freshTestFolder("planted-" + name);
    markers = folder / L"markers";
    fs::create_directories(markers);
    fs::copy_file(testsupport::downloaderPath(), folder / L"NorvantaWinDownloader.exe");
    fs::copy_file(NORVANTA_PLANTED_CONTROL, folder / L"planted_control.exe");
    for (const wchar_t* dll : plantedNames) {
      fs::copy_file(NORVANTA_PLANTED_DLL, folder / dll);
    }
    environment = {L"NORVANTA_PLANTED_MARKER_DIR=" + markers.wstring()};
  }

  std::vector<std::wstring> loaded() const {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(markers)) {
      names.push_back(entry.path().filename().wstring());
    }
    return names;
  }

  DWORD run(const fs::path& program, const std::wstring& arguments,
            std::vector<std::wstring> extra = {}) const {
    extra.insert(extra.end(), environment.begin(), environment.end());
    testsupport::ChildProcess child(program.wstring(),
                                    L"\"" + program.wstring() + L"\" " + arguments, extra);
    return child.wait();
  }
};

TEST(PlantedDlls, ControlProgramDoesLoadThePlantedCopy) {
  PlantedFolder planted("control");
  EXPECT_EQ(planted.run(planted.folder / L"planted_control.exe", L""), 0u);
  EXPECT_EQ(planted.loaded(), (std::vector<std::wstring>{L"version.dll.loaded"}));
}

TEST(PlantedDlls, NeverLoadedByAnInstallingRun) {
  for (const wchar_t* mode : {L"", L"/showui"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(mode)));
    PlantedFolder planted(std::string("install") + (mode[0] ? "-window" : ""));
    DownloaderScenario scenario("planted-install");
    scenario.publish(fixture::setupCurrent, "1.2.3.4");
    EXPECT_EQ(planted.run(planted.folder / L"NorvantaWinDownloader.exe", mode,
                          scenario.environment(0, fixture::clientCurrent)),
              0u);
    EXPECT_EQ(scenario.eventNames(),
              (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
    EXPECT_TRUE(planted.loaded().empty()) << testing::PrintToString(planted.loaded());
  }
}

TEST(PlantedDlls, NeverLoadedWhenOpeningTheClient) {
  for (const wchar_t* mode : {L"", L"/showui"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(mode)));
    PlantedFolder planted(std::string("open") + (mode[0] ? "-window" : ""));
    DownloaderScenario scenario("planted-open");
    scenario.installClient(fixture::clientCurrent);
    scenario.publish(fixture::setupCurrent, "1.2.3.4");
    EXPECT_EQ(
        planted.run(planted.folder / L"NorvantaWinDownloader.exe", mode, scenario.environment()),
        0u);
    EXPECT_EQ(scenario.eventNames().size(), 3u);
    EXPECT_TRUE(planted.loaded().empty()) << testing::PrintToString(planted.loaded());
  }
}

}  // namespace
