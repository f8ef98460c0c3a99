#pragma once

// The update service client's own texts.
namespace updateText {
// Version numbers and the manifest.
inline constexpr const char* invalidVersion = "Invalid version";
inline constexpr const char* notAvailable = "NorvantaWinのインストーラは現在配布されていません。";
inline constexpr const char* otherProduct = "別製品の配布情報は使用できません。";
inline constexpr const char* badVersion = "配布バージョンが不正です。";
inline constexpr const char* badDigest = "配布ファイルのハッシュ情報が不正です。";
inline constexpr const char* badSize = "配布サイズが不正です。";
inline constexpr const char* sizeOverLimit = "配布サイズが上限を超えています。";
inline constexpr const char* pathNotAllowed = "許可されていないダウンロード先です。";

// The HTTPS transfer.
inline constexpr const char* cancelled = "ダウンロードを中止しました。";
inline constexpr const char* badUrl = "ダウンロードURLが不正です";
inline constexpr const char* httpsRequired = "更新の取得にはHTTPSが必要です";
inline constexpr const char* sessionFailed = "通信を初期化できません";
inline constexpr const char* tlsFailed = "TLSを初期化できません";
inline constexpr const char* connectFailed = "更新サーバーに接続できません";
inline constexpr const char* requestFailed = "更新を要求できません";
inline constexpr const char* noResponse = "更新サーバーから応答がありません";
inline constexpr const char* badStatus = "HTTP応答が不正です";
inline constexpr const char* cannotOpenFile = "更新ファイルを保存できません";
inline constexpr const char* receiveFailed = "更新ファイルの受信に失敗しました";
inline constexpr const char* overLimit = "更新ファイルが上限を超えました";
inline constexpr const char* saveFailed = "更新ファイルの保存に失敗しました";

// The update check.
inline constexpr const char* badOrigin = "更新サーバーのURLが不正です。";
inline constexpr const char* manifestUnavailable =
    "更新サーバーに接続できませんでした。時間をおいて再実行してください。";
inline constexpr const char* downloadFailed = "NorvantaWinのダウンロードに失敗しました。";
inline constexpr const char* cannotPin = "インストーラを確認用に開けません。";
}  // namespace updateText

// Status lines of the update check, shown in the progress window.
namespace checkStatus {
inline constexpr const wchar_t* checking = L"NorvantaWinの最新版を確認しています...";
inline constexpr const wchar_t* clientCurrent = L"インストール済みのNorvantaWinは最新です。";
inline constexpr const wchar_t* downloading = L"NorvantaWinをダウンロードしています...";
inline constexpr const wchar_t* verifying = L"インストーラの署名と内容を確認しています...";
}  // namespace checkStatus

// Where the update service keeps its two files, and the installer's name in
// the work folder.
namespace servicePath {
inline constexpr const char* manifest = "/rss/v2/client/client-updates/norvanta-win";
}  // namespace servicePath

namespace transferSetting {
inline constexpr const wchar_t* userAgent = L"NorvantaWin/2";
inline constexpr const wchar_t* verb = L"GET";
// Plain HTTP is allowed only to these host texts, exactly as written.
inline constexpr const wchar_t* loopbackAddress = L"127.0.0.1";
inline constexpr const wchar_t* loopbackName = L"localhost";
}  // namespace transferSetting
