#include "trust/installed_client.h"

#include <objbase.h>

#include <algorithm>
#include <string>

#include "common/ensure.h"
#include "common/text.h"
#include "trust/publisher_signature.h"
#include "trust/trust_texts.h"
#include "trust/version_resource.h"
#include "update/update_manifest.h"
#include "update/version_number.h"

namespace fs = std::filesystem;

namespace {

bool equalsIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return toLowerWide(left) == toLowerWide(right);
}

// ProductName, then Implementation; the second is read only when the first matched.
bool hasClientIdentity(const fs::path& path) {
  return readVersionString(path, trustName::productNameKey) == trustName::productName &&
         readVersionString(path, trustName::implementationKey) == trustName::clientImplementation;
}

}  // namespace

fs::path knownFolderPath(const KNOWNFOLDERID& folderId) {
  UniqueCoTaskText text;
  const HRESULT result = SHGetKnownFolderPath(folderId, 0, nullptr, text.put());
  ensure(result >= 0, trustText::userDirectoryUnavailable);
  return fs::path(std::wstring(text.get()));
}

fs::path installDirectory() {
  fs::path folder = knownFolderPath(FOLDERID_LocalAppData);
  folder /= trustName::vendorFolder;
  folder /= trustName::productFolder;
  return folder;
}

bool isTrustedClientPath(const fs::path& path) {
  if (!equalsIgnoringCase(path.filename().wstring(), clientExecutableName)) {
    return false;
  }
  const fs::path fixedLocation = installDirectory() / clientExecutableName;
  if (equalsIgnoringCase(path.wstring(), fixedLocation.wstring())) {
    return true;
  }
  return hasClientIdentity(path);
}

bool isInstallRequired(const nlohmann::json& manifest, const fs::path& clientFolder) {
  validateManifest(manifest);
  if (clientFolder.empty()) {
    return true;
  }
  const fs::path clientPath = clientFolder / clientExecutableName;
  if (!fs::exists(clientPath)) {
    return true;
  }
  ensure(fs::is_regular_file(clientPath) && hasClientIdentity(clientPath),
         trustText::clientNotIdentified);
  const std::string installed =
      wideToUtf8(readVersionString(clientPath, trustName::productVersionKey));
  ensure(std::count(installed.begin(), installed.end(), '.') == 3,
         trustText::clientVersionUnusable);
  return isNewerVersion(textField(manifest, "latestVersion"), installed);
}

UniqueHandleKernel openInstalledClient(const fs::path& clientFolder) {
  const fs::path clientPath = clientFolder / clientExecutableName;
  // Pins the file: no writer and no deletion until the process exists.
  UniqueHandleKernel file(CreateFileW(clientPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  ensure(file.valid() && isTrustedClientPath(clientPath) && verifyPublisherSignature(clientPath),
         trustText::clientNotTrusted);

  std::wstring commandLine = quoteArgument(clientPath.wstring());
  const fs::path currentDirectory = clientPath.parent_path();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(clientPath.c_str(), commandLine.data(), nullptr, nullptr,
                                      FALSE, 0, nullptr, currentDirectory.c_str(), &startup, &info);
  ensure(created != FALSE, trustText::clientNotStarted);
  UniqueHandleKernel process(info.hProcess);
  UniqueHandleKernel thread(info.hThread);
  AllowSetForegroundWindow(info.dwProcessId);
  thread.reset();
  file.reset();
  return process;
}
