#include "trust/work_folder.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <vector>

#include "common/ensure.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "trust/trust_texts.h"

WorkFolder::WorkFolder(const CreateFolderCall& createFolder) {
  const std::wstring name = trustName::workFolderPrefix + utf8ToWide(newGuidText());
  // Throws the library's "temp_directory_path" error when TMP/TEMP name no
  // existing directory; nothing has been created at that point.
  path_ = std::filesystem::temp_directory_path() / name;

  const std::wstring descriptorText = folderSecurityDescriptor(currentUserSid());
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  ensure(ConvertStringSecurityDescriptorToSecurityDescriptorW(
             descriptorText.c_str(), SDDL_REVISION_1, descriptor.put(), nullptr) != FALSE,
         trustText::folderSecurityUnavailable);

  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;
  const BOOL created = createFolder(path_.c_str(), &attributes);
  // Releasing the descriptor may touch the last error; report the creation's.
  const DWORD creationError = GetLastError();
  descriptor.reset();
  SetLastError(creationError);
  ensure(created != FALSE, trustText::workFolderNotCreated);
}

WorkFolder::~WorkFolder() {
  // Only the installer is ever written here; anything else keeps the folder.
  DeleteFileW((path_ / trustName::installerFileName).c_str());
  RemoveDirectoryW(path_.c_str());
}

std::string newGuidText() {
  GUID guid{};
  const HRESULT result = CoCreateGuid(&guid);
  ensure(result >= 0, trustText::guidUnavailable);
  wchar_t buffer[40] = {};
  StringFromGUID2(guid, buffer, 40);
  const std::string text = wideToUtf8(std::wstring(buffer));
  std::string digits;
  for (const char c : text) {
    if (c != '-' && c != '{' && c != '}') {
      digits += c;
    }
  }
  return digits;
}

std::wstring currentUserSid() {
  UniqueHandleKernel token;
  ensure(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) != FALSE,
         trustText::userTokenUnavailable);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size, 0);
  ensure(GetTokenInformation(token.get(), TokenUser, buffer.empty() ? nullptr : buffer.data(), size,
                             &size) != FALSE,
         trustText::userInformationInvalid);
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  UniqueLocalMemory<LPWSTR> sidText;
  ensure(ConvertSidToStringSidW(user->User.Sid, sidText.put()) != FALSE, trustText::userSidInvalid);
  return std::wstring(sidText.get());
}

std::wstring folderSecurityDescriptor(const std::wstring& sid) {
  return trustName::folderDescriptorPrefix + sid + L")";
}
