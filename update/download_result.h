#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>

struct DownloadResult {
  std::filesystem::path installerPath;  // empty when the installed client is current
  nlohmann::json manifest;              // the validated update manifest
};
