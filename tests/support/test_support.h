#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "test_config.h"

// Helpers shared by the Windows-side tests.
namespace testsupport {

std::filesystem::path binaryDir();
std::filesystem::path sourceDir();
std::filesystem::path pkiDir();
// The downloader under test: NORVANTA_DOWNLOADER_UNDER_TEST, else this build's.
std::filesystem::path downloaderPath();

// A time-out stretched by NORVANTA_TEST_TIME_SCALE (a whole factor, default
// 1) for a downloader that runs under emulation; waits below apply it.
std::chrono::milliseconds patient(std::chrono::milliseconds timeout);

// A fresh, empty folder under the build tree for one test.
std::filesystem::path freshTestFolder(const std::string& name);

// Linux path of a Windows path on Wine's Z: drive (Z:\a\b -> /a/b).
std::string unixPath(const std::filesystem::path& windowsPath);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::vector<std::string> readLines(const std::filesystem::path& path);

// Sets environment variables for the object's lifetime (NAME=VALUE; a
// missing "=" removes the variable), so that started processes inherit them.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::vector<std::wstring>& entries);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  struct Saved {
    std::wstring name;
    std::wstring value;
    bool existed;
  };
  std::vector<Saved> saved_;
};

// A started process; terminated if still running when the object goes.
class ChildProcess {
 public:
  // commandLine is passed as is; application may be empty. Environment
  // entries NAME=VALUE are added to (or override) this process's environment.
  ChildProcess(const std::wstring& application, const std::wstring& commandLine,
               const std::vector<std::wstring>& environment = {},
               const std::filesystem::path& currentDirectory = {});
  ChildProcess(ChildProcess&&) = default;
  ~ChildProcess();

  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }
  // The full 32-bit exit code; fails the test and returns 0xFFFFFFFF if the
  // process has not ended within the time-out.
  DWORD wait(std::chrono::milliseconds timeout = std::chrono::minutes(2));
  bool running() const;

 private:
  UniqueHandleKernel process_;
  DWORD id_ = 0;
};

// Runs the downloader with the given arguments (already quoted as needed) and
// returns its exit code.
DWORD runDownloader(const std::wstring& arguments,
                    const std::vector<std::wstring>& environment = {});

// Polls until the condition holds or the deadline passes; returns the last answer.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// What one protected-folder creation handed to the system.
struct HandedFolderCreation {
  std::wstring path;
  bool attributesGiven = false;
  DWORD length = 0;
  BOOL inheritHandle = TRUE;
  // The descriptor's owner, group and DACL as SDDL; empty when there was none.
  std::wstring descriptor;
};

// Stands in for CreateDirectoryW where a folder is made with a protected
// descriptor (Wine does not keep the descriptor, so the folder cannot tell):
// records what it is handed, then makes the folder with the same arguments.
std::function<BOOL(const wchar_t*, SECURITY_ATTRIBUTES*)> recordingCreateFolder(
    std::vector<HandedFolderCreation>& calls);

// Visible and hidden top-level windows that belong to a process.
std::vector<HWND> topLevelWindows(DWORD processId);
std::vector<HWND> childWindows(HWND parent);
std::wstring windowText(HWND window);
std::wstring windowClass(HWND window);

}  // namespace testsupport
