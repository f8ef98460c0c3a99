#include <windows.h>

#include <filesystem>
#include <string>

#include "app/app_texts.h"
#include "app/download_window.h"
#include "build_config.h"
#include "common/ensure.h"
#include "common/text.h"
#include "log/event_log.h"
#include "trust/installed_client.h"
#include "trust/installer_launch.h"
#include "trust/work_folder.h"
#include "update/update_check.h"
#include "update/update_manifest.h"

namespace {

// The update server origin, as narrow text for the log and wide for requests.
constexpr const char* updateServerOrigin = NORVANTA_UPDATE_SERVER_ORIGIN;
constexpr const wchar_t* updateServerOriginWide = L"" NORVANTA_UPDATE_SERVER_ORIGIN;

constexpr DWORD cancelledExitCode = ERROR_CANCELLED;
constexpr DWORD restartExitCode = ERROR_SUCCESS_REBOOT_REQUIRED;

// A failure text fit for the log: unchanged when it is UTF-8, otherwise the
// repaired form that the user is shown, so the record is not lost.
std::string loggableText(const std::string& text, const std::wstring& shown) {
  try {
    utf8ToWide(text);
    return text;
  } catch (const std::exception&) {
    return wideToUtf8(shown);
  }
}

}  // namespace

void DownloadWindow::perform(bool silent) {
  try {
    writeEvent(eventName::started, {{"server", updateServerOrigin}});
    WorkFolder workFolder;
    const std::filesystem::path clientFolder = installDirectory();

    DownloadResult result;
    {
      const StatusCallback status = [this, silent](std::wstring text) {
        if (!silent) postStatus(std::move(text));
      };
      const CancelQuery cancel = [this] { return cancelRequested.load(); };
      result = checkAndDownload(updateServerOriginWide, workFolder, status, cancel, clientFolder);
    }

    // The decision is made again right before anything is run.
    if (!result.installerPath.empty() && isInstallRequired(result.manifest, clientFolder)) {
      DWORD installerExitCode = 1;
      {
        const BeforeInstallHook hook = [this, silent] {
          ensure(!cancelRequested.load(), runText::cancelled);
          installing.exchange(true);
          if (!silent) postStatus(runText::installing);
        };
        installerExitCode = runInstaller(result, silent, hook);
      }
      exitCode = installerExitCode;
      writeEvent(eventName::setupFinished,
                 {{"exitCode", installerExitCode},
                  {"version", textField(result.manifest, "latestVersion")}});
      if (installerExitCode != 0 && installerExitCode != restartExitCode) {
        message = runText::installIncomplete + std::to_wstring(installerExitCode);
      }
    } else {
      writeEvent(eventName::setupNotRequired,
                 {{"publishedVersion", textField(result.manifest, "latestVersion")}});
      ensure(!cancelRequested.load(), runText::cancelled);
      if (!silent) postStatus(runText::openingClient);
      openInstalledClient(clientFolder).reset();  // never waited for
      writeEvent(eventName::guiOpenRequested, nlohmann::json::object());
      exitCode = 0;
    }
  } catch (const std::exception& failure) {
    // Any failure after a cancel request counts as the cancellation.
    exitCode = cancelRequested.load() ? cancelledExitCode : 1;
    const std::string text = failure.what();
    message = displayText(text);
    try {
      writeEvent(eventName::failed,
                 {{"message", loggableText(text, message)}, {"exitCode", exitCode}});
    } catch (const std::exception&) {
      // Only a failed lock of the log's mutex gets here; the run still ends.
    }
  }
  if (!silent) {
    PostMessageW(window, WM_DOWNLOAD_DONE, 0, 0);
  }
}
