#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>

// Proves that the file is the installer the manifest announces: manifest
// rules, size, SHA-256, publisher signature, product and version strings, in
// that order; raises the first failure.
void verifyInstaller(const nlohmann::json& manifest, const std::filesystem::path& path);
