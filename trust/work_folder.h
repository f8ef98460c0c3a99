#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

// The call that makes a protected folder (CreateDirectoryW). Tests put their
// own in its place to see what reaches the system, since Wine does not keep
// the descriptor it is given.
using CreateFolderCall = std::function<BOOL(const wchar_t* path, SECURITY_ATTRIBUTES* attributes)>;

// The run's private download folder: temp \ "NorvantaWinDownloader-" + GUID,
// created with a protected DACL (SYSTEM, Administrators, the user). The
// destructor deletes the installer file and removes the folder, silently.
class WorkFolder {
 public:
  explicit WorkFolder(const CreateFolderCall& createFolder = CreateDirectoryW);
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// 32 upper-case hexadecimal digits of a fresh GUID.
std::string newGuidText();

// SID string of the process token's user.
std::wstring currentUserSid();

// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + ")"
std::wstring folderSecurityDescriptor(const std::wstring& sid);
