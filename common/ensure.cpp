#include "common/ensure.h"

#include <windows.h>

#include <stdexcept>

void ensure(bool ok, const std::string& message) {
  if (ok) {
    return;
  }
  // Read first: any allocation below may change the thread's last error.
  const DWORD code = GetLastError();
  throw std::runtime_error(message + " (" + std::to_string(code) + ")");
}
