#pragma once

// Texts of the update check: paths, the installer's file name, messages and
// the status lines shown in the progress window.
namespace checkText {
inline constexpr const char* manifestPath = "/rss/v2/client/client-updates/norvanta-win";
inline constexpr const wchar_t* installerFileName = L"NorvantaWinSetup.exe";

inline constexpr const char* badOrigin = "更新サーバーのURLが不正です。";
inline constexpr const char* manifestUnavailable =
    "更新サーバーに接続できませんでした。時間をおいて再実行してください。";
inline constexpr const char* downloadFailed = "NorvantaWinのダウンロードに失敗しました。";
inline constexpr const char* cannotPin = "インストーラを確認用に開けません。";
inline constexpr const char* cancelled = "ダウンロードを中止しました。";

inline constexpr const wchar_t* checking = L"NorvantaWinの最新版を確認しています...";
inline constexpr const wchar_t* clientCurrent = L"インストール済みのNorvantaWinは最新です。";
inline constexpr const wchar_t* downloading = L"NorvantaWinをダウンロードしています...";
inline constexpr const wchar_t* verifying = L"インストーラの署名と内容を確認しています...";
}  // namespace checkText
