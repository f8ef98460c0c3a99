#include <windows.h>

#include "app/library_search.h"
#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before any delay-loaded library is needed.
  restrictLibrarySearch();
  return startDownloader(instance);
}
