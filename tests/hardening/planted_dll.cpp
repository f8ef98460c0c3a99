// A DLL planted beside the downloader under a system DLL's name. Loading it
// leaves a marker "<name>.loaded" in the folder that
// NORVANTA_PLANTED_MARKER_DIR names; it does nothing else.
#include <windows.h>

#include <string>

#include "common/unique_handle.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) {
    return TRUE;
  }
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"NORVANTA_PLANTED_MARKER_DIR", folder, MAX_PATH) == 0) {
    return TRUE;
  }
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(instance, module, MAX_PATH);
  std::wstring name = module;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  const std::wstring marker = std::wstring(folder) + L"\\" + name + L".loaded";
  UniqueHandleKernel file(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return TRUE;
}
