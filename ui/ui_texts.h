#pragma once

// The progress window's own texts.
namespace uiText {
inline constexpr const wchar_t* windowClass = L"Kavori.VelmoraDownloader";
inline constexpr const wchar_t* windowTitle = L"NorvantaWinのインストール";
inline constexpr const wchar_t* initialStatus = L"NorvantaWinの最新版を確認しています...";
inline constexpr const wchar_t* cancelButton = L"キャンセル";
inline constexpr const wchar_t* cancelling = L"ダウンロードを中止しています...";
inline constexpr const wchar_t* restartRequired =
    L"インストールが完了しました。Windowsを再起動してください。";
inline constexpr const wchar_t* fontFace = L"Segoe UI";
inline constexpr const char* classNotRegistered = "画面を初期化できません。";
inline constexpr const char* windowNotCreated = "画面を作成できません。";
}  // namespace uiText
