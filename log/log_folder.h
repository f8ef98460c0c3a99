#pragma once

#include <windows.h>

#include <filesystem>

#include "common/unique_handle.h"
#include "trust/work_folder.h"

// Where the log goes. An accepted ProgramData folder comes with `hold`, the
// folder kept open without delete sharing, so that nobody can rename,
// delete or replace it while the handle lives; the fallback folder, in the
// user's own profile, has none.
struct ResolvedLogFolder {
  std::filesystem::path path;
  UniqueHandleKernel hold;
};

// The log folder of this process, resolved on the first call; the folder
// stays held until the process ends.
std::filesystem::path logFolder();

// logFolder(), ready for a record. A held folder must still be the folder at
// its path: one that has vanished or been swapped is not made again (a new
// folder would not be held), so the record is lost instead. The fallback
// folder is made again when it is missing. Raises when there is no place.
std::filesystem::path preparedLogFolder();

// ProgramData \ Kavori \ Velmora \ <SID> when it can be made, held and
// checked, else LocalAppData \ Kavori \ Velmora \ logs.
ResolvedLogFolder resolveLogFolder(const CreateFolderCall& createFolder = CreateDirectoryW);

// Whether a folder with this security is private to `user`: owned by the
// user or by the token's default owner (for an elevated administrator, the
// Administrators group), with a DACL whose allow entries, explicit,
// inherited or for children only, name nobody but SYSTEM, Administrators and
// the user. Deny entries grant nothing and are not held against it. A
// missing or null DACL lets everyone in.
bool isPrivateFolderSecurity(PSECURITY_DESCRIPTOR descriptor, PSID user, PSID defaultOwner);
