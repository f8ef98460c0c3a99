#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "test_server.h"

// One end-to-end case of the downloader: the test update server on the
// compiled-in port, a client folder, a published installer, and what the run
// left behind (events, the fixtures' records, work folders).
class DownloaderScenario {
 public:
  explicit DownloaderScenario(const std::string& name);
  ~DownloaderScenario();

  testserver::TestServer& server() { return server_; }

  // Puts a client fixture at the client location (or removes it when empty).
  void installClient(const std::filesystem::path& fixture);
  std::filesystem::path clientFolder() const;
  std::filesystem::path clientPath() const;

  // Serves a manifest for the installer file (its real size and SHA-256) and
  // the installer itself. Members of overrides replace or add members; a null
  // member removes it.
  void publish(const std::filesystem::path& installer, const std::string& version,
               const nlohmann::json& overrides = nlohmann::json::object());
  // Serves the given manifest text as is.
  void serveManifest(const testserver::Response& response);
  nlohmann::json manifestFor(const std::filesystem::path& installer,
                             const std::string& version) const;

  // Environment for the downloader: the fixtures' record files and the
  // installer's exit code and client to place.
  std::vector<std::wstring> environment(DWORD installerExitCode = 0,
                                        const std::filesystem::path& clientToPlace = {}) const;

  std::vector<nlohmann::json> events() const;
  std::vector<std::string> eventNames() const;
  std::vector<nlohmann::json> installerRecords() const;
  std::vector<nlohmann::json> clientRecords() const;
  std::filesystem::path installerRecordFile() const { return folder_ / L"installer.jsonl"; }
  std::filesystem::path clientRecordFile() const { return folder_ / L"client.jsonl"; }
  std::filesystem::path folder() const { return folder_; }

  // Folders named NorvantaWinDownloader-* in the temporary directory.
  static std::vector<std::filesystem::path> workFolders();

 private:
  std::filesystem::path folder_;
  testserver::TestServer server_;
};

inline constexpr const char* manifestTarget = "/rss/v2/client/client-updates/norvanta-win";
inline constexpr const char* installerTarget =
    "/rss/v2/client/client-updates/norvanta-win/download";

// The message without the last-error suffix " (N)" that ensure appends.
std::string withoutErrorSuffix(const std::string& message);
