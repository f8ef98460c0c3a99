#pragma once

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/unique_handle.h"

inline constexpr const wchar_t* clientExecutableName = L"NorvantaWin.exe";

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
