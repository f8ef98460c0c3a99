// The progress window's failure paths, in this process: run() with a worker
// start of the test's own, and faults injected through window hooks. The
// update run itself never starts, so no server is involved.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/download_window.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;

constexpr const wchar_t* windowClassName = L"Kavori.VelmoraDownloader";
constexpr const wchar_t* title = L"NorvantaWinのインストール";

HINSTANCE thisModule() { return GetModuleHandleW(nullptr); }

HWND progressWindow() {
  for (HWND window : testsupport::topLevelWindows(GetCurrentProcessId())) {
    if (testsupport::windowClass(window) == windowClassName) return window;
  }
  return nullptr;
}

struct HookTraits {
  using Type = HHOOK;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { UnhookWindowsHookEx(value); }
};
using ScopedHook = UniqueHandle<HookTraits>;

// Controls of this thread that were destroyed after their font had been
// deleted (the font must outlive every control that draws with it).
std::atomic<int> controlsOutlivingTheirFont{0};

LRESULT CALLBACK watchDestroyedControls(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_DESTROY && GetParent(call->hwnd) != nullptr) {
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(call->hwnd, WM_GETFONT, 0, 0));
    if (font != nullptr && GetObjectType(font) != OBJ_FONT) ++controlsOutlivingTheirFont;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Makes the progress window's creation fail after WM_NCCREATE, the way a
// failing WM_CREATE does: the window is subclassed as it is being created.
WNDPROC progressWindowProc = nullptr;

LRESULT CALLBACK failOnCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return -1;
  return CallWindowProcW(progressWindowProc, window, message, wParam, lParam);
}

LRESULT CALLBACK subclassProgressWindow(int code, WPARAM wParam, LPARAM lParam) {
  const auto window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_CREATEWND && testsupport::windowClass(window) == windowClassName) {
    progressWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&failOnCreate)));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct Box {
  std::wstring title;
  std::wstring text;
  HWND owner = nullptr;
  HWND progressWindow = nullptr;  // the progress window while the box was up
  std::wstring status;            // and its status text
};

// Answers every message box of this process from a second thread, as a user
// would, and notes what else was on the screen meanwhile.
class BoxAnswerer {
 public:
  BoxAnswerer() : thread_([this] { answer(); }) {}
  ~BoxAnswerer() { stop(); }

  std::vector<Box> stop() {
    if (thread_.joinable()) {
      stop_ = true;
      thread_.join();
    }
    return boxes_;
  }

 private:
  void answer() {
    while (!stop_) {
      for (HWND box : testsupport::topLevelWindows(GetCurrentProcessId())) {
        if (testsupport::windowClass(box) != L"#32770" || !IsWindowVisible(box)) continue;
        Box seen{testsupport::windowText(box), {}, GetWindow(box, GW_OWNER), progressWindow(), {}};
        for (HWND part : testsupport::childWindows(box)) {
          const std::wstring text = testsupport::windowText(part);
          if (_wcsicmp(testsupport::windowClass(part).c_str(), L"Static") == 0 && !text.empty()) {
            seen.text = text;
          }
        }
        if (seen.progressWindow != nullptr) {
          for (HWND control : testsupport::childWindows(seen.progressWindow)) {
            if (_wcsicmp(testsupport::windowClass(control).c_str(), L"Static") == 0) {
              seen.status = testsupport::windowText(control);
            }
          }
        }
        boxes_.push_back(seen);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        testsupport::waitUntil([&] { return !IsWindow(box); }, 10s);
      }
      std::this_thread::sleep_for(10ms);
    }
  }

  std::atomic<bool> stop_{false};
  std::vector<Box> boxes_;
  std::thread thread_;
};

// run() registers its class once per process; every case starts without it.
class WindowFailure : public testing::Test {
 protected:
  void TearDown() override { UnregisterClassW(windowClassName, thisModule()); }
};

// When the window cannot be set up, run() throws and leaves nothing behind:
// no window whose procedure still reaches the object that the entry point
// frees next, no control without its font, and no quit message that would
// end the entry point's error box before anyone saw it.
TEST_F(WindowFailure, SetUpFailuresLeaveNoWindowAndTheErrorBoxShows) {
  const std::system_error threadFailure(
      std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
  struct Case {
    const char* name;
    bool classTaken;        // the class name is registered already
    bool creationFails;     // WM_CREATE fails, after WM_NCCREATE went through
    bool threadStartFails;  // the worker thread cannot be started
    std::string messagePrefix;
  };
  const Case cases[] = {
      {"class taken", true, false, false, "画面を初期化できません。 ("},
      {"creation fails after WM_NCCREATE", false, true, false, "画面を作成できません。 ("},
      {"thread start fails", false, false, true, threadFailure.what()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UnregisterClassW(windowClassName, thisModule());
    if (c.classTaken) {
      WNDCLASSW other{};
      other.lpfnWndProc = &DefWindowProcW;
      other.hInstance = thisModule();
      other.lpszClassName = windowClassName;
      ASSERT_NE(RegisterClassW(&other), 0);
    }
    controlsOutlivingTheirFont = 0;
    bool workerStarted = false;
    std::string failure;
    {
      ScopedHook fontWatch(SetWindowsHookExW(WH_CALLWNDPROC, &watchDestroyedControls, nullptr,
                                             GetCurrentThreadId()));
      ScopedHook creationFault;
      if (c.creationFails) {
        creationFault.reset(
            SetWindowsHookExW(WH_CBT, &subclassProgressWindow, nullptr, GetCurrentThreadId()));
      }
      DownloadWindow downloadWindow;
      try {
        downloadWindow.run(thisModule(), [&](std::function<void()>) -> std::thread {
          workerStarted = true;
          throw threadFailure;
        });
      } catch (const std::exception& error) {
        failure = error.what();
      }
      EXPECT_FALSE(downloadWindow.worker.joinable());
    }

    EXPECT_EQ(failure.rfind(c.messagePrefix, 0), 0u) << failure;
    EXPECT_EQ(workerStarted, c.threadStartFails) << "the run starts only in a complete window";
    EXPECT_EQ(progressWindow(), nullptr);
    EXPECT_EQ(controlsOutlivingTheirFont, 0);

    // What the entry point does next: its box must show, with nothing of the
    // progress window left to click meanwhile.
    BoxAnswerer answerer;
    MessageBoxW(nullptr, displayText(failure).c_str(), title, MB_OK | MB_ICONERROR);
    const std::vector<Box> boxes = answerer.stop();
    ASSERT_EQ(boxes.size(), 1u) << "a pending quit message ends the box before it shows";
    EXPECT_EQ(boxes[0].text, displayText(failure));
    EXPECT_EQ(boxes[0].progressWindow, nullptr);
  }
}

// Posts a status text the way the run does.
void postText(HWND window, const wchar_t* text) {
  auto heapText = std::make_unique<std::wstring>(text);
  if (PostMessageW(window, WM_DOWNLOAD_STATUS, 0, reinterpret_cast<LPARAM>(heapText.get()))) {
    heapText.release();
  }
}

// The window trusts no WM_DOWNLOAD_STATUS without a text and no
// WM_DOWNLOAD_DONE but the run's own: a stand-in for the run posts such
// strays around its real messages, and the window shows exactly the run's
// outcome, once, and closes only after the run has ended.
TEST_F(WindowFailure, StrayRunMessagesAreIgnored) {
  struct Case {
    const char* name;
    std::function<void(DownloadWindow&)> fakeRun;  // on the worker thread
    int exitCode;
    std::wstring boxText;
    std::wstring statusAtBox;  // empty: not looked at
  };
  const Case cases[] = {
      {"status without text, done again during the outcome box",
       [](DownloadWindow& run) {
         PostMessageW(run.window, WM_DOWNLOAD_STATUS, 0, 0);
         postText(run.window, L"状況その一");
         run.message = L"失敗しました。";
         run.exitCode = 1;
         PostMessageW(run.window, WM_DOWNLOAD_DONE, 0, 0);
         PostMessageW(run.window, WM_DOWNLOAD_DONE, 0, 0);
       },
       1, L"失敗しました。", L"状況その一"},
      {"done before the run has ended",
       [](DownloadWindow& run) {
         PostMessageW(run.window, WM_DOWNLOAD_DONE, 0, 0);
         postText(run.window, L"状況その一");
         PostMessageW(run.window, WM_DOWNLOAD_STATUS, 0, 0);
         run.exitCode = ERROR_SUCCESS_REBOOT_REQUIRED;
         PostMessageW(run.window, WM_DOWNLOAD_DONE, 0, 0);
       },
       3010, L"インストールが完了しました。Windowsを再起動してください。", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UnregisterClassW(windowClassName, thisModule());
    DownloadWindow downloadWindow;
    BoxAnswerer answerer;
    const int exitCode = downloadWindow.run(thisModule(), [&](std::function<void()>) {
      return std::thread(c.fakeRun, std::ref(downloadWindow));
    });
    const std::vector<Box> boxes = answerer.stop();

    EXPECT_EQ(exitCode, c.exitCode);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, title);
    EXPECT_EQ(boxes[0].text, c.boxText);
    EXPECT_NE(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].owner, boxes[0].progressWindow) << "the window is still there";
    if (!c.statusAtBox.empty()) {
      EXPECT_EQ(boxes[0].status, c.statusAtBox);
    }
    EXPECT_EQ(progressWindow(), nullptr) << "and gone once run() has returned";
  }
}

}  // namespace
