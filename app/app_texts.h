#pragma once

// The start-up's own texts.
namespace appText {
inline constexpr const char* argumentsUnavailable = "起動引数を取得できません。";
inline constexpr const char* argumentRejected = "指定された起動引数は使用できません。";
inline constexpr const wchar_t* windowTitle = L"NorvantaWinのインストール";
}  // namespace appText

// The update run's texts and event names.
namespace runText {
inline constexpr const char* cancelled = "ダウンロードを中止しました。";
inline constexpr const wchar_t* installing = L"NorvantaWinをインストールしています...";
inline constexpr const wchar_t* openingClient = L"インストール済みのNorvantaWinを開いています...";
inline constexpr const wchar_t* installIncomplete =
    L"インストールが完了しませんでした。終了コード: ";
}  // namespace runText

namespace eventName {
inline constexpr const char* started = "downloader_started";
inline constexpr const char* setupNotRequired = "downloader_setup_not_required";
inline constexpr const char* guiOpenRequested = "downloader_gui_open_requested";
inline constexpr const char* setupFinished = "downloader_setup_finished";
inline constexpr const char* failed = "downloader_failed";
}  // namespace eventName

namespace switchText {
inline constexpr const wchar_t* silent = L"/silent";
inline constexpr const wchar_t* verySilent = L"/verysilent";
inline constexpr const wchar_t* showUi = L"/showui";
}  // namespace switchText
