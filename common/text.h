#pragma once

#include <string>

// UTF-16 <-> UTF-8. Lengths are in units of the source; the source need not
// be terminated. Invalid input raises "Invalid Unicode text" or
// "Invalid UTF-8 text" through ensure.
std::string wideToUtf8(const wchar_t* text, int length);
std::wstring utf8ToWide(const char* text, int length);

std::string wideToUtf8(const std::wstring& text);
std::wstring utf8ToWide(const std::string& text);

// A failure text for display. Texts that are not valid UTF-8 are shown with
// the offending bytes replaced by U+FFFD rather than lost.
std::wstring displayText(const std::string& utf8);

// Lower-cases with towlower in the classic locale: only A-Z change.
std::wstring toLowerWide(std::wstring text);

// Quotes a program path so that CommandLineToArgvW yields it unchanged as one
// argument.
std::wstring quoteArgument(const std::wstring& text);
