// Start-up of the real executable: the command line chooses the mode, and a
// rejected command line shows its box only after "/showui".
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "fixtures.h"
#include "scenario.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;

constexpr const wchar_t* boxTitle = L"NorvantaWinのインストール";
constexpr const wchar_t* rejectedText = L"指定された起動引数は使用できません。";

std::wstring commandLineFor(const std::wstring& arguments) {
  std::wstring line = L"\"" + testsupport::downloaderPath().wstring() + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  return line;
}

// The message box of a process, or null.
HWND findMessageBox(DWORD processId) {
  for (HWND window : testsupport::topLevelWindows(processId)) {
    if (testsupport::windowClass(window) == L"#32770" && IsWindowVisible(window)) {
      return window;
    }
  }
  return nullptr;
}

std::vector<std::wstring> staticTexts(HWND box) {
  std::vector<std::wstring> texts;
  for (HWND child : testsupport::childWindows(box)) {
    if (_wcsicmp(testsupport::windowClass(child).c_str(), L"Static") == 0) {
      texts.push_back(testsupport::windowText(child));
    }
  }
  return texts;
}

// Runs the downloader and fails if any window of it shows up while it runs.
DWORD runWithoutWindows(const std::wstring& arguments) {
  ChildProcess child(testsupport::downloaderPath().wstring(), commandLineFor(arguments));
  bool sawWindow = false;
  testsupport::waitUntil(
      [&] {
        for (HWND window : testsupport::topLevelWindows(child.id())) {
          if (IsWindowVisible(window)) sawWindow = true;
        }
        return !child.running();
      },
      60s);
  // A box would keep the process waiting for a click, so it would still run.
  EXPECT_FALSE(child.running()) << "still running: a window is waiting?";
  EXPECT_FALSE(sawWindow);
  return child.wait(5s);
}

// A headless run with a current client: it ends by itself with 0 and logs
// its whole road; a rejected command line runs nothing and logs nothing.
TEST(Startup, HeadlessCommandLinesRunTheUpdate) {
  for (const std::wstring arguments :
       {L"", L"/silent", L"/VerySilent", L"\"/silent\"", L"/SILENT", L"/showui /silent"}) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    DownloaderScenario scenario("startup-headless");
    scenario.installClient(fixture::clientCurrent);
    scenario.publish(fixture::setupCurrent, "1.2.3.4");
    EXPECT_EQ(runWithoutWindows(arguments), 0u);
    EXPECT_EQ(scenario.eventNames(),
              (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                        "downloader_gui_open_requested"}));
  }
}

TEST(Startup, RejectedCommandLinesExitWithOneAndNoBox) {
  for (const std::wstring arguments :
       {L"/x /showui", L"/x", L"\"\"", L"\" /silent\"", L"/silent-",
        L"\xFF0F\xFF53\xFF49\xFF4C\xFF45\xFF4E\xFF54",  // full-width /silent
        L"/silent /x /showui"}) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    DownloaderScenario scenario("startup-rejected");
    EXPECT_EQ(runWithoutWindows(arguments), 1u);
    EXPECT_TRUE(scenario.eventNames().empty()) << "no run may start";
    EXPECT_TRUE(scenario.server().requests().empty());
  }
}

TEST(Startup, RejectedArgumentAfterShowUiShowsTheBox) {
  DownloaderScenario scenario("startup-box");
  ChildProcess child(testsupport::downloaderPath().wstring(), commandLineFor(L"/showui /x"));
  HWND box = nullptr;
  ASSERT_TRUE(
      testsupport::waitUntil([&] { return (box = findMessageBox(child.id())) != nullptr; }, 60s))
      << "no message box appeared";
  EXPECT_EQ(testsupport::windowText(box), boxTitle);
  const std::vector<std::wstring> texts = staticTexts(box);
  EXPECT_NE(std::find(texts.begin(), texts.end(), rejectedText), texts.end())
      << "box texts: " << testing::PrintToString(texts);
  // Only the box: the progress window never appeared.
  for (HWND window : testsupport::topLevelWindows(child.id())) {
    EXPECT_NE(testsupport::windowClass(window), L"Kavori.VelmoraDownloader");
  }
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.wait(30s), 1u);
  EXPECT_TRUE(scenario.eventNames().empty()) << "no run may start";
}

}  // namespace
