// Starts a program inside Wine, waits for it and reports its full 32-bit exit
// code, which Linux would see cut to 8 bits.
//
//   launcher [--exit-code-file FILE] [--env NAME=VALUE]... [--cd DIR] -- PROGRAM [ARGUMENT]...
//
// The arguments after PROGRAM are passed as given (each quoted). The exit code
// is printed as "exit code: N" and, with --exit-code-file, written to FILE.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/text.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring exitCodeFile;
  std::wstring currentDirectory;
  int index = 1;
  for (; index < argc; ++index) {
    const std::wstring option = argv[index];
    if (option == L"--") {
      ++index;
      break;
    }
    if (index + 1 >= argc) {
      std::fwprintf(stderr, L"launcher: %ls needs a value\n", option.c_str());
      return 2;
    }
    const std::wstring value = argv[++index];
    if (option == L"--exit-code-file") {
      exitCodeFile = value;
    } else if (option == L"--cd") {
      currentDirectory = value;
    } else if (option == L"--env") {
      const size_t equals = value.find(L'=');
      SetEnvironmentVariableW(
          value.substr(0, equals).c_str(),
          equals == std::wstring::npos ? L"" : value.substr(equals + 1).c_str());
    } else {
      std::fwprintf(stderr, L"launcher: unknown option %ls\n", option.c_str());
      return 2;
    }
  }
  if (index >= argc) {
    std::fwprintf(stderr, L"usage: launcher [options] -- PROGRAM [ARGUMENT]...\n");
    return 2;
  }
  const std::wstring program = argv[index];
  std::wstring commandLine = quoteArgument(program);
  for (++index; index < argc; ++index) {
    commandLine += L" " + quoteArgument(argv[index]);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                      &info)) {
    std::fwprintf(stderr, L"launcher: cannot start %ls (%lu)\n", program.c_str(), GetLastError());
    return 2;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);

  std::printf("exit code: %lu\n", static_cast<unsigned long>(code));
  std::fflush(stdout);
  if (!exitCodeFile.empty()) {
    std::ofstream(std::filesystem::path(exitCodeFile)) << code << "\n";
  }
  return static_cast<int>(code);
}
