#include "app/download_window.h"

// Placeholder until the update service exists: a run that does nothing and
// succeeds, so that start-up can be exercised end to end.
void DownloadWindow::perform(bool silent) {
  exitCode = 0;
  if (!silent) {
    PostMessageW(window, WM_DOWNLOAD_DONE, 0, 0);
  }
}
