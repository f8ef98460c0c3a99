#include "log/log_folder.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>

#include "common/ensure.h"
#include "common/unique_handle.h"
#include "log/log_texts.h"
#include "trust/installed_client.h"
#include "trust/work_folder.h"

namespace fs = std::filesystem;

namespace {

// ProgramData \ Kavori \ Velmora \ <SID>, created with the work folder's
// protected descriptor and proven writable. Raises on any doubt.
fs::path preferredLogFolder() {
  const fs::path base =
      knownFolderPath(FOLDERID_ProgramData) / logText::vendorFolder / logText::productFolder;
  // The shared parents inherit whatever their parents grant.
  fs::create_directories(base);

  const std::wstring sid = currentUserSid();
  const fs::path folder = base / sid;

  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  const BOOL converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(
      folderSecurityDescriptor(sid).c_str(), SDDL_REVISION_1, descriptor.put(), nullptr);
  ensure(converted != FALSE, logText::descriptorRejected);

  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;
  const BOOL created = CreateDirectoryW(folder.c_str(), &attributes);
  // A folder from an earlier run is taken as it is.
  ensure(created != FALSE || GetLastError() == ERROR_ALREADY_EXISTS, logText::folderNotCreated);
  descriptor.reset();

  // A junction or symbolic link could point the log anywhere.
  const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
  ensure(folderAttributes != INVALID_FILE_ATTRIBUTES &&
             (folderAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0,
         logText::folderUnsafe);

  // The process id keeps concurrent processes' probes apart; the file goes
  // with its handle, even if the process dies first.
  const fs::path probePath =
      folder / (std::wstring(logText::probePrefix) + std::to_wstring(GetCurrentProcessId()));
  const UniqueHandleKernel probe(
      CreateFileW(probePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ensure(probe.valid(), logText::folderNotWritable);
  return folder;
}

}  // namespace

fs::path logFolder() {
  // A throwing initialiser leaves the static unset, so the next call tries again.
  static const fs::path folder = resolveLogFolder();
  return folder;
}

fs::path resolveLogFolder() {
  try {
    return preferredLogFolder();
  } catch (...) {
    // Whatever went wrong there, the user's own folder will do.
  }
  fs::path folder = installDirectory() / logText::fallbackFolder;
  fs::create_directories(folder);
  return folder;
}
