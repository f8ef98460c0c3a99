#include "update/update_check.h"

#include <windows.h>

#include "common/ensure.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "trust/installed_client.h"
#include "trust/installer_verification.h"
#include "trust/trust_texts.h"
#include "update/https_transfer.h"
#include "update/update_manifest.h"
#include "update/update_texts.h"

namespace {

constexpr std::uint64_t manifestSizeLimit = 65536;
constexpr DWORD httpOk = 200;

}  // namespace

DownloadResult checkAndDownload(const std::wstring& origin, const WorkFolder& workFolder,
                                const StatusCallback& status, const CancelQuery& cancel,
                                const std::filesystem::path& clientFolder) {
  ensure(
      !origin.empty() && origin.find_first_of(L"?#") == std::wstring::npos && origin.back() != L'/',
      updateText::badOrigin);

  // Every status report is also a cancellation point.
  const auto reportStatus = [&](const wchar_t* text) {
    if (status) status(text);
    ensureNotCancelled(cancel);
  };

  reportStatus(checkStatus::checking);
  const TransferResult manifestResponse = fetchUrl(
      origin + utf8ToWide(std::string(servicePath::manifest)), {}, manifestSizeLimit, cancel);
  ensure(manifestResponse.statusCode == httpOk, updateText::manifestUnavailable);
  nlohmann::json manifest = nlohmann::json::parse(manifestResponse.body);

  if (!isInstallRequired(manifest, clientFolder)) {
    reportStatus(checkStatus::clientCurrent);
    return DownloadResult{{}, std::move(manifest)};
  }

  const std::filesystem::path installerPath = workFolder.path() / trustName::installerFileName;
  reportStatus(checkStatus::downloading);
  try {
    const std::wstring installerUrl = origin + utf8ToWide(textField(manifest, "downloadPath"));
    const TransferResult download =
        fetchUrl(installerUrl, installerPath,
                 static_cast<std::uint64_t>(manifestRule::maxSizeBytes), cancel);
    ensure(download.statusCode == httpOk, updateText::downloadFailed);

    reportStatus(checkStatus::verifying);
    // Readers only while the checks run: nobody may rewrite or delete it.
    UniqueHandleKernel pin(CreateFileW(installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    ensure(pin.valid(), updateText::cannotPin);
    verifyInstaller(manifest, installerPath);
    ensureNotCancelled(cancel);
    return DownloadResult{installerPath, std::move(manifest)};
  } catch (...) {
    // The pin has been closed by now; a missing file is no error here.
    DeleteFileW(installerPath.c_str());
    throw;
  }
}
