#pragma once

// The event log's own names and (never shown) failure texts.
namespace logText {
inline constexpr const wchar_t* fallbackFolder = L"logs";
inline constexpr const wchar_t* probePrefix = L".access-";

inline constexpr const wchar_t* currentLogFile = L"client.jsonl";
inline constexpr const wchar_t* previousLogFile = L"client.previous.jsonl";

inline constexpr const char* descriptorRejected = "ログのアクセス権が不正です";
inline constexpr const char* folderNotCreated = "ログフォルダを作成できません";
inline constexpr const char* folderUnsafe = "ログ保存先が不正です";
inline constexpr const char* folderNotWritable = "ログ保存先に書き込めません";
}  // namespace logText
