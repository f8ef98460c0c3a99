#include "log/log_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "log_test_support.h"

namespace {

namespace fs = std::filesystem;
using logtest::eventsIn;
using logtest::fallbackFolder;
using logtest::preferredFolder;
using testsupport::readFile;
using testsupport::writeFile;

std::wstring probeName() { return L".access-" + std::to_wstring(GetCurrentProcessId()); }

bool holdsProbe(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().wstring().rfind(L".access-", 0) == 0) {
      return true;
    }
  }
  return false;
}

class LogFolder : public ::testing::Test {
 protected:
  void SetUp() override { logtest::resetLogFolders(); }
  void TearDown() override { logtest::resetLogFolders(); }
};

TEST_F(LogFolder, PreferredFolderIsMadeOrTakenAndLeftWithoutProbe) {
  struct Case {
    const char* what;
    std::function<void()> prepare;
  };
  const fs::path shared = preferredFolder().parent_path().parent_path();
  const std::vector<Case> cases = {
      {"no shared parents", [&] { logtest::removeEntry(shared); }},
      {"parents only", [] { fs::create_directories(preferredFolder().parent_path()); }},
      {"folder present",
       [] { writeFile(preferredFolder() / L"client.jsonl", "{\"event\":\"earlier\"}\n"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::resetLogFolders();
    c.prepare();

    EXPECT_EQ(resolveLogFolder(), preferredFolder());
    EXPECT_TRUE(fs::is_directory(preferredFolder()));
    EXPECT_FALSE(logtest::isReparsePoint(preferredFolder()));
    EXPECT_FALSE(holdsProbe(preferredFolder()));
    EXPECT_FALSE(fs::exists(fallbackFolder()));
  }
  // The earlier content of a present folder is kept.
  EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), std::vector<std::string>{"earlier"});
}

TEST_F(LogFolder, UnusablePreferredFolderSendsTheLogToLocalAppData) {
  const fs::path target = testsupport::freshTestFolder("log-folder-link-target");
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::function<void()> check;
  };
  const std::vector<Case> cases = {
      {"junction",
       [&] {
         fs::create_directories(preferredFolder().parent_path());
         logtest::plantLink(preferredFolder(), target);
       },
       [&] { EXPECT_TRUE(fs::is_empty(target)) << "something was written through the link"; }},
      {"plain file", [] { writeFile(preferredFolder(), "not a folder"); },
       [] { EXPECT_EQ(readFile(preferredFolder()), "not a folder"); }},
      {"probe name taken", [] { writeFile(preferredFolder() / probeName(), "someone's"); },
       [] { EXPECT_EQ(readFile(preferredFolder() / probeName()), "someone's"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::resetLogFolders();
    c.prepare();

    EXPECT_EQ(resolveLogFolder(), fallbackFolder());
    EXPECT_TRUE(fs::is_directory(fallbackFolder()));
    c.check();
  }
}

TEST_F(LogFolder, FailureOfBothPlacesLeavesResolution) {
  writeFile(preferredFolder(), "not a folder");
  writeFile(fallbackFolder(), "not a folder either");

  EXPECT_THROW(resolveLogFolder(), fs::filesystem_error);
}

TEST_F(LogFolder, ProcessRetriesAfterFailedResolutionAndKeepsTheFirstSuccess) {
  writeFile(preferredFolder(), "not a folder");
  writeFile(fallbackFolder(), "not a folder either");
  logtest::EventWriter writer("log-folder-retry", {L"lost", L"kept", L"cached"});

  writer.writeNext();
  EXPECT_EQ(readFile(preferredFolder()), "not a folder");
  EXPECT_EQ(readFile(fallbackFolder()), "not a folder either");

  logtest::removeEntry(preferredFolder());
  logtest::removeEntry(fallbackFolder());
  writer.writeNext();
  EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), std::vector<std::string>{"kept"});

  // Were the process to resolve again, a probe name that is taken would send
  // the log to the fallback folder.
  const DWORD pid =
      logtest::readRecords(preferredFolder() / L"client.jsonl").at(0).at("pid").get<DWORD>();
  writeFile(preferredFolder() / (L".access-" + std::to_wstring(pid)), "");
  writer.writeNext();
  EXPECT_EQ(writer.finish(), 0u);
  EXPECT_EQ(eventsIn(preferredFolder() / L"client.jsonl"),
            (std::vector<std::string>{"kept", "cached"}));
  EXPECT_FALSE(fs::exists(fallbackFolder() / L"client.jsonl"));
}

TEST_F(LogFolder, FolderIsResolvedOncePerProcess) {
  const fs::path target = testsupport::freshTestFolder("log-folder-once-target");
  struct Case {
    const char* what;
    std::function<void()> change;
    fs::path secondLog;
  };
  const std::vector<Case> cases = {
      {"folder removed", [] { logtest::removeEntry(preferredFolder()); },
       preferredFolder() / L"client.jsonl"},
      {"folder replaced by a junction",
       [&] {
         logtest::removeEntry(preferredFolder());
         logtest::plantLink(preferredFolder(), target);
       },
       target / L"client.jsonl"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    logtest::resetLogFolders();
    logtest::EventWriter writer("log-folder-once", {L"first", L"second"});
    writer.writeNext();
    ASSERT_EQ(eventsIn(preferredFolder() / L"client.jsonl"), std::vector<std::string>{"first"});

    c.change();
    writer.writeNext();
    EXPECT_EQ(writer.finish(), 0u);
    EXPECT_EQ(eventsIn(c.secondLog), std::vector<std::string>{"second"});
    EXPECT_FALSE(fs::exists(fallbackFolder() / L"client.jsonl"));
    logtest::removeEntry(c.secondLog);
  }
}

TEST_F(LogFolder, LaterProcessUsesTheFolderAnEarlierOneMade) {
  logtest::EventWriter earlier("log-folder-earlier", {L"downloader_started"});
  earlier.writeNext();
  EXPECT_EQ(earlier.finish(), 0u);
  logtest::EventWriter later("log-folder-later", {L"downloader_started"});
  later.writeNext();
  EXPECT_EQ(later.finish(), 0u);

  const std::vector<nlohmann::json> records =
      logtest::readRecords(preferredFolder() / L"client.jsonl");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].at("pid"), records[1].at("pid"));
  EXPECT_FALSE(holdsProbe(preferredFolder()));
  EXPECT_FALSE(fs::exists(fallbackFolder()));
}

}  // namespace
