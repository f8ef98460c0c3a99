#pragma once

#include <windows.h>

#include "app/callbacks.h"
#include "update/download_result.h"

// Pins and re-verifies the installer, calls hook, starts it with the quiet
// switches, waits without limit and returns its exit code.
DWORD runInstaller(const DownloadResult& download, bool verySilent, const BeforeInstallHook& hook);
