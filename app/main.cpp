#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before any delay-loaded library is needed: system DLLs come from System32
  // only, never from the folder the downloader was started from.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return startDownloader(instance);
}
