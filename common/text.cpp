#include "common/text.h"

#include <windows.h>

#include <climits>
#include <cwctype>
#include <stdexcept>

#include "common/ensure.h"

namespace {

int checkedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) {
    throw std::length_error("text too long");
  }
  return static_cast<int>(size);
}

}  // namespace

std::string wideToUtf8(const wchar_t* text, int length) {
  if (length == 0) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, nullptr, 0,
                                       nullptr, nullptr);
  ensure(size > 0, "Invalid Unicode text");
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring utf8ToWide(const char* text, int length) {
  if (length == 0) {
    return {};
  }
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
  ensure(size > 0, "Invalid UTF-8 text");
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, length, result.data(), size);
  return result;
}

std::string wideToUtf8(const std::wstring& text) {
  return wideToUtf8(text.data(), checkedLength(text.size()));
}

std::wstring utf8ToWide(const std::string& text) {
  return utf8ToWide(text.data(), checkedLength(text.size()));
}

std::wstring displayText(const std::string& utf8) {
  try {
    return utf8ToWide(utf8);
  } catch (const std::exception&) {
    // Without MB_ERR_INVALID_CHARS invalid bytes become U+FFFD.
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                          size);
    }
    return text;
  }
}

std::wstring toLowerWide(std::wstring text) {
  for (wchar_t& unit : text) {
    unit = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(unit)));
  }
  return text;
}

std::wstring quoteArgument(const std::wstring& text) {
  std::wstring result = L"\"";
  size_t backslashes = 0;
  for (const wchar_t unit : text) {
    if (unit == L'\\') {
      ++backslashes;
    } else if (unit == L'"') {
      result.append(2 * backslashes + 1, L'\\');
      result += L'"';
      backslashes = 0;
    } else {
      result.append(backslashes, L'\\');
      result += unit;
      backslashes = 0;
    }
  }
  result.append(2 * backslashes, L'\\');
  result += L'"';
  return result;
}
