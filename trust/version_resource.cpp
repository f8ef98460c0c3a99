#include "trust/version_resource.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

// Sub-block paths are short; a name that does not fit reads as absent.
constexpr size_t subBlockCapacity = 256;

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
      translation == nullptr || translationLength < 4) {
    return {};
  }
  // Only the first language and code page pair counts; there is no fallback.
  const WORD* pair = static_cast<const WORD*>(translation);
  wchar_t subBlock[subBlockCapacity] = {};
  const int written = std::swprintf(subBlock, subBlockCapacity, L"\\StringFileInfo\\%04x%04x\\%ls",
                                    static_cast<unsigned>(pair[0]), static_cast<unsigned>(pair[1]),
                                    name.c_str());
  if (written < 0) {
    return {};
  }

  void* value = nullptr;
  UINT valueLength = 0;
  if (!VerQueryValueW(buffer.data(), subBlock, &value, &valueLength) || value == nullptr ||
      valueLength == 0) {
    return {};
  }
  const wchar_t* text = static_cast<const wchar_t*>(value);
  std::wstring result(text, std::wcsnlen(text, valueLength));
  while (!result.empty() && std::iswspace(static_cast<wint_t>(result.back()))) {
    result.pop_back();
  }
  return result;
}
