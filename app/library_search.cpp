#include "app/library_search.h"

#include <windows.h>

#include <initializer_list>

void restrictLibrarySearch() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The system's own DLLs may load these by name later (Wine's winhttp
  // delay-loads crypt32, for one) without honouring the default
  // directories. Loading them from System32 now means every later lookup by
  // name finds the module already in the process. They stay loaded for the
  // life of the process, so the module handles are deliberately not kept.
  for (const wchar_t* name :
       {L"version.dll", L"winhttp.dll", L"wintrust.dll", L"crypt32.dll", L"bcrypt.dll"}) {
    LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}
