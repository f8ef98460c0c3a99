// Opens, deletes or holds a file from a process of its own, so that tests can
// see what sharing modes allow other processes to do.
//
//   trust_file_probe read|write|delete PATH    exit code: the Win32 error, 0 on success
//   trust_file_probe hold ACCESS SHARE PATH READY
//       opens PATH with the hexadecimal access and share masks, creates the
//       file READY once it holds the handle, and keeps it for two minutes at
//       most (the test ends it sooner).
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/unique_handle.h"

namespace {

DWORD openWith(const wchar_t* path, DWORD access) {
  UniqueHandleKernel file(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  return file ? 0 : GetLastError();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3) {
    const std::wstring operation = argv[1];
    if (operation == L"read") {
      return static_cast<int>(openWith(argv[2], GENERIC_READ));
    }
    if (operation == L"write") {
      return static_cast<int>(openWith(argv[2], GENERIC_WRITE));
    }
    if (operation == L"delete") {
      return DeleteFileW(argv[2]) ? 0 : static_cast<int>(GetLastError());
    }
  }
  if (argc == 6 && std::wstring(argv[1]) == L"hold") {
    const auto access = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 16));
    const auto share = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 16));
    UniqueHandleKernel file(
        CreateFileW(argv[4], access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
      return static_cast<int>(GetLastError());
    }
    UniqueHandleKernel ready(
        CreateFileW(argv[5], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(120000);
    return 0;
  }
  return 87;  // ERROR_INVALID_PARAMETER
}
