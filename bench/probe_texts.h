#pragma once

// The benchmark probe's own texts: its modes, what it prints and why it fails.
namespace probeText {
inline constexpr const wchar_t* modeStart = L"start";
inline constexpr const wchar_t* modeStartCom = L"start-com";
inline constexpr const wchar_t* modeInstall = L"install";
inline constexpr const wchar_t* modeClient = L"client";
inline constexpr const wchar_t* usage =
    L"usage: probe start\n"
    L"       probe start-com\n"
    L"       probe install MANIFEST_URL INSTALLER_URL DESTINATION_FILE\n"
    L"       probe client MANIFEST_URL CLIENT_PATH\n";

// Each phase prints "phase NAME SECONDS" on its own line.
inline constexpr const char* phaseDownload = "download";
inline constexpr const char* phaseManifest = "manifest";
inline constexpr const char* phaseHash = "hash";
inline constexpr const char* phaseVerify = "verify";
inline constexpr const char* phaseVersion = "version";
inline constexpr const char* phaseLaunch = "launch";
inline constexpr const char* phaseRemove = "remove";
inline constexpr const char* phaseCom = "com";
inline constexpr const char* phaseControls = "controls";

inline constexpr const char* urlUnusable = "URL could not be split";
inline constexpr const char* sessionFailed = "WinHttpOpen failed";
inline constexpr const char* tlsFailed = "TLS settings refused";
inline constexpr const char* connectFailed = "WinHttpConnect failed";
inline constexpr const char* requestFailed = "WinHttpOpenRequest failed";
inline constexpr const char* noResponse = "no response";
inline constexpr const char* statusUnreadable = "status code unreadable";
inline constexpr const char* statusNotOk = "status other than 200";
inline constexpr const char* readFailed = "WinHttpReadData failed";
inline constexpr const char* destinationFailed = "destination could not be created";
inline constexpr const char* writeFailed = "WriteFile failed";
inline constexpr const char* fileNotOpened = "file could not be opened";
inline constexpr const char* fileReadFailed = "ReadFile failed";
inline constexpr const char* hashFailed = "BCrypt SHA-256 failed";
inline constexpr const char* signatureRejected = "WinVerifyTrust refused the file";
inline constexpr const char* versionUnreadable = "version resource unreadable";
inline constexpr const char* processNotStarted = "CreateProcessW failed";
inline constexpr const char* waitFailed = "waiting for the process failed";
inline constexpr const char* removeFailed = "DeleteFileW failed";
}  // namespace probeText
