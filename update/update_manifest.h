#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// Limits and fixed texts of the update manifest.
namespace manifestRule {
inline constexpr const char* product = "NorvantaWin";
inline constexpr const char* downloadPath = "/rss/v2/client/client-updates/norvanta-win/download";
inline constexpr std::int64_t maxSizeBytes = 268435456;  // 256 MiB
}  // namespace manifestRule

// Raises the first rule that the manifest breaks (see update_manifest.cpp);
// JSON-library errors (a non-boolean "available") pass through unchanged.
void validateManifest(const nlohmann::json& manifest);

// The member's text when value is an object holding that member as a
// string; the empty string otherwise. Never throws for a missing member or a
// wrong type.
std::string textField(const nlohmann::json& value, const std::string& name);
