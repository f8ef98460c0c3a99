#include "ui/progress_window.h"

#include <commctrl.h>

#include <functional>
#include <memory>

#include "app/download_window.h"
#include "common/ensure.h"
#include "common/unique_handle.h"
#include "ui/ui_texts.h"

namespace {

constexpr int iconResourceId = 101;
constexpr DWORD windowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD childStyle = WS_CHILD | WS_VISIBLE;
constexpr UINT marqueeIntervalMs = 30;
constexpr DWORD cancelledExitCode = ERROR_CANCELLED;
constexpr DWORD restartExitCode = ERROR_SUCCESS_REBOOT_REQUIRED;

int scale(int value, int dpi) { return MulDiv(value, dpi, 96); }

RECT scaledBox(int x, int y, int width, int height, int dpi) {
  return RECT{scale(x, dpi), scale(y, dpi), scale(width, dpi), scale(height, dpi)};
}

int screenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

HWND createChild(const wchar_t* className, const wchar_t* text, DWORD style, const RECT& box,
                 HWND parent, int id, HINSTANCE instance) {
  return CreateWindowExW(0, className, text, style, box.left, box.top, box.right, box.bottom,
                         parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                         nullptr);
}

// The font of the status text and the button.
struct FontTraits {
  using Type = HFONT;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { DeleteObject(value); }
};

// The progress window and, with it, its controls. The object is detached
// first, so that nothing the window procedure does while the window goes
// reaches an object that may be freed right after run(), or posts a quit
// message that would end the entry point's error box at once.
struct ProgressWindowTraits {
  using Type = HWND;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept {
    SetWindowLongPtrW(value, GWLP_USERDATA, 0);
    DestroyWindow(value);
  }
};

}  // namespace

ProgressLayout progressLayout(int dpi) {
  ProgressLayout layout{};
  layout.window = SIZE{scale(470, dpi), scale(172, dpi)};
  layout.status = scaledBox(20, 20, 420, 36, dpi);
  layout.progress = scaledBox(20, 60, 420, 16, dpi);
  layout.button = scaledBox(350, 92, 90, 26, dpi);
  layout.fontHeight = -MulDiv(9, dpi, 72);
  return layout;
}

POINT centredIn(const RECT& workArea, SIZE size) {
  return POINT{workArea.left + (workArea.right - workArea.left - size.cx) / 2,
               workArea.top + (workArea.bottom - workArea.top - size.cy) / 2};
}

int DownloadWindow::run(HINSTANCE instance) {
  return run(instance, [](std::function<void()> body) { return std::thread(std::move(body)); });
}

int DownloadWindow::run(HINSTANCE instance, const WorkerStart& startWorker) {
  WNDCLASSW windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = &DownloadWindow::windowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(iconResourceId));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = uiText::windowClass;
  ensure(RegisterClassW(&windowClass) != 0, uiText::classNotRegistered);

  RECT workArea{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const int dpi = screenDpi();
  const ProgressLayout layout = progressLayout(dpi);
  const POINT origin = centredIn(workArea, layout.window);

  // Declared first so that it goes last, once the controls that use it are gone.
  UniqueHandle<FontTraits> fontOwner;
  // WM_NCCREATE stores the handle as well, but only the result tells whether
  // the creation went through to the end.
  window =
      CreateWindowExW(0, uiText::windowClass, uiText::windowTitle, windowStyle, origin.x, origin.y,
                      layout.window.cx, layout.window.cy, nullptr, nullptr, instance, this);
  UniqueHandle<ProgressWindowTraits> windowOwner(window);
  ensure(window != nullptr, uiText::windowNotCreated);

  fontOwner.reset(CreateFontW(layout.fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, uiText::fontFace));
  font = fontOwner.get();
  statusLabel = createChild(L"STATIC", uiText::initialStatus, childStyle | SS_LEFT, layout.status,
                            window, 0, instance);
  HWND progressBar = createChild(PROGRESS_CLASSW, L"", childStyle | PBS_MARQUEE, layout.progress,
                                 window, 0, instance);
  cancelButton =
      createChild(L"BUTTON", uiText::cancelButton, childStyle | WS_TABSTOP | BS_PUSHBUTTON,
                  layout.button, window, IDCANCEL, instance);

  SendMessageW(statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(cancelButton, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(progressBar, PBM_SETMARQUEE, TRUE, marqueeIntervalMs);
  ShowWindow(window, SW_SHOW);

  worker = startWorker([this] { perform(false); });

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  if (worker.joinable()) {
    // The loop ended before the run did: ask it to stop and wait for it.
    cancelRequested.exchange(true);
    worker.join();
  }
  return static_cast<int>(exitCode);
}

void DownloadWindow::requestCancel() {
  if (installing.load()) {
    return;
  }
  cancelRequested.exchange(true);
  EnableWindow(cancelButton, FALSE);
  SetWindowTextW(statusLabel, uiText::cancelling);
}

LRESULT CALLBACK DownloadWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<DownloadWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  auto* self = reinterpret_cast<DownloadWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  switch (message) {
    case WM_CLOSE:
      self->requestCancel();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        self->requestCancel();
        return 0;
      }
      break;
    case WM_DOWNLOAD_STATUS: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
      if (!text) {
        return 0;  // not from the run, which always sends a text
      }
      SetWindowTextW(self->statusLabel, text->c_str());
      const bool enable = !self->installing.load() && !self->cancelRequested.load();
      EnableWindow(self->cancelButton, enable ? TRUE : FALSE);
      return 0;
    }
    case WM_DOWNLOAD_DONE:
      // A copy that the run did not send finds the worker joined already if
      // it comes during the outcome box or later, and is ignored; one that
      // comes while the run still goes on waits here for the run's end.
      if (!self->worker.joinable()) {
        return 0;
      }
      self->worker.join();
      if (!self->message.empty() && self->exitCode != cancelledExitCode) {
        MessageBoxW(hwnd, self->message.c_str(), uiText::windowTitle, MB_OK | MB_ICONERROR);
      }
      if (self->exitCode == restartExitCode) {
        MessageBoxW(hwnd, uiText::restartRequired, uiText::windowTitle, MB_OK | MB_ICONINFORMATION);
      }
      // run() destroys the window once its loop has ended.
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}
