// Shows that the planting works under the test's settings: a program that
// loads version.dll by name without restricting the search picks up the
// planted copy beside it.
#include <windows.h>

int wmain() {
  HMODULE module = LoadLibraryW(L"version.dll");
  return module != nullptr ? 0 : 1;
}
