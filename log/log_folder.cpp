#include "log/log_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/ensure.h"
#include "common/unique_handle.h"
#include "log/log_texts.h"
#include "trust/installed_client.h"
#include "trust/trust_texts.h"
#include "trust/work_folder.h"

namespace fs = std::filesystem;

namespace {

void ensureNoReparsePoint(const fs::path& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  ensure(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0,
         logText::folderUnsafe);
}

// Kavori and Velmora are shared by all users, and whoever made them owns
// them: a junction there would choose where our folder and files are made.
void ensureSharedParentsAreFolders(const fs::path& programData) {
  const fs::path vendor = programData / trustName::vendorFolder;
  ensureNoReparsePoint(vendor);
  ensureNoReparsePoint(vendor / trustName::productFolder);
}

BY_HANDLE_FILE_INFORMATION fileInformation(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  ensure(GetFileInformationByHandle(handle, &information) != FALSE, logText::folderUnsafe);
  return information;
}

bool isPlainDirectory(const BY_HANDLE_FILE_INFORMATION& information) {
  return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Asks for the entry itself, not what a link points at (Wine opens the
// target regardless, hence the checks by name).
UniqueHandleKernel openEntry(const fs::path& path, DWORD access, DWORD sharing) {
  UniqueHandleKernel handle(CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
  ensure(handle.valid(), logText::folderUnsafe);
  return handle;
}

// Without delete sharing nobody can open the folder to rename or delete it.
// The share mode binds others only while the holder has a data right, hence
// the listing right.
UniqueHandleKernel holdFolder(const fs::path& folder) {
  UniqueHandleKernel hold =
      openEntry(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                FILE_SHARE_READ | FILE_SHARE_WRITE);
  ensure(isPlainDirectory(fileInformation(hold.get())), logText::folderUnsafe);
  return hold;
}

// A SID of the process token: TokenUser's or TokenOwner's.
std::vector<BYTE> tokenSid(TOKEN_INFORMATION_CLASS kind) {
  UniqueHandleKernel token;
  ensure(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) != FALSE,
         logText::folderUnsafe);
  DWORD size = 0;
  // Only learns the size.
  GetTokenInformation(token.get(), kind, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  ensure(!buffer.empty() &&
             GetTokenInformation(token.get(), kind, buffer.data(), size, &size) != FALSE,
         logText::folderUnsafe);
  const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                     : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

// Read through the held handle, so that it is the held folder's own security.
void ensurePrivate(HANDLE folder) {
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  const DWORD error = GetSecurityInfo(folder, SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, descriptor.put());
  SetLastError(error);
  ensure(error == ERROR_SUCCESS, logText::folderUnsafe);
  std::vector<BYTE> user = tokenSid(TokenUser);
  std::vector<BYTE> defaultOwner = tokenSid(TokenOwner);
  ensure(isPrivateFolderSecurity(descriptor.get(), user.data(), defaultOwner.data()),
         logText::folderUnsafe);
}

// ProgramData \ Kavori \ Velmora \ <SID>, created with the work folder's
// protected descriptor, held, checked and proven writable. Raises on any
// doubt.
ResolvedLogFolder preferredLogFolder(const CreateFolderCall& createFolder) {
  const fs::path programData = knownFolderPath(FOLDERID_ProgramData);
  // Level by level, so that nothing is made through a link. The shared
  // parents inherit whatever their parents grant.
  fs::path base = programData;
  for (const wchar_t* name : {trustName::vendorFolder, trustName::productFolder}) {
    base /= name;
    fs::create_directories(base);
    ensureNoReparsePoint(base);
  }

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
  const BOOL created = createFolder(folder.c_str(), &attributes);
  // A present folder is taken only if the checks below find it ours alone.
  ensure(created != FALSE || GetLastError() == ERROR_ALREADY_EXISTS, logText::folderNotCreated);
  descriptor.reset();

  // By name as well: Wine opens what a link points at even when asked not
  // to, and its handle does not show the link.
  ensureNoReparsePoint(folder);
  UniqueHandleKernel hold = holdFolder(folder);
  // Again now that the folder is held: a parent swapped for a link since the
  // first look would have put our folder elsewhere.
  ensureSharedParentsAreFolders(programData);
  ensurePrivate(hold.get());

  // The process id keeps concurrent processes' probes apart; the file goes
  // with its handle, even if the process dies first.
  const fs::path probePath =
      folder / (std::wstring(logText::probePrefix) + std::to_wstring(GetCurrentProcessId()));
  const UniqueHandleKernel probe(
      CreateFileW(probePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ensure(probe.valid(), logText::folderNotWritable);
  return ResolvedLogFolder{folder, std::move(hold)};
}

const ResolvedLogFolder& processLogFolder() {
  // A throwing initialiser leaves the static unset, so the next call tries
  // again. Once set, it holds the folder until the process ends.
  static const ResolvedLogFolder folder = resolveLogFolder();
  return folder;
}

// Where the share mode is not honoured (or by someone who may ignore it) the
// held folder could still be renamed away and another put at its path.
void ensureStillHeld(const ResolvedLogFolder& folder) {
  const UniqueHandleKernel current = openEntry(
      folder.path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  const BY_HANDLE_FILE_INFORMATION now = fileInformation(current.get());
  const BY_HANDLE_FILE_INFORMATION held = fileInformation(folder.hold.get());
  ensure(isPlainDirectory(now) && now.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
             now.nFileIndexHigh == held.nFileIndexHigh && now.nFileIndexLow == held.nFileIndexLow,
         logText::folderUnsafe);
}

bool isAllowedTrustee(PSID trustee, PSID user) {
  return EqualSid(trustee, user) != FALSE || IsWellKnownSid(trustee, WinLocalSystemSid) != FALSE ||
         IsWellKnownSid(trustee, WinBuiltinAdministratorsSid) != FALSE;
}

}  // namespace

fs::path logFolder() { return processLogFolder().path; }

fs::path preparedLogFolder() {
  const ResolvedLogFolder& folder = processLogFolder();
  if (folder.hold.valid()) {
    ensureStillHeld(folder);
  } else {
    // In the user's own profile, what a new folder inherits is the user's.
    fs::create_directories(folder.path);
  }
  return folder.path;
}

ResolvedLogFolder resolveLogFolder(const CreateFolderCall& createFolder) {
  try {
    return preferredLogFolder(createFolder);
  } catch (...) {
    // Whatever went wrong there, the user's own folder will do.
  }
  fs::path folder = installDirectory() / logText::fallbackFolder;
  fs::create_directories(folder);
  return ResolvedLogFolder{folder, UniqueHandleKernel()};
}

bool isPrivateFolderSecurity(PSECURITY_DESCRIPTOR descriptor, PSID user, PSID defaultOwner) {
  PSID owner = nullptr;
  BOOL ownerDefaulted = FALSE;
  if (GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) == FALSE ||
      owner == nullptr) {
    return false;
  }
  if (EqualSid(owner, user) == FALSE &&
      (defaultOwner == nullptr || EqualSid(owner, defaultOwner) == FALSE)) {
    return false;
  }

  BOOL present = FALSE;
  PACL dacl = nullptr;
  BOOL daclDefaulted = FALSE;
  if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) == FALSE ||
      present == FALSE || dacl == nullptr) {
    return false;
  }
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (GetAce(dacl, index, &entry) == FALSE) {
      return false;
    }
    switch (static_cast<const ACE_HEADER*>(entry)->AceType) {
      case ACCESS_DENIED_ACE_TYPE:
      case ACCESS_DENIED_OBJECT_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        break;
      case ACCESS_ALLOWED_ACE_TYPE:
        // Inherit-only entries count too: they reach the log files.
        if (!isAllowedTrustee(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart, user)) {
          return false;
        }
        break;
      default:
        // Object, callback and compound allow entries: whom they let in is
        // not read here, so they are refused.
        return false;
    }
  }
  return true;
}
