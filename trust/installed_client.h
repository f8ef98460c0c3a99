#pragma once

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/unique_handle.h"

inline constexpr const wchar_t* clientExecutableName = L"NorvantaWin.exe";

// Memory that the shell hands out with CoTaskMemAlloc (known-folder paths).
struct CoTaskMemoryTraits {
  using Type = PWSTR;
  static Type empty() noexcept { return nullptr; }
  static bool isValid(Type value) noexcept { return value != nullptr; }
  static void close(Type value) noexcept { CoTaskMemFree(value); }
};
using UniqueCoTaskText = UniqueHandle<CoTaskMemoryTraits>;

// Path of a Windows known folder; raises "User directory unavailable".
std::filesystem::path knownFolderPath(const KNOWNFOLDERID& folderId);

// LocalAppData \ Kavori \ Velmora (neither checked nor created).
std::filesystem::path installDirectory();

// The path names the client executable: at the fixed location, or elsewhere
// with the client's ProductName and Implementation strings.
bool isTrustedClientPath(const std::filesystem::path& path);

// Validates the manifest; true when the client is missing or older than its
// "latestVersion".
bool isInstallRequired(const nlohmann::json& manifest, const std::filesystem::path& clientFolder);

// Verifies the installed client (identity, publisher signature) and starts it
// with its folder as current directory. The caller owns the process handle.
UniqueHandleKernel openInstalledClient(const std::filesystem::path& clientFolder);
