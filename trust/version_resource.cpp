#include "trust/version_resource.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

// Bytes of the buffer from p to its end; 0 when p lies outside it. Lengths
// come from the file, which anyone who can write it may have forged.
size_t bytesAvailable(const std::vector<BYTE>& buffer, const void* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t end = begin + buffer.size();
  return at >= begin && at < end ? static_cast<size_t>(end - at) : 0;
}

}  // namespace

std::wstring readVersionString(const std::filesystem::path& path, const std::wstring& name) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) {
    return {};
  }
  std::vector<BYTE> buffer(size, 0);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) {
    return {};
  }

  void* translation = nullptr;
  UINT translationLength = 0;
  if (!VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &translation,
                      &translationLength) ||
      translationLength < 4 || bytesAvailable(buffer, translation) < 4) {
    return {};
  }
  // Only the first language and code page pair counts; there is no fallback.
  const WORD* pair = static_cast<const WORD*>(translation);
  // Eight hex digits always fit; the name is appended whole, whatever its length.
  wchar_t languageAndCodePage[9] = {};
  std::swprintf(languageAndCodePage, 9, L"%04x%04x", static_cast<unsigned>(pair[0]),
                static_cast<unsigned>(pair[1]));
  const std::wstring subBlock =
      L"\\StringFileInfo\\" + std::wstring(languageAndCodePage) + L"\\" + name;

  void* value = nullptr;
  UINT valueLength = 0;
  if (!VerQueryValueW(buffer.data(), subBlock.c_str(), &value, &valueLength) || valueLength == 0) {
    return {};
  }
  // The reported length normally counts the terminator; stop at the first NUL,
  // and never read past the buffer, whatever length the file claims.
  const size_t length =
      std::min<size_t>(valueLength, bytesAvailable(buffer, value) / sizeof(wchar_t));
  const wchar_t* text = static_cast<const wchar_t*>(value);
  std::wstring result(text, length);
  result.resize(std::min(result.find(L'\0'), result.size()));
  while (!result.empty() && std::iswspace(static_cast<wint_t>(result.back()))) {
    result.pop_back();
  }
  return result;
}
