#include "scenario.h"

#include <gtest/gtest.h>

#include "log/log_folder.h"
#include "test_support.h"
#include "trust/file_hash.h"
#include "trust/installed_client.h"

namespace fs = std::filesystem;

namespace {

std::vector<nlohmann::json> jsonLines(const fs::path& file) {
  std::vector<nlohmann::json> records;
  for (const std::string& line : testsupport::readLines(file)) {
    records.push_back(nlohmann::json::parse(line));
  }
  return records;
}

}  // namespace

namespace {

// What a run leaves in the per-user and temporary folders: the client, the
// work folders and the event log. A scenario starts without them and removes
// them when it ends, whether its test passed or not.
void removeRunLeftovers(const fs::path& client) {
  std::error_code ignored;
  fs::remove(client, ignored);
  for (const fs::path& work : DownloaderScenario::workFolders()) fs::remove_all(work, ignored);
  const fs::path log = logFolder();
  fs::remove(log / L"client.jsonl", ignored);
  fs::remove(log / L"client.previous.jsonl", ignored);
}

}  // namespace

DownloaderScenario::DownloaderScenario(const std::string& name)
    : folder_(testsupport::freshTestFolder("scenario-" + name)) {
  removeRunLeftovers(clientPath());
  server_.start(testserver::Mode::https, NORVANTA_TEST_SERVER_PORT);
}

DownloaderScenario::~DownloaderScenario() { removeRunLeftovers(clientPath()); }

fs::path DownloaderScenario::clientFolder() const { return installDirectory(); }
fs::path DownloaderScenario::clientPath() const { return clientFolder() / clientExecutableName; }

void DownloaderScenario::installClient(const fs::path& fixture) {
  std::error_code ignored;
  fs::remove(clientPath(), ignored);
  if (!fixture.empty()) {
    fs::create_directories(clientFolder());
    fs::copy_file(fixture, clientPath());
  }
}

nlohmann::json DownloaderScenario::manifestFor(const fs::path& installer,
                                               const std::string& version) const {
  return {{"available", true},
          {"product", "NorvantaWin"},
          {"latestVersion", version},
          {"sha256", sha256File(installer)},
          {"sizeBytes", fs::file_size(installer)},
          {"downloadPath", installerTarget}};
}

void DownloaderScenario::publish(const fs::path& installer, const std::string& version,
                                 const nlohmann::json& overrides) {
  nlohmann::json manifest = manifestFor(installer, version);
  for (const auto& [key, value] : overrides.items()) {
    if (value.is_null()) {
      manifest.erase(key);
    } else {
      manifest[key] = value;
    }
  }
  testserver::Response answer;
  answer.body = manifest.dump();
  server_.setRoute(manifestTarget, answer);
  testserver::Response download;
  download.bodyFile = installer;
  server_.setRoute(installerTarget, download);
}

void DownloaderScenario::serveManifest(const testserver::Response& response) {
  server_.setRoute(manifestTarget, response);
}

std::vector<std::wstring> DownloaderScenario::environment(DWORD installerExitCode,
                                                          const fs::path& clientToPlace) const {
  std::vector<std::wstring> entries = {
      L"NORVANTA_FIXTURE_INSTALLER_RECORD=" + installerRecordFile().wstring(),
      L"NORVANTA_FIXTURE_CLIENT_RECORD=" + clientRecordFile().wstring(),
      L"NORVANTA_FIXTURE_INSTALLER_EXIT_CODE=" + std::to_wstring(installerExitCode),
      L"NORVANTA_FIXTURE_INSTALLER_CLIENT_SOURCE=" + clientToPlace.wstring(),
  };
  return entries;
}

std::vector<nlohmann::json> DownloaderScenario::events() const {
  return jsonLines(logFolder() / L"client.jsonl");
}

std::vector<std::string> DownloaderScenario::eventNames() const {
  std::vector<std::string> names;
  for (const nlohmann::json& record : events()) {
    names.push_back(record.value("event", std::string("?")));
  }
  return names;
}

std::vector<nlohmann::json> DownloaderScenario::installerRecords() const {
  return jsonLines(installerRecordFile());
}

std::vector<nlohmann::json> DownloaderScenario::clientRecords() const {
  return jsonLines(clientRecordFile());
}

std::vector<fs::path> DownloaderScenario::workFolders() {
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::temp_directory_path())) {
    if (entry.path().filename().wstring().rfind(L"NorvantaWinDownloader-", 0) == 0) {
      found.push_back(entry.path());
    }
  }
  return found;
}

std::string withoutErrorSuffix(const std::string& message) {
  const size_t open = message.rfind(" (");
  if (open != std::string::npos && !message.empty() && message.back() == ')') {
    return message.substr(0, open);
  }
  return message;
}
