#include "trust/installer_launch.h"

#include <string>

#include "common/ensure.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "trust/installer_verification.h"
#include "trust/trust_texts.h"

DWORD runInstaller(const DownloadResult& download, bool verySilent, const BeforeInstallHook& hook) {
  const std::filesystem::path& installerPath = download.installerPath;
  // Pinned until the installer has ended: readers only, no writer, no deletion.
  UniqueHandleKernel file(CreateFileW(installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  ensure(file.valid(), trustText::installerNotOpened);

  verifyInstaller(download.manifest, installerPath);
  if (hook) {
    hook();
  }

  std::wstring commandLine = quoteArgument(installerPath.wstring());
  commandLine += verySilent ? trustName::verySilentSwitch : trustName::silentSwitch;
  commandLine += trustName::fixedInstallerSwitches;

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::filesystem::path currentDirectory = installerPath.parent_path();
  const BOOL created = CreateProcessW(installerPath.c_str(), commandLine.data(), nullptr, nullptr,
                                      FALSE, 0, nullptr, currentDirectory.c_str(), &startup, &info);
  ensure(created != FALSE, trustText::installerNotStarted);
  // Declared after the file, so both go before it on every path.
  UniqueHandleKernel thread(info.hThread);
  UniqueHandleKernel process(info.hProcess);

  ensure(WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0,
         trustText::installerWaitFailed);
  DWORD exitCode = 1;
  ensure(GetExitCodeProcess(process.get(), &exitCode) != FALSE,
         trustText::installerExitCodeUnavailable);
  process.reset();
  thread.reset();
  file.reset();
  return exitCode;
}
