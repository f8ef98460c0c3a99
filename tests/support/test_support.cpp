#include "test_support.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <cwchar>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {

namespace fs = std::filesystem;

fs::path binaryDir() { return fs::path(NORVANTA_TEST_BINARY_DIR); }
fs::path sourceDir() { return fs::path(NORVANTA_TEST_SOURCE_DIR); }
fs::path pkiDir() { return fs::path(NORVANTA_TEST_PKI_DIR); }
fs::path downloaderPath() {
  // The 32-bit product runs these tests with the 64-bit build's helpers where
  // the machine cannot execute 32-bit code natively.
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"NORVANTA_DOWNLOADER_UNDER_TEST", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    return fs::path(path).make_preferred();
  }
  return binaryDir() / L"NorvantaWinDownloader.exe";
}

std::chrono::milliseconds patient(std::chrono::milliseconds timeout) {
  wchar_t text[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"NORVANTA_TEST_TIME_SCALE", text, 16);
  const unsigned long scale = length > 0 && length < 16 ? std::wcstoul(text, nullptr, 10) : 1;
  return timeout * static_cast<long>(scale > 0 ? scale : 1);
}

fs::path freshTestFolder(const std::string& name) {
  const fs::path folder = binaryDir() / L"test-work" / fs::u8path(name);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  return folder;
}

std::string unixPath(const fs::path& windowsPath) {
  std::string text = windowsPath.u8string();
  if (text.size() >= 2 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':') {
    text.erase(0, 2);
  }
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path());
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> readLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

ScopedEnvironment::ScopedEnvironment(const std::vector<std::wstring>& entries) {
  for (const std::wstring& entry : entries) {
    const size_t equals = entry.find(L'=');
    const std::wstring name = entry.substr(0, equals);
    std::vector<wchar_t> old(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(name.c_str(), old.data(), 32768);
    saved_.push_back({name, std::wstring(old.data(), length), length != 0});
    SetEnvironmentVariableW(
        name.c_str(), equals == std::wstring::npos ? nullptr : entry.substr(equals + 1).c_str());
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    SetEnvironmentVariableW(it->name.c_str(), it->existed ? it->value.c_str() : nullptr);
  }
}

ChildProcess::ChildProcess(const std::wstring& application, const std::wstring& commandLine,
                           const std::vector<std::wstring>& environment,
                           const fs::path& currentDirectory) {
  ScopedEnvironment scoped(environment);
  std::wstring buffer = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const BOOL ok = CreateProcessW(
      application.empty() ? nullptr : application.c_str(), buffer.data(), nullptr, nullptr, FALSE,
      0, nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &info);
  if (!ok) {
    ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
    return;
  }
  process_.reset(info.hProcess);
  UniqueHandleKernel thread(info.hThread);
  id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 0xDEAD);
    WaitForSingleObject(process_.get(), 5000);
  }
}

DWORD ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (!process_) {
    return 0xFFFFFFFF;
  }
  if (WaitForSingleObject(process_.get(), static_cast<DWORD>(patient(timeout).count())) !=
      WAIT_OBJECT_0) {
    ADD_FAILURE() << "process " << id_ << " did not end in time";
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

bool ChildProcess::running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD runDownloader(const std::wstring& arguments, const std::vector<std::wstring>& environment) {
  const std::wstring exe = downloaderPath().wstring();
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) {
    commandLine += L" " + arguments;
  }
  ChildProcess child(exe, commandLine, environment);
  return child.wait();
}

std::function<BOOL(const wchar_t*, SECURITY_ATTRIBUTES*)> recordingCreateFolder(
    std::vector<HandedFolderCreation>& calls) {
  return [&calls](const wchar_t* path, SECURITY_ATTRIBUTES* attributes) {
    HandedFolderCreation call;
    call.path = path;
    if (attributes != nullptr) {
      call.attributesGiven = true;
      call.length = attributes->nLength;
      call.inheritHandle = attributes->bInheritHandle;
      if (attributes->lpSecurityDescriptor != nullptr) {
        UniqueLocalMemory<LPWSTR> text;
        EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            text.put(), nullptr));
        call.descriptor = text.get() != nullptr ? text.get() : L"";
      }
    }
    calls.push_back(call);
    return CreateDirectoryW(path, attributes);
  };
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + patient(timeout);
  while (true) {
    if (condition()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

namespace {

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK collectProcessWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId) {
    search->found.push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK collectChildWindow(HWND window, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(&collectProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> childWindows(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, &collectChildWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::wstring windowText(HWND window) {
  // WM_GETTEXT is marshalled across processes, unlike GetWindowTextW for controls.
  wchar_t text[1024] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 5000, &length)) {
    return {};
  }
  return std::wstring(text, static_cast<size_t>(length));
}

std::wstring windowClass(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace testsupport
