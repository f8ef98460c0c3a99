#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

// Helpers shared by the installer-trust tests.
namespace trusttest {

// The message of the std::exception that action raises; "" when it raises none.
std::string failureOf(const std::function<void()>& action);

// message + " (" + decimal code + ")", the form every ensure failure takes.
bool isEnsureFailure(const std::string& what, const std::string& message);

// The decimal code in the " (N)" suffix; 0xFFFFFFFF when there is none.
DWORD ensureCode(const std::string& what);

// A manifest that announces the file as it is on disk, with the given version.
nlohmann::json manifestFor(const std::filesystem::path& file, const std::string& version);

// Copies a fixture into folder under the given file name and returns the copy.
std::filesystem::path copyFixture(const wchar_t* fixture, const std::filesystem::path& folder,
                                  const std::wstring& name);

// The JSON lines that a fixture program appended to file; empty when none.
std::vector<nlohmann::json> readRecords(const std::filesystem::path& file);

// The helper program that opens, deletes or holds files from another process.
std::wstring fileProbePath();

// Runs the probe once ("read", "write" or "delete" on path) and returns the
// Win32 error it met, 0 on success.
DWORD probeFromOtherProcess(const std::string& operation, const std::filesystem::path& path);

// Another process that holds path open with the given access and sharing
// until the object goes.
class HeldElsewhere {
 public:
  HeldElsewhere(const std::filesystem::path& path, DWORD access, DWORD share);
  bool holding() const { return holding_; }

 private:
  std::filesystem::path ready_;
  testsupport::ChildProcess process_;
  bool holding_ = false;
};

// Runs a Linux command (Wine's Z: drive is the Linux root) and waits for it.
void runUnixCommand(const std::wstring& commandLine);

}  // namespace trusttest
