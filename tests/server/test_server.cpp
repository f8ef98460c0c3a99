#include "test_server.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "common/text.h"
#include "common/unique_handle.h"
#include "test_support.h"

namespace testserver {

namespace fs = std::filesystem;

namespace {

constexpr const wchar_t* python = L"Z:\\usr\\bin\\python3";
constexpr auto startDeadline = std::chrono::seconds(30);
constexpr auto stopDeadline = std::chrono::seconds(15);
constexpr unsigned patternPeriod = 251;

std::string base64(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) {
      v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

const char* modeName(Mode mode) {
  switch (mode) {
    case Mode::http:
      return "http";
    case Mode::tlsOld:
      return "tls-old";
    case Mode::https:
      break;
  }
  return "https";
}

std::wstring quoted(const std::string& utf8) { return quoteArgument(utf8ToWide(utf8)); }

// Complete lines only: the server may be appending the last one right now.
std::vector<nlohmann::json> readRecords(const fs::path& path) {
  std::vector<nlohmann::json> records;
  const std::string text = testsupport::readFile(path);
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    records.push_back(nlohmann::json::parse(text.begin() + static_cast<std::ptrdiff_t>(start),
                                            text.begin() + static_cast<std::ptrdiff_t>(end)));
    start = end + 1;
  }
  return records;
}

std::string stringOr(const nlohmann::json& record, const char* name) {
  const auto member = record.find(name);
  return member != record.end() && member->is_string() ? member->get<std::string>() : "";
}

fs::path uniqueControlFolder() {
  static std::atomic<unsigned> counter{0};
  return testsupport::freshTestFolder("server-" + std::to_string(GetCurrentProcessId()) + "-" +
                                      std::to_string(counter++));
}

}  // namespace

std::string generatedBody(std::uint64_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i % patternPeriod);
  }
  return bytes;
}

TestServer::~TestServer() {
  try {
    stop();
  } catch (const std::exception&) {
    // The server stops by itself at the end of its lifetime.
  }
}

void TestServer::start(Mode mode, unsigned short port, int lifetimeSeconds) {
  if (running_) {
    throw std::runtime_error("test server already started");
  }
  mode_ = mode;
  control_ = uniqueControlFolder();
  routes_.clear();
  writeScenario();

  const std::string pki = testsupport::unixPath(testsupport::pkiDir());
  std::wstring commandLine =
      std::wstring(python) + L" " +
      quoted(std::string(NORVANTA_TEST_UNIX_SOURCE_DIR) + "/tests/server/update_server.py") +
      L" --control " + quoted(testsupport::unixPath(control_)) + L" --mode " +
      utf8ToWide(modeName(mode)) + L" --port " + std::to_wstring(port) + L" --lifetime " +
      std::to_wstring(lifetimeSeconds);
  if (mode != Mode::http) {
    commandLine += L" --cert " + quoted(pki + "/server-bundle.pem");
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    throw std::runtime_error("cannot start the test server: " + std::to_string(GetLastError()));
  }
  // Only the files in the control folder tell how a Linux process is doing.
  UniqueHandleKernel process(info.hProcess);
  UniqueHandleKernel thread(info.hThread);

  const fs::path ready = control_ / L"ready";
  const fs::path error = control_ / L"error";
  const bool answered =
      testsupport::waitUntil([&] { return fs::exists(ready) || fs::exists(error); }, startDeadline);
  if (fs::exists(error)) {
    throw std::runtime_error("test server failed: " + testsupport::readFile(error));
  }
  if (!answered) {
    throw std::runtime_error("test server did not start; see " +
                             testsupport::unixPath(control_ / L"server.log"));
  }
  port_ = static_cast<unsigned short>(std::stoul(testsupport::readFile(ready)));
  running_ = true;
}

void TestServer::stop() {
  if (!running_) {
    return;
  }
  running_ = false;
  testsupport::writeFile(control_ / L"stop", "");
  const fs::path stopped = control_ / L"stopped";
  if (!testsupport::waitUntil([&] { return fs::exists(stopped); }, stopDeadline)) {
    throw std::runtime_error("test server did not stop");
  }
}

std::wstring TestServer::origin() const {
  return std::wstring(mode_ == Mode::http ? L"http" : L"https") + L"://localhost:" +
         std::to_wstring(port_);
}

void TestServer::setRoute(const std::string& path, const Response& response) {
  for (auto& route : routes_) {
    if (route.first == path) {
      route.second = response;
      writeScenario();
      return;
    }
  }
  routes_.emplace_back(path, response);
  writeScenario();
}

void TestServer::clearRoutes() {
  routes_.clear();
  writeScenario();
}

void TestServer::writeScenario() const {
  nlohmann::json routes = nlohmann::json::object();
  for (const auto& [path, response] : routes_) {
    nlohmann::json route = {{"status", response.status}};
    if (!response.location.empty()) {
      route["location"] = response.location;
    }
    if (!response.bodyFile.empty()) {
      route["file"] = testsupport::unixPath(response.bodyFile);
    } else if (response.bodySize >= 0) {
      route["size"] = response.bodySize;
    } else {
      route["base64"] = base64(response.body);
    }
    if (response.chunkDelayMs > 0) {
      route["chunkDelayMs"] = response.chunkDelayMs;
    }
    if (response.chunkBytes > 0) {
      route["chunkBytes"] = response.chunkBytes;
    }
    if (response.closeAfterBytes >= 0) {
      route["closeAfterBytes"] = response.closeAfterBytes;
    }
    if (response.omitContentLength) {
      route["omitContentLength"] = true;
    }
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : response.headers) {
      headers[name] = value;
    }
    route["headers"] = headers;
    routes[path] = route;
  }
  const nlohmann::json scenario = {{"routes", routes}};
  // Replaced in one step, so the server never reads a half-written scenario.
  const fs::path target = control_ / L"scenario.json";
  const fs::path temporary = control_ / L"scenario.json.new";
  testsupport::writeFile(temporary, scenario.dump());
  if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw std::runtime_error("cannot write the test server's scenario: " +
                             std::to_string(GetLastError()));
  }
}

std::vector<Request> TestServer::requests() const {
  std::vector<Request> result;
  for (const nlohmann::json& record : readRecords(control_ / L"requests.jsonl")) {
    Request request;
    request.verb = stringOr(record, "verb");
    request.target = stringOr(record, "target");
    request.userAgent = stringOr(record, "userAgent");
    for (const nlohmann::json& header : record.value("headers", nlohmann::json::array())) {
      request.headers.emplace_back(header.at(0).get<std::string>(),
                                   header.at(1).get<std::string>());
    }
    result.push_back(std::move(request));
  }
  return result;
}

std::vector<Connection> TestServer::connections() const {
  std::vector<Connection> result;
  for (const nlohmann::json& record : readRecords(control_ / L"connections.jsonl")) {
    result.push_back({stringOr(record, "tls"), stringOr(record, "error")});
  }
  return result;
}

}  // namespace testserver
