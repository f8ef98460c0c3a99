#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Posted by the run to the progress window. lParam of WM_DOWNLOAD_STATUS is a
// std::wstring* allocated with new; the receiver owns it once the post
// succeeded.
constexpr UINT WM_DOWNLOAD_STATUS = WM_APP + 1;
constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 2;

// The one object that the entry point, the update run and the progress window
// share. The window thread writes cancelRequested and reads installing during
// the run, to refuse a cancel once the installer is being started. The run
// writes installing, exitCode and message; the window reads exitCode and
// message only after joining worker.
class DownloadWindow {
 public:
  DownloadWindow() = default;
  DownloadWindow(const DownloadWindow&) = delete;
  DownloadWindow& operator=(const DownloadWindow&) = delete;

  // Runs the update once; never lets a std::exception escape. When silent is
  // false its last action is to post WM_DOWNLOAD_DONE to window.
  void perform(bool silent);

  // Posts WM_DOWNLOAD_STATUS with a heap copy of text; drops it if the post fails.
  void postStatus(std::wstring text);

  // Starts a thread that runs body. run() takes one so that a test can make
  // the start fail, or stand in for the update run.
  using WorkerStart = std::function<std::thread(std::function<void()>)>;

  // Window mode: shows the progress window, runs perform(false) on worker and
  // returns exitCode after worker has been joined. The window is gone when
  // run() returns or throws.
  int run(HINSTANCE instance);
  int run(HINSTANCE instance, const WorkerStart& startWorker);

  // The user's cancel request; ignored once installing is set.
  void requestCancel();

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window = nullptr;
  HWND statusLabel = nullptr;
  HWND cancelButton = nullptr;
  HFONT font = nullptr;
  std::thread worker;
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> installing{false};
  DWORD exitCode = 1;
  std::wstring message;
};
