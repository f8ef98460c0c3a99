#include "app/download_window.h"

#include <memory>

void DownloadWindow::postStatus(std::wstring text) {
  auto heapText = std::make_unique<std::wstring>(std::move(text));
  if (PostMessageW(window, WM_DOWNLOAD_STATUS, 0, reinterpret_cast<LPARAM>(heapText.get()))) {
    heapText.release();  // the window owns it now
  }
}
