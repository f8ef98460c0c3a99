#include "app/startup.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <stdexcept>

#include "app/app_texts.h"
#include "app/download_window.h"
#include "common/ensure.h"
#include "common/text.h"
#include "common/unique_handle.h"

void applyArguments(const std::vector<std::wstring>& arguments, bool& silent) {
  for (const std::wstring& argument : arguments) {
    const std::wstring lowered = toLowerWide(argument);
    if (lowered == switchText::silent || lowered == switchText::verySilent) {
      silent = true;
    } else if (lowered == switchText::showUi) {
      silent = false;
    } else {
      // Raised directly: this message carries no last-error suffix.
      throw std::runtime_error(appText::argumentRejected);
    }
  }
}

std::vector<std::wstring> commandLineArguments() {
  int count = 0;
  UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  ensure(argv.valid(), appText::argumentsUnavailable);
  std::vector<std::wstring> arguments;
  for (int index = 1; index < count; ++index) {
    arguments.emplace_back(argv.get()[index]);
  }
  return arguments;
}

int startDownloader(HINSTANCE instance) {
  bool silent = true;
  try {
    applyArguments(commandLineArguments(), silent);

    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    auto downloadWindow = std::make_unique<DownloadWindow>();
    int exitCode = 0;
    if (silent) {
      downloadWindow->perform(true);
      exitCode = static_cast<int>(downloadWindow->exitCode);
    } else {
      exitCode = downloadWindow->run(instance);
    }
    if (SUCCEEDED(com)) {
      CoUninitialize();
    }
    downloadWindow.reset();
    return exitCode;
  } catch (const std::exception& failure) {
    if (!silent) {
      MessageBoxW(nullptr, displayText(failure.what()).c_str(), appText::windowTitle,
                  MB_OK | MB_ICONERROR);
    }
    return 1;
  }
}
