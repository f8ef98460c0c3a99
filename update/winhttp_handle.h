#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/unique_handle.h"

// WinHTTP session, connection and request handles.
struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { WinHttpCloseHandle(value); }
};
using UniqueWinHttpHandle = UniqueHandle<WinHttpHandleTraits>;
