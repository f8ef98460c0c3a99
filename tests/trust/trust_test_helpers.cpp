#include "trust_test_helpers.h"

#include <gtest/gtest.h>

#include <exception>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "trust/file_hash.h"
#include "trust_test_config.h"

namespace fs = std::filesystem;

namespace trusttest {

std::string failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return {};
}

bool isEnsureFailure(const std::string& what, const std::string& message) {
  const std::string prefix = message + " (";
  if (what.size() < prefix.size() + 2 || what.compare(0, prefix.size(), prefix) != 0 ||
      what.back() != ')') {
    return false;
  }
  const std::string digits = what.substr(prefix.size(), what.size() - prefix.size() - 1);
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

DWORD ensureCode(const std::string& what) {
  const size_t open = what.rfind(" (");
  if (open == std::string::npos || what.empty() || what.back() != ')') {
    return 0xFFFFFFFF;
  }
  return static_cast<DWORD>(std::stoul(what.substr(open + 2, what.size() - open - 3)));
}

nlohmann::json manifestFor(const fs::path& file, const std::string& version) {
  const std::string bytes = testsupport::readFile(file);
  return nlohmann::json{{"available", true},
                        {"product", "NorvantaWin"},
                        {"latestVersion", version},
                        {"sha256", sha256File(file)},
                        {"sizeBytes", static_cast<std::int64_t>(bytes.size())},
                        {"downloadPath", "/rss/v2/client/client-updates/norvanta-win/download"}};
}

fs::path copyFixture(const wchar_t* fixture, const fs::path& folder, const std::wstring& name) {
  fs::create_directories(folder);
  const fs::path target = folder / name;
  // CopyFileW, because this runtime's copy_file does not overwrite.
  EXPECT_TRUE(CopyFileW(fixture, target.c_str(), FALSE)) << GetLastError();
  return target;
}

std::vector<nlohmann::json> readRecords(const fs::path& file) {
  std::vector<nlohmann::json> records;
  std::error_code missing;
  if (!fs::exists(file, missing)) {
    return records;
  }
  for (const std::string& line : testsupport::readLines(file)) {
    records.push_back(nlohmann::json::parse(line));
  }
  return records;
}

std::wstring fileProbePath() { return TRUST_FILE_PROBE_PATH; }

DWORD probeFromOtherProcess(const std::string& operation, const fs::path& path) {
  const std::wstring probe = fileProbePath();
  testsupport::ChildProcess child(probe, quoteArgument(probe) + L" " + utf8ToWide(operation) +
                                             L" " + quoteArgument(path.wstring()));
  return child.wait();
}

namespace {

std::wstring hex(DWORD value) {
  std::wostringstream text;
  text << std::hex << value;
  return text.str();
}

}  // namespace

HeldElsewhere::HeldElsewhere(const fs::path& path, DWORD access, DWORD share)
    : ready_(fs::path(path).concat(L".held")),
      process_(fileProbePath(), quoteArgument(fileProbePath()) + L" hold " + hex(access) + L" " +
                                    hex(share) + L" " + quoteArgument(path.wstring()) + L" " +
                                    quoteArgument(ready_.wstring())) {
  holding_ = testsupport::waitUntil([&] { return fs::exists(ready_); });
  std::error_code ignored;
  fs::remove(ready_, ignored);
}

void runUnixCommand(const std::wstring& commandLine) {
  testsupport::ChildProcess child(L"", commandLine);
  child.wait();
}

}  // namespace trusttest
