#pragma once

#include <filesystem>
#include <string>

#include "app/callbacks.h"
#include "trust/work_folder.h"
#include "update/download_result.h"

// Fetches the manifest from origin, decides with isInstallRequired and, when
// an install is needed, downloads the installer into the work folder and
// verifies it. Status reports are cancellation points.
DownloadResult checkAndDownload(const std::wstring& origin, const WorkFolder& workFolder,
                                const StatusCallback& status, const CancelQuery& cancel,
                                const std::filesystem::path& clientFolder);
