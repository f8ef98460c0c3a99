// The platform floor for the benchmark: the Windows calls that the downloader
// makes on each of its two paths, back to back, with nothing of ours around
// them. bench/run times it against the downloader in the same run; the
// difference is the downloader's own overhead.
//
//   probe start                               process start-up and exit only
//   probe start-com                           start-up with the downloader's
//                                             start-up calls: COM (single-threaded
//                                             apartment), then the common controls
//   probe install MANIFEST_URL INSTALLER_URL DESTINATION
//                                             start-up calls, GET to memory, GET
//                                             to disk, twice SHA-256 and
//                                             WinVerifyTrust, run the installer
//                                             with the downloader's switches, wait
//                                             for it, delete the file
//   probe client MANIFEST_URL CLIENT_PATH     start-up calls, GET to memory,
//                                             version resource, WinVerifyTrust,
//                                             start the client
//
// Each phase prints "phase NAME SECONDS". A failure prints its reason and the
// last-error value and exits with 1; install mode otherwise exits with the
// installer's exit code.
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <objbase.h>
#include <softpub.h>
#include <wintrust.h>
#include <winhttp.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/probe_texts.h"
#include "common/ensure.h"
#include "common/text.h"
#include "common/unique_handle.h"
#include "trust/file_hash.h"
#include "trust/trust_texts.h"
#include "update/update_texts.h"
#include "update/winhttp_handle.h"

#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace {

// The downloader's own transfer settings, so that the floor pays for the
// same session set-up.
constexpr DWORD resolveTimeoutMs = 10000;
constexpr DWORD connectTimeoutMs = 10000;
constexpr DWORD sendTimeoutMs = 30000;
constexpr DWORD receiveTimeoutMs = 30000;
constexpr DWORD chunkBytes = 65536;
constexpr ULONG digestBytes = 32;

using Clock = std::chrono::steady_clock;

void printPhase(const char* name, Clock::time_point since) {
  const std::chrono::duration<double> elapsed = Clock::now() - since;
  std::printf("phase %s %.4f\n", name, elapsed.count());
  std::fflush(stdout);
}

// One GET with the downloader's session settings; the body goes to the file
// when one is given, otherwise into the returned text.
std::string httpGet(const std::wstring& url, const std::wstring& destination) {
  std::vector<wchar_t> host(url.size() + 1), path(url.size() + 1);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  ensure(WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) != FALSE,
         probeText::urlUnusable);

  const UniqueWinHttpHandle session(WinHttpOpen(transferSetting::userAgent,
                                                WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  ensure(session.valid(), probeText::sessionFailed);
  WinHttpSetTimeouts(session.get(), resolveTimeoutMs, connectTimeoutMs, sendTimeoutMs,
                     receiveTimeoutMs);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  ensure(WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols)) != FALSE,
         probeText::tlsFailed);
  const std::wstring hostName(host.data(), parts.dwHostNameLength);
  const std::wstring target(path.data(), parts.dwUrlPathLength);
  const UniqueWinHttpHandle connection(
      WinHttpConnect(session.get(), hostName.c_str(), parts.nPort, 0));
  ensure(connection.valid(), probeText::connectFailed);
  const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  const UniqueWinHttpHandle request(WinHttpOpenRequest(connection.get(), transferSetting::verb,
                                                       target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                       WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  ensure(request.valid(), probeText::requestFailed);
  DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                   sizeof(redirectPolicy));
  ensure(WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE &&
             WinHttpReceiveResponse(request.get(), nullptr) != FALSE,
         probeText::noResponse);
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  ensure(WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX) != FALSE,
         probeText::statusUnreadable);
  SetLastError(status);
  ensure(status == HTTP_STATUS_OK, probeText::statusNotOk);

  UniqueHandleKernel file;
  if (!destination.empty()) {
    file.reset(CreateFileW(destination.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ensure(file.valid(), probeText::destinationFailed);
  }
  std::string body;
  std::vector<char> buffer(chunkBytes);
  DWORD received = 0;
  do {
    received = 0;
    ensure(WinHttpReadData(request.get(), buffer.data(), chunkBytes, &received) != FALSE,
           probeText::readFailed);
    if (file) {
      DWORD written = 0;
      ensure(WriteFile(file.get(), buffer.data(), received, &written, nullptr) != FALSE &&
                 written == received,
             probeText::writeFailed);
    } else {
      body.append(buffer.data(), received);
    }
  } while (received > 0);
  return body;
}

std::string sha256OfFile(const std::wstring& path) {
  UniqueHandle<BCryptAlgorithmTraits> algorithm;
  UniqueHandle<BCryptHashTraits> hash;
  ensure(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
             BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0) >= 0,
         probeText::hashFailed);
  const UniqueHandleKernel file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ensure(file.valid(), probeText::fileNotOpened);
  std::vector<UCHAR> buffer(chunkBytes);
  DWORD read = 0;
  do {
    ensure(ReadFile(file.get(), buffer.data(), chunkBytes, &read, nullptr) != FALSE,
           probeText::fileReadFailed);
    ensure(BCryptHashData(hash.get(), buffer.data(), read, 0) >= 0, probeText::hashFailed);
  } while (read > 0);
  UCHAR digest[digestBytes] = {};
  ensure(BCryptFinishHash(hash.get(), digest, digestBytes, 0) >= 0, probeText::hashFailed);
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (const UCHAR byte : digest) {
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
  }
  return text;
}

// WinVerifyTrust as the downloader calls it: verify, then always release.
void verifySignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwUIContext = WTD_UICONTEXT_EXECUTE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(nullptr, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  SetLastError(static_cast<DWORD>(status));
  ensure(status == ERROR_SUCCESS, probeText::signatureRejected);
}

std::wstring productVersionOf(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ensure(size != 0, probeText::versionUnreadable);
  std::vector<BYTE> buffer(size);
  ensure(GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()) != FALSE,
         probeText::versionUnreadable);
  void* translation = nullptr;
  UINT translationLength = 0;
  ensure(VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &translation,
                        &translationLength) != FALSE &&
             translationLength >= 4,
         probeText::versionUnreadable);
  const WORD* pair = static_cast<const WORD*>(translation);
  wchar_t subBlock[128] = {};
  std::swprintf(subBlock, 128, L"\\StringFileInfo\\%04x%04x\\ProductVersion",
                static_cast<unsigned>(pair[0]), static_cast<unsigned>(pair[1]));
  void* value = nullptr;
  UINT valueLength = 0;
  ensure(VerQueryValueW(buffer.data(), subBlock, &value, &valueLength) != FALSE,
         probeText::versionUnreadable);
  return std::wstring(static_cast<const wchar_t*>(value), valueLength);
}

// Starts the program with its own folder as current directory; returns the
// owned process handle.
UniqueHandleKernel startProcess(const std::wstring& program, std::wstring commandLine) {
  const std::wstring folder = std::filesystem::path(program).parent_path().wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ensure(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &info) != FALSE,
         probeText::processNotStarted);
  UniqueHandleKernel process(info.hProcess);
  const UniqueHandleKernel thread(info.hThread);
  return process;
}

// The downloader's start-up calls: COM in a single-threaded apartment, then
// the common controls. Returns CoInitializeEx's result.
HRESULT startUpCalls() {
  Clock::time_point start = Clock::now();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  printPhase(probeText::phaseCom, start);
  start = Clock::now();
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
  printPhase(probeText::phaseControls, start);
  return com;
}

int installPath(const std::wstring& manifestUrl, const std::wstring& installerUrl,
                const std::wstring& destination) {
  Clock::time_point start = Clock::now();
  httpGet(manifestUrl, {});
  printPhase(probeText::phaseManifest, start);
  start = Clock::now();
  httpGet(installerUrl, destination);
  printPhase(probeText::phaseDownload, start);
  // Verified twice, as the downloader does: after the download and again
  // right before the installer is started.
  for (int round = 0; round < 2; ++round) {
    start = Clock::now();
    sha256OfFile(destination);
    printPhase(probeText::phaseHash, start);
    start = Clock::now();
    verifySignature(destination);
    printPhase(probeText::phaseVerify, start);
  }
  start = Clock::now();
  DWORD exitCode = 1;
  {
    const UniqueHandleKernel installer =
        startProcess(destination, quoteArgument(destination) + trustName::verySilentSwitch +
                                      trustName::fixedInstallerSwitches);
    ensure(WaitForSingleObject(installer.get(), INFINITE) == WAIT_OBJECT_0, probeText::waitFailed);
    ensure(GetExitCodeProcess(installer.get(), &exitCode) != FALSE, probeText::waitFailed);
  }
  printPhase(probeText::phaseLaunch, start);
  start = Clock::now();
  ensure(DeleteFileW(destination.c_str()) != FALSE, probeText::removeFailed);
  printPhase(probeText::phaseRemove, start);
  return static_cast<int>(exitCode);
}

int clientPath(const std::wstring& url, const std::wstring& client) {
  Clock::time_point start = Clock::now();
  httpGet(url, {});
  printPhase(probeText::phaseManifest, start);
  start = Clock::now();
  productVersionOf(client);
  printPhase(probeText::phaseVersion, start);
  start = Clock::now();
  verifySignature(client);
  printPhase(probeText::phaseVerify, start);
  start = Clock::now();
  startProcess(client, quoteArgument(client));
  printPhase(probeText::phaseLaunch, start);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == probeText::modeStart && argc == 2) {
      return 0;
    }
    const bool known = (mode == probeText::modeStartCom && argc == 2) ||
                       (mode == probeText::modeInstall && argc == 5) ||
                       (mode == probeText::modeClient && argc == 4);
    if (!known) {
      std::fwprintf(stderr, L"%ls", probeText::usage);
      return 2;
    }
    const HRESULT com = startUpCalls();
    int result = 0;
    if (mode == probeText::modeInstall) {
      result = installPath(argv[2], argv[3], argv[4]);
    } else if (mode == probeText::modeClient) {
      result = clientPath(argv[2], argv[3]);
    }
    if (SUCCEEDED(com)) {
      CoUninitialize();
    }
    return result;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "probe: %s\n", failure.what());
    return 1;
  }
}
