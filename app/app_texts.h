#pragma once

// The start-up's own texts.
namespace appText {
inline constexpr const char* argumentsUnavailable = "起動引数を取得できません。";
inline constexpr const char* argumentRejected = "指定された起動引数は使用できません。";
inline constexpr const wchar_t* windowTitle = L"NorvantaWinのインストール";
}  // namespace appText

namespace switchText {
inline constexpr const wchar_t* silent = L"/silent";
inline constexpr const wchar_t* verySilent = L"/verysilent";
inline constexpr const wchar_t* showUi = L"/showui";
}  // namespace switchText
