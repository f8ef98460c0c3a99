// The progress window of the real executable (/showui) under Xvfb, driven
// the way a user would: close box, Esc, the cancel button.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "fixtures.h"
#include "scenario.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ChildProcess;

constexpr const wchar_t* windowClassName = L"Kavori.VelmoraDownloader";
constexpr const wchar_t* title = L"NorvantaWinのインストール";
constexpr const char* currentVersion = "1.2.3.4";

// Screen dpi for processes started from now on; restored to 96 afterwards.
class ScopedDpi {
 public:
  explicit ScopedDpi(DWORD dpi) { set(dpi); }
  ~ScopedDpi() { set(96); }

 private:
  static void set(DWORD dpi) {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi,
                    sizeof(dpi));
  }
};

struct Box {
  std::wstring title;
  std::wstring text;
  HWND owner;
};

// The downloader in window mode, with the means to look at its window.
class WindowRun {
 public:
  explicit WindowRun(const std::vector<std::wstring>& environment)
      : child_(testsupport::downloaderPath().wstring(),
               L"\"" + testsupport::downloaderPath().wstring() + L"\" /showui", environment) {}

  ChildProcess& process() { return child_; }

  HWND window() {
    for (HWND candidate : testsupport::topLevelWindows(child_.id())) {
      if (testsupport::windowClass(candidate) == windowClassName) return candidate;
    }
    return nullptr;
  }
  HWND waitForWindow() {
    HWND found = nullptr;
    testsupport::waitUntil([&] { return (found = window()) != nullptr && IsWindowVisible(found); },
                           60s);
    return found;
  }
  HWND child(const wchar_t* className) {
    HWND main = window();
    if (main == nullptr) return nullptr;
    for (HWND candidate : testsupport::childWindows(main)) {
      if (_wcsicmp(testsupport::windowClass(candidate).c_str(), className) == 0) return candidate;
    }
    return nullptr;
  }
  std::wstring status() { return testsupport::windowText(child(L"Static")); }
  HWND button() { return child(L"Button"); }

  HWND messageBox() {
    for (HWND candidate : testsupport::topLevelWindows(child_.id())) {
      if (testsupport::windowClass(candidate) == L"#32770" && IsWindowVisible(candidate)) {
        return candidate;
      }
    }
    return nullptr;
  }

  // Answers every box until the process ends; returns the boxes seen.
  std::vector<Box> dismissBoxesUntilExit() {
    std::vector<Box> boxes;
    testsupport::waitUntil(
        [&] {
          if (HWND box = messageBox()) {
            Box seen{testsupport::windowText(box), {}, GetWindow(box, GW_OWNER)};
            for (HWND part : testsupport::childWindows(box)) {
              if (_wcsicmp(testsupport::windowClass(part).c_str(), L"Static") == 0) {
                const std::wstring text = testsupport::windowText(part);
                if (!text.empty()) seen.text = text;
              }
            }
            boxes.push_back(seen);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            testsupport::waitUntil([&] { return !IsWindow(box); }, 10s);
          }
          return !child_.running();
        },
        120s);
    return boxes;
  }

 private:
  ChildProcess child_;
};

// Rectangle of a window in its parent's client coordinates.
RECT clientRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// An installer download that stalls after its first 64 KiB, long enough to
// act during it.
void publishSlowly(DownloaderScenario& scenario) {
  scenario.publish(fixture::setupCurrent, currentVersion);
  testserver::Response slow = testserver::Response::file(fixture::setupCurrent);
  slow.chunkBytes = 65536;
  slow.chunkDelayMs = 10000;
  scenario.server().setRoute(installerTarget, slow);
}

// True once the run has stored the first chunk, so that it is waiting for
// the next one: a cancel request is then noticed only when that arrives.
bool downloadIsStalled() {
  for (const fs::path& folder : DownloaderScenario::workFolders()) {
    std::error_code error;
    const auto size = fs::file_size(folder / L"NorvantaWinSetup.exe", error);
    if (!error && size >= 65536) return true;
  }
  return false;
}

TEST(ProgressWindow, LayoutFollowsTheScreenDpi) {
  struct Case {
    DWORD dpi;
    SIZE window;
    RECT status, progress, button;  // left, top, width, height
  };
  const Case cases[] = {
      {96, {470, 172}, {20, 20, 420, 36}, {20, 60, 420, 16}, {350, 92, 90, 26}},
      {120, {588, 215}, {25, 25, 525, 45}, {25, 75, 525, 20}, {438, 115, 113, 33}},
      {144, {705, 258}, {30, 30, 630, 54}, {30, 90, 630, 24}, {525, 138, 135, 39}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    ScopedDpi dpi(c.dpi);
    DownloaderScenario scenario("layout-" + std::to_string(c.dpi));
    publishSlowly(scenario);
    WindowRun run(scenario.environment());
    HWND window = run.waitForWindow();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(testsupport::windowText(window), title);
    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, c.window.cx);
    EXPECT_EQ(outer.bottom - outer.top, c.window.cy);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(outer.left, work.left + (work.right - work.left - c.window.cx) / 2);
    EXPECT_EQ(outer.top, work.top + (work.bottom - work.top - c.window.cy) / 2);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              WS_CAPTION | WS_SYSMENU);

    const std::pair<const wchar_t*, RECT> children[] = {
        {L"Static", c.status}, {L"msctls_progress32", c.progress}, {L"Button", c.button}};
    for (const auto& [className, expected] : children) {
      HWND control = run.child(className);
      ASSERT_NE(control, nullptr) << testing::PrintToString(std::wstring(className));
      const RECT actual = clientRect(control);
      EXPECT_EQ(actual.left, expected.left) << testing::PrintToString(std::wstring(className));
      EXPECT_EQ(actual.top, expected.top) << testing::PrintToString(std::wstring(className));
      EXPECT_EQ(actual.right - actual.left, expected.right);
      EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    }
    EXPECT_EQ(testsupport::windowText(run.button()), L"キャンセル");
    EXPECT_EQ(GetDlgCtrlID(run.button()), IDCANCEL);
    EXPECT_NE(GetWindowLongW(run.child(L"msctls_progress32"), GWL_STYLE) & PBS_MARQUEE, 0);

    PostMessageW(window, WM_CLOSE, 0, 0);  // cancel, so the next case starts sooner
    run.process().wait();
  }
}

TEST(ProgressWindow, CurrentClientShowsEachStatusThenClosesWithoutBox) {
  DownloaderScenario scenario("window-current");
  scenario.installClient(fixture::clientCurrent);
  scenario.publish(fixture::setupCurrent, currentVersion);
  // A slow manifest keeps the first text on screen for a while.
  testserver::Response slowManifest = testserver::Response::text(
      scenario.manifestFor(fixture::setupCurrent, currentVersion).dump());
  slowManifest.chunkBytes = 16;
  slowManifest.chunkDelayMs = 100;
  scenario.serveManifest(slowManifest);

  WindowRun run(scenario.environment());
  ASSERT_NE(run.waitForWindow(), nullptr);
  std::vector<std::wstring> seen;
  testsupport::waitUntil(
      [&] {
        const std::wstring text = run.status();
        if (!text.empty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
        return !run.process().running();
      },
      60s);
  EXPECT_EQ(run.process().wait(), 0u);
  // Later texts can replace each other faster than we look; what we saw must
  // be in this order, starting with the first.
  const std::vector<std::wstring> order = {L"NorvantaWinの最新版を確認しています...",
                                           L"インストール済みのNorvantaWinは最新です。",
                                           L"インストール済みのNorvantaWinを開いています..."};
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), order.front());
  size_t at = 0;
  for (const std::wstring& text : seen) {
    while (at < order.size() && order[at] != text) ++at;
    EXPECT_LT(at, order.size()) << "unexpected or out of order: " << testing::PrintToString(text);
  }
  EXPECT_EQ(scenario.eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}));
}

TEST(ProgressWindow, CloseEscAndCancelButtonCancelTheDownload) {
  const std::pair<const char*, std::function<void(WindowRun&)>> requests[] = {
      {"close", [](WindowRun& run) { PostMessageW(run.window(), WM_CLOSE, 0, 0); }},
      {"escape",
       [](WindowRun& run) {
         PostMessageW(run.button(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         PostMessageW(run.button(), WM_KEYUP, VK_ESCAPE, 0xC0010001);
       }},
      {"button", [](WindowRun& run) { PostMessageW(run.button(), BM_CLICK, 0, 0); }},
  };
  for (const auto& [name, request] : requests) {
    SCOPED_TRACE(name);
    DownloaderScenario scenario(std::string("cancel-") + name);
    publishSlowly(scenario);
    WindowRun run(scenario.environment());
    ASSERT_NE(run.waitForWindow(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return run.status() == L"NorvantaWinをダウンロードしています..."; }, 60s));
    ASSERT_TRUE(testsupport::waitUntil(downloadIsStalled, 60s));
    ASSERT_TRUE(IsWindowEnabled(run.button()));

    request(run);
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return run.status() == L"ダウンロードを中止しています..."; }, 30s));
    EXPECT_FALSE(IsWindowEnabled(run.button()));
    EXPECT_NE(run.window(), nullptr) << "the window stays until the run has ended";

    EXPECT_TRUE(run.dismissBoxesUntilExit().empty()) << "a cancelled run shows no box";
    EXPECT_EQ(run.process().wait(), 1223u);
    const auto events = scenario.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "downloader_failed");
    EXPECT_EQ(events.back()["exitCode"], 1223);
    EXPECT_EQ(events.back()["message"].get<std::string>().rfind("ダウンロードを中止しました。", 0),
              0u);
    EXPECT_TRUE(scenario.installerRecords().empty());
  }
}

TEST(ProgressWindow, NothingCancelsOnceTheInstallerRuns) {
  DownloaderScenario scenario("installing");
  scenario.publish(fixture::setupCurrent, currentVersion);
  const fs::path release = scenario.folder() / L"release-installer";
  auto environment = scenario.environment(0, fixture::clientCurrent);
  environment.push_back(L"NORVANTA_FIXTURE_INSTALLER_WAIT_FOR=" + release.wstring());

  WindowRun run(environment);
  ASSERT_NE(run.waitForWindow(), nullptr);
  ASSERT_TRUE(testsupport::waitUntil([&] { return !scenario.installerRecords().empty(); }, 60s));
  ASSERT_TRUE(testsupport::waitUntil(
      [&] { return run.status() == L"NorvantaWinをインストールしています..."; }, 30s));
  EXPECT_FALSE(IsWindowEnabled(run.button()));

  PostMessageW(run.window(), WM_CLOSE, 0, 0);
  PostMessageW(run.button(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(run.window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(run.button()));
  // Let the window handle them: a message sent after the posted ones
  // returns only once they have been processed.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(run.window(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
  EXPECT_EQ(run.status(), L"NorvantaWinをインストールしています...");
  EXPECT_FALSE(IsWindowEnabled(run.button()));
  EXPECT_TRUE(run.process().running());

  testsupport::writeFile(release, "go");
  EXPECT_TRUE(run.dismissBoxesUntilExit().empty());
  EXPECT_EQ(run.process().wait(), 0u);
  EXPECT_EQ(scenario.eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
}

TEST(ProgressWindow, OutcomeBoxes) {
  struct Case {
    const char* name;
    DWORD installerExitCode;  // with the installer published; 0xFFFFFFFF: no installer
    DWORD exitCode;
    std::vector<std::wstring> boxTexts;                                   // prefixes
    testserver::Response manifest = testserver::Response::text("", 404);  // with no installer
  };
  const Case cases[] = {
      {"failed",
       0xFFFFFFFF,
       1,
       {L"更新サーバーに接続できませんでした。時間をおいて再実行してください。 ("}},
      // The parser quotes the byte it stopped at; the box shows it repaired.
      {"not-utf8",
       0xFFFFFFFF,
       1,
       {L"[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
        L"parsing value - invalid literal; last read: '\xFFFD'"},
       testserver::Response::text("\xFF")},
      {"restart", 3010, 3010, {L"インストールが完了しました。Windowsを再起動してください。"}},
      {"1603", 1603, 1603, {L"インストールが完了しませんでした。終了コード: 1603"}},
      {"1223", 1223, 1223, {}},
      {"success", 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DownloaderScenario scenario(std::string("boxes-") + c.name);
    if (c.installerExitCode == 0xFFFFFFFF) {
      scenario.serveManifest(c.manifest);
    } else {
      scenario.publish(fixture::setupCurrent, currentVersion);
    }
    WindowRun run(scenario.environment(c.installerExitCode == 0xFFFFFFFF ? 0 : c.installerExitCode,
                                       fixture::clientCurrent));
    HWND window = run.waitForWindow();
    ASSERT_NE(window, nullptr);
    const std::vector<Box> boxes = run.dismissBoxesUntilExit();
    EXPECT_EQ(run.process().wait(), c.exitCode);
    ASSERT_EQ(boxes.size(), c.boxTexts.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].title, title);
      EXPECT_EQ(boxes[i].text.rfind(c.boxTexts[i], 0), 0u) << testing::PrintToString(boxes[i].text);
      EXPECT_EQ(boxes[i].owner, window) << "owned by the progress window";
    }
  }
}

}  // namespace
