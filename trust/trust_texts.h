#pragma once

// The installer trust subsystem's own texts: messages and fixed names.
namespace trustText {

// Work folder.
inline constexpr const char* folderSecurityUnavailable = "保存先のアクセス権を設定できません。";
inline constexpr const char* workFolderNotCreated = "ダウンロード用フォルダを作成できません。";
inline constexpr const char* guidUnavailable = "Window identity unavailable";
inline constexpr const char* userTokenUnavailable = "ユーザー情報を取得できません";
inline constexpr const char* userInformationInvalid = "ユーザー情報が不正です";
inline constexpr const char* userSidInvalid = "ユーザーSIDが不正です";

// Hashing.
inline constexpr const char* hashUnavailable = "SHA256 unavailable";
inline constexpr const char* hashInitializationFailed = "SHA256 initialization failed";
inline constexpr const char* hashFailed = "SHA256 failed";
inline constexpr const char* fileNotHashable = "File could not be hashed";
inline constexpr const char* hashReadFailed = "File hash read failed";

// Installer verification.
inline constexpr const char* installerSizeMismatch = "インストーラのサイズが一致しません。";
inline constexpr const char* installerDigestMismatch = "インストーラのハッシュが一致しません。";
inline constexpr const char* installerSignatureRejected =
    "インストーラの発行元署名を確認できません。";
inline constexpr const char* installerProductMismatch =
    "インストーラの製品またはバージョンが一致しません。";

// Installer launch.
inline constexpr const char* installerNotOpened = "インストーラを開けません。";
inline constexpr const char* installerNotStarted =
    "NorvantaWinのインストールを開始できませんでした。";
inline constexpr const char* installerWaitFailed = "インストールの終了を確認できませんでした。";
inline constexpr const char* installerExitCodeUnavailable =
    "インストールの結果を取得できませんでした。";

// Installed client.
inline constexpr const char* userDirectoryUnavailable = "User directory unavailable";
inline constexpr const char* clientNotIdentified =
    "インストール済みのNorvantaWinを確認できません。";
inline constexpr const char* clientVersionUnusable =
    "インストール済みのバージョンを確認できません。";
inline constexpr const char* clientNotTrusted =
    "インストール済みのNorvantaWinの製品情報または発行元署名を確認できません。";
inline constexpr const char* clientNotStarted = "インストール済みのNorvantaWinを開けませんでした。";

}  // namespace trustText

// Fixed names and the version-resource strings that identify the products.
namespace trustName {
inline constexpr const wchar_t* workFolderPrefix = L"NorvantaWinDownloader-";
inline constexpr const wchar_t* installerFileName = L"NorvantaWinSetup.exe";
inline constexpr const wchar_t* folderDescriptorPrefix =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;";
inline constexpr const wchar_t* vendorFolder = L"Kavori";
inline constexpr const wchar_t* productFolder = L"Velmora";

inline constexpr const wchar_t* productNameKey = L"ProductName";
inline constexpr const wchar_t* fileDescriptionKey = L"FileDescription";
inline constexpr const wchar_t* productVersionKey = L"ProductVersion";
inline constexpr const wchar_t* implementationKey = L"Implementation";

inline constexpr const wchar_t* productName = L"NorvantaWin";
inline constexpr const wchar_t* installerDescription = L"NorvantaWin Setup";
inline constexpr const wchar_t* clientImplementation = L"Win32";

inline constexpr const wchar_t* verySilentSwitch = L" /VERYSILENT";
inline constexpr const wchar_t* silentSwitch = L" /SILENT";
inline constexpr const wchar_t* fixedInstallerSwitches = L" /SUPPRESSMSGBOXES /NORESTART /SP-";
}  // namespace trustName
